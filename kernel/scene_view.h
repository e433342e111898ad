// What the trace reads of the scene: the sphere store (as texels), the
// material table and the light, and the spheres as the trace takes them
// from the store.
#pragma once

#include <cstdint>

#include "common/host_device.h"
#include "lanes/lanes.h"
#include "scene/records.h"

// What the trace reads: the sphere store (as texels), the number of spheres
// the last upload wrote, the material table and the position of light 0.  On the GPU the spheres come through a texture
// object; on the CPU, and in tests, through a plain array of texels.
struct SceneView {
#if VELMORA_CUDA_BUILD
  cudaTextureObject_t sphere_texture;
#else
  const SphereTexel* sphere_texels;
#endif
  int sphere_texel_count;
  int sphere_count;  // spheres 0 to sphere_count - 1 are traced
  const Material* materials;
  Vec4 light_position;
};

// Texel i, with the index clamped to the store as the texture clamps it.
VELMORA_HOST_DEVICE SphereTexel fetch_texel(const SceneView& scene, int i) {
  i = i < 0 ? 0 : (i >= scene.sphere_texel_count ? scene.sphere_texel_count - 1 : i);
#if VELMORA_DEVICE_CODE
  const uint4 t = tex1Dfetch<uint4>(scene.sphere_texture, i);
  return SphereTexel{t.x, t.y, t.z, t.w};
#elif VELMORA_CUDA_BUILD
  (void)scene;
  return SphereTexel{0, 0, 0, 0};  // the host pass of a CUDA build never traces
#else
  return scene.sphere_texels[i];
#endif
}

// The number of spheres the trace tests: the uploaded count, kept within
// the store (a count the host layer never writes is still no reason to read
// past it).
VELMORA_HOST_DEVICE int traced_sphere_count(const SceneView& scene) {
  return scene.sphere_count < 0 ? 0 : (scene.sphere_count > kMaxSpheres ? kMaxSpheres : scene.sphere_count);
}

// One sphere as the trace reads it: centre, radius squared, material byte.
struct SphereData {
  Vec4 center;
  float radius_sq;
  std::uint8_t material;
};

VELMORA_HOST_DEVICE SphereData fetch_sphere(const SceneView& scene, int i) {
  const SphereTexel a = fetch_texel(scene, 2 * i);
  const SphereTexel b = fetch_texel(scene, 2 * i + 1);
  SphereData s;
  s.center = Vec4(lanes::float_from_bits(a.x), lanes::float_from_bits(a.y),
                  lanes::float_from_bits(a.z));
  s.radius_sq = lanes::float_from_bits(b.y);
  s.material = static_cast<std::uint8_t>(b.z & 0xffu);
  return s;
}

