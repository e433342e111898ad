// A scene held in host arrays, laid out as the kernel's stores are, and the
// scalar trace of a whole frame over it: what every back-end's frame must
// equal word for word (the independent check is reference/), and what the
// tools and the tests use to trace without a device.
#pragma once

#include <cstdint>
#include <cstring>

#include "kernel/trace.h"
#include "scene/initial_scene_data.h"
#include "scene/records.h"

struct HostScene {
  SphereTexel texels[kSphereBufferBytes / sizeof(SphereTexel)] = {};
  Material materials[kMaxMaterials];
  Vec4 light_position;

  HostScene() = default;

  // The stores as the uploads of `scene` leave them.
  explicit HostScene(const SceneRecords& scene) : light_position(scene.lights[0].position) {
    set_spheres(scene.spheres, record_count(scene.spheres));
    set_materials(scene.materials, record_count(scene.materials));
  }

  // Copies records as the uploads copy them: byte for byte from record 0.
  void set_spheres(const Sphere* records, int count) {
    std::memcpy(texels, records, static_cast<std::size_t>(count) * sizeof(Sphere));
  }
  void set_materials(const Material* records, int count) {
    std::memcpy(static_cast<void*>(materials), records,
                static_cast<std::size_t>(count) * sizeof(Material));
  }

  SceneView view() const {
    return SceneView{texels, static_cast<int>(sizeof(texels) / sizeof(texels[0])), materials,
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
