#include "scene/scene.h"

#include <cstdio>
#include <cstdlib>

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
