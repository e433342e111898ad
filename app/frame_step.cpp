#include "app/frame_step.h"

#include <algorithm>
#include <cstdlib>

#include "frame/make_frame.h"
#include "rtlib/rtlib.h"
#include "scene/animation.h"
#include "scene/scene.h"

void init_scene() {
  pixel_buffer = allocate_pixel_buffer(
      static_cast<std::size_t>(kFrameWidth) * kFrameHeight * sizeof(unsigned int), std::malloc);
  gpu_init(kFrameWidth, kFrameHeight);

  // The materials live on only in the kernel's store.
  const SceneRecords scene = initial_scene();
  std::ranges::copy(scene.spheres, spheres);
  std::ranges::copy(scene.lights, lights);
  upload_scene(spheres, lights, scene.materials);
}

void run_frame(FrameRateWindow& rate_window, const FrameWindow& window) {
  animate_scene();
  make_frame(FrameScene{spheres, lights, {}}, pixel_buffer, FrameReport::console_line);
  window.show(pixel_buffer);

  if (const auto rate = count_frame(rate_window, window.elapsed_ms)) {
    fps = rate->fps;
    window.set_title(rate->title.data());
  }
}
