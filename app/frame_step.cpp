#include "app/frame_step.h"

#include "gpu/rtlib.h"
#include "scene/animation.h"
#include "scene/scene.h"

void run_frame(FrameRateWindow& rate_window, const FrameWindow& window) {
  animate_scene();
  upload_spheres(spheres, record_count(spheres));
  upload_lights(lights, record_count(lights));
  render_frame(pixel_buffer);
  window.show(pixel_buffer);

  if (const auto rate = count_frame(rate_window, window.elapsed_ms)) {
    fps = rate->fps;
    window.set_title(rate->title.data());
  }
}
