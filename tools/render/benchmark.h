// The benchmark: frames of the animation rendered back to back, a warm-up
// first, then timed frames whose times are summarised as percentiles.  One
// harness serves both forms: a single back-end configuration, and several
// measured side by side in turns within one run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tools/render/frame_stats.h"
#include "frame/frame_renderer.h"

namespace render_tool {

// Seconds on the steady clock, from an arbitrary start.
double steady_seconds();

struct BenchPlan {
  double seconds = 5.0;         // timed frames of each configuration
  float rate = 60.0f;           // the animation clock steps by speed / rate per frame
  double warmup_seconds = 1.0;  // the warm-up before them, shared by the configurations
  double (*now_s)() = steady_seconds;  // the clock the frames are timed by
  const AnimatedScene* scene = &built_in_scene();  // whose animation is rendered
};

struct BenchResult {
  int warmup_frames = 0;   // frames not timed: the warm-up, and one after each switch
  int frames = 0;          // timed frames
  double elapsed_s = 0.0;  // wall-clock time of the timed frames
  double fps = 0.0;        // frames / elapsed_s
  Spread frame_ms;         // upload + kernel + read-back
  Spread upload_ms;
  Spread kernel_ms;
  Spread readback_ms;
};

// Each configuration warms up for its share of plan.warmup_seconds and at
// least kWarmupFrames frames, and is timed for plan.seconds and at least
// kMinTimedFrames frames; its animation clock runs on through both.
inline constexpr int kWarmupFrames = 3;
inline constexpr int kMinTimedFrames = 5;

// The warm-up the tool uses: a fifth of the timed run, between 0.05 s and 1 s.
double warmup_seconds(double seconds);

// Measures `configurations` ways of rendering with `renderer`;
// `switch_to(i)` sets the back-end (or the renderer's frame size) up for
// configuration i.  After one warm-up each, they take turns of about
// plan.seconds / 10, round after round, so that a load that comes and goes
// on the machine falls on all of them alike.  Every configuration renders
// the same sequence of clocks.
std::vector<BenchResult> measure_in_turns(FrameRenderer& renderer, const BenchPlan& plan, int configurations,
                                          const std::function<void(int)>& switch_to);

// A back-end configuration of the side-by-side form.
struct CompareConfig {
  std::string kernel;  // a name from backend_kernels()
  int threads = 1;
};

struct CompareRow {
  CompareConfig config;
  int lanes = 1;
  BenchResult result;
};

// The back-end's kernels, each on one thread and on `all_threads`.
std::vector<CompareConfig> standard_comparison(int all_threads);

// measure_in_turns over `configs`: `apply` switches the back-end to one,
// `current_lanes` reads the lanes it then runs with.
std::vector<CompareRow> measure_comparison(FrameRenderer& renderer, const BenchPlan& plan,
                                       const std::vector<CompareConfig>& configs,
                                       const std::function<void(const CompareConfig&)>& apply,
                                       const std::function<int()>& current_lanes);

}  // namespace render_tool
