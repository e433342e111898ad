#include "scene/scene.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "gpu/rtlib.h"

__attribute__((init_priority(kSceneStorageInitPriority))) Sphere spheres[kInitialSphereCount];
__attribute__((init_priority(kSceneStorageInitPriority))) PointLight lights[kInitialLightCount];

unsigned int* pixel_buffer = nullptr;

unsigned int* allocate_pixel_buffer(std::size_t bytes, void* (*allocate)(std::size_t)) {
  void* block = allocate(bytes);
  if (block == nullptr) {
    std::fprintf(stderr, "Cannot allocate the %zu-byte frame buffer.\n", bytes);
    std::exit(1);
  }
  return static_cast<unsigned int*>(block);
}

void init_scene() {
  pixel_buffer = allocate_pixel_buffer(
      static_cast<std::size_t>(kFrameWidth) * kFrameHeight * sizeof(unsigned int), std::malloc);
  gpu_init(kFrameWidth, kFrameHeight);

  // The materials live on only in the kernel's store.
  const SceneRecords scene = initial_scene();
  std::ranges::copy(scene.spheres, spheres);
  upload_materials(scene.materials, record_count(scene.materials));
  std::ranges::copy(scene.lights, lights);
  upload_lights(lights, record_count(lights));
}
