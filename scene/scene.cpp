#include "scene/scene.h"

#include <cstdio>
#include <cstdlib>

#include "gpu/rtlib.h"
#include "scene/initial_scene_data.h"

__attribute__((init_priority(kSceneStorageInitPriority))) Sphere spheres[4];
__attribute__((init_priority(kSceneStorageInitPriority))) PointLight lights[2];

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

  write_initial_spheres(spheres);

  // The materials live on only in the kernel's store.
  Material material_table[kInitialMaterialCount];
  write_initial_materials(material_table);
  upload_materials(material_table, kInitialMaterialCount);

  lights[0].position = initial_light_position();
  upload_lights(lights, kInitialLightCount);
}
