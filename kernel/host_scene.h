// A scene held in host arrays, laid out as the kernel's stores are, and the
// scalar trace of a whole frame over it: what every back-end's frame must
// equal word for word (the independent check is reference/), and what the
// tools and the tests use to trace without a device.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernel/trace.h"
#include "scene/initial_scene_data.h"
#include "scene/scene_content.h"
#include "scene/records.h"

struct HostScene {
  SphereTexel texels[kSphereBufferBytes / sizeof(SphereTexel)] = {};
  Material materials[kMaxMaterials];
  int sphere_count = 0;
  Vec4 light_position;

  HostScene() = default;

  // The stores as the uploads of `scene` leave them.
  explicit HostScene(const SceneContent& scene) {
    set_spheres(scene.spheres.data(), static_cast<int>(scene.spheres.size()));
    set_materials(scene.materials.data(), static_cast<int>(scene.materials.size()));
    if (!scene.lights.empty()) light_position = scene.lights[0].position;
  }

  // Copies records as the uploads copy them: byte for byte from record 0,
  // and the spheres' count with them.  A count above the store's capacity
  // is refused as the uploads refuse it (false, nothing copied).
  bool set_spheres(const Sphere* records, int count) {
    if (count < 0 || count > kMaxSpheres) return false;
    std::memcpy(texels, records, static_cast<std::size_t>(count) * sizeof(Sphere));
    sphere_count = count;
    return true;
  }
  bool set_materials(const Material* records, int count) {
    if (count < 0 || count > kMaxMaterials) return false;
    std::memcpy(static_cast<void*>(materials), records,
                static_cast<std::size_t>(count) * sizeof(Material));
    return true;
  }

  SceneView view() const {
    return SceneView{texels, static_cast<int>(sizeof(texels) / sizeof(texels[0])), sphere_count, materials,
                     light_position};
  }
};

// The frame as the kernel writes it: word y * width + x for every pixel,
// row 0 at the bottom of the picture.
inline void trace_frame_scalar(const SceneView& scene, int width, int height,
                               std::uint32_t* pixels) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      pixels[y * width + x] = trace_pixel<float>(scene, x, y, width, height);
    }
  }
}
