#include "tools/render/benchmark.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "scene/animation.h"

namespace render_tool {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

double warmup_seconds(double seconds) { return std::clamp(seconds / 5.0, 0.05, 1.0); }

BenchResult run_benchmark(FrameRenderer& renderer, const BenchPlan& plan) {
  std::vector<std::uint32_t> pixels(kFramePixels);
  float clock = kStartClock;
  const auto next_frame = [&] {
    clock = advance_clock(clock, kAnimationSpeed, plan.rate);
    return renderer.render(scene_at_clock(clock), pixels);
  };

  BenchResult result;
  const Clock::time_point warmup_start = Clock::now();
  while (result.warmup_frames < kWarmupFrames || seconds_since(warmup_start) < plan.warmup_seconds) {
    next_frame();
    ++result.warmup_frames;
  }

  std::vector<double> frame, upload, kernel, readback;
  const Clock::time_point start = Clock::now();
  while (static_cast<int>(frame.size()) < kMinTimedFrames || seconds_since(start) < plan.seconds) {
    const FrameTiming t = next_frame();
    frame.push_back(t.frame_ms());
    upload.push_back(t.upload_ms);
    kernel.push_back(t.kernel_ms);
    readback.push_back(t.readback_ms);
  }
  result.elapsed_s = seconds_since(start);

  result.frames = static_cast<int>(frame.size());
  result.fps = result.elapsed_s > 0.0 ? result.frames / result.elapsed_s : 0.0;
  result.frame_ms = spread_of(frame);
  result.upload_ms = spread_of(upload);
  result.kernel_ms = spread_of(kernel);
  result.readback_ms = spread_of(readback);
  return result;
}

}  // namespace render_tool
