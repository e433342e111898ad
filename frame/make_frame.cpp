#include "frame/make_frame.h"

#include <chrono>

#include "rtlib/rtlib.h"

FrameTiming make_frame(const FrameScene& scene, std::uint32_t* pixels, FrameReport report) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  upload_scene(scene.spheres, scene.lights, scene.materials);
  FrameTiming timing;
  timing.upload_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

  if (report == FrameReport::console_line) {
    render_frame(pixels);
    return timing;
  }
  LaunchTimes times{};
  render_frame_timed(pixels, &times);
  timing.kernel_ms = times.kernel_ms;
  timing.readback_ms = times.readback_ms;
  return timing;
}
