// Drives the CUDA build of the host layer: sets up the initial scene and
// renders one frame, as the program does at start-up and on its first
// frame.  On a machine without a usable GPU it ends at gpu_init's first
// check, with that check's message and exit code 1.
#include <vector>

#include "gpu/rtlib.h"
#include "scene/initial_scene_data.h"
#include "scene/records.h"

int main() {
  constexpr int kWidth = 640;
  constexpr int kHeight = 480;
  gpu_init(kWidth, kHeight);

  static Sphere spheres[kInitialSphereCount];
  static Material materials[kInitialMaterialCount];
  static PointLight lights[kInitialLightCount];
  write_initial_spheres(spheres);
  write_initial_materials(materials);
  lights[0].position = initial_light_position();
  upload_materials(materials, kInitialMaterialCount);
  upload_spheres(spheres, kInitialSphereCount);
  upload_lights(lights, kInitialLightCount);

  std::vector<unsigned int> pixels(static_cast<std::size_t>(kWidth) * kHeight);
  render_frame(pixels.data());
  gpu_release();
  return 0;
}
