// The benchmark: frames of the animation rendered back to back, a warm-up
// first, then a timed run whose frame times are summarised as percentiles.
#pragma once

#include <string>

#include "tools/render/frame_stats.h"
#include "tools/render/render_scene.h"

namespace render_tool {

struct BenchPlan {
  double seconds = 5.0;         // length of the timed run
  float rate = 60.0f;           // the animation clock steps by speed / rate per frame
  double warmup_seconds = 1.0;  // length of the warm-up before it
};

struct BenchResult {
  int warmup_frames = 0;
  int frames = 0;          // timed frames
  double elapsed_s = 0.0;  // wall-clock time of the timed frames
  double fps = 0.0;        // frames / elapsed_s
  Spread frame_ms;         // upload + kernel + read-back
  Spread upload_ms;
  Spread kernel_ms;
  Spread readback_ms;
};

// The warm-up renders for plan.warmup_seconds and at least kWarmupFrames
// frames, the timed run for plan.seconds and at least kMinTimedFrames frames;
// the animation clock runs on through both.
inline constexpr int kWarmupFrames = 3;
inline constexpr int kMinTimedFrames = 5;

// The warm-up the tool uses: a fifth of the timed run, between 0.05 s and 1 s.
double warmup_seconds(double seconds);

BenchResult run_benchmark(FrameRenderer& renderer, const BenchPlan& plan);

}  // namespace render_tool
