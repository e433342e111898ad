#include "tools/render/benchmark.h"

#include <algorithm>
#include <chrono>

#include "scene/animation.h"

namespace render_tool {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The frames of one configuration, gathered over its turns.
struct Samples {
  float clock = kStartClock;
  int warmup_frames = 0;
  double timed_s = 0.0;
  std::vector<FrameTiming> timings;

  bool has_enough(const BenchPlan& plan, double turn_s) const {
    return timed_s + turn_s >= plan.seconds && timings.size() >= static_cast<std::size_t>(kMinTimedFrames);
  }
};

BenchResult summary(const Samples& s) {
  std::vector<double> frame, upload, kernel, readback;
  for (const FrameTiming& t : s.timings) {
    frame.push_back(t.frame_ms());
    upload.push_back(t.upload_ms);
    kernel.push_back(t.kernel_ms);
    readback.push_back(t.readback_ms);
  }
  BenchResult r;
  r.warmup_frames = s.warmup_frames;
  r.frames = static_cast<int>(s.timings.size());
  r.elapsed_s = s.timed_s;
  r.fps = s.timed_s > 0.0 ? r.frames / s.timed_s : 0.0;
  r.frame_ms = spread_of(frame);
  r.upload_ms = spread_of(upload);
  r.kernel_ms = spread_of(kernel);
  r.readback_ms = spread_of(readback);
  return r;
}

}  // namespace

double warmup_seconds(double seconds) { return std::clamp(seconds / 5.0, 0.05, 1.0); }

std::vector<BenchResult> measure_in_turns(FrameRenderer& renderer, const BenchPlan& plan, int configurations,
                                          const std::function<void(int)>& switch_to) {
  // A configuration may change the frame size: the buffer follows it.
  std::vector<std::uint32_t> pixels;
  std::vector<Samples> samples(static_cast<std::size_t>(configurations));
  const auto next_frame = [&](Samples& s) {
    s.clock = advance_clock(s.clock, kAnimationSpeed, plan.rate);
    pixels.resize(renderer.size().pixel_count());
    return renderer.render(scene_at_clock(s.clock), pixels);
  };

  const double warmup_each = plan.warmup_seconds / configurations;
  for (int i = 0; i < configurations; ++i) {
    switch_to(i);
    Samples& s = samples[static_cast<std::size_t>(i)];
    const Clock::time_point start = Clock::now();
    while (s.warmup_frames < kWarmupFrames || seconds_since(start) < warmup_each) {
      next_frame(s);
      ++s.warmup_frames;
    }
  }

  // A turn ends when its time is up or its configuration has all it needs.
  const double turn_s = std::max(plan.seconds / 10.0, 0.02);
  for (bool more = true; more;) {
    more = false;
    for (int i = 0; i < configurations; ++i) {
      Samples& s = samples[static_cast<std::size_t>(i)];
      if (s.has_enough(plan, 0.0)) continue;
      more = true;
      if (configurations > 1) {
        // The first frame after a switch pays for it (threads started, fresh
        // buffers touched): it is rendered but not timed.
        switch_to(i);
        next_frame(s);
        ++s.warmup_frames;
      }
      const Clock::time_point start = Clock::now();
      do {
        s.timings.push_back(next_frame(s));
      } while (seconds_since(start) < turn_s && !s.has_enough(plan, seconds_since(start)));
      s.timed_s += seconds_since(start);
    }
  }

  std::vector<BenchResult> results;
  for (const Samples& s : samples) results.push_back(summary(s));
  return results;
}

BenchResult run_benchmark(FrameRenderer& renderer, const BenchPlan& plan) {
  return measure_in_turns(renderer, plan, 1, [](int) {}).front();
}

std::vector<CompareConfig> standard_comparison(int all_threads) {
  return {{"scalar", 1},         {"scalar", all_threads}, {"simd", 1},
          {"simd", all_threads}, {"stages", 1},           {"stages", all_threads}};
}

std::vector<CompareRow> run_comparison(FrameRenderer& renderer, const BenchPlan& plan,
                                       const std::vector<CompareConfig>& configs,
                                       const std::function<void(const CompareConfig&)>& apply,
                                       const std::function<int()>& current_lanes) {
  std::vector<CompareRow> rows;
  for (const CompareConfig& c : configs) rows.push_back({c, 1, {}});
  const std::vector<BenchResult> results =
      measure_in_turns(renderer, plan, static_cast<int>(configs.size()), [&](int i) {
        apply(configs[static_cast<std::size_t>(i)]);
        rows[static_cast<std::size_t>(i)].lanes = current_lanes();
      });
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i].result = results[i];
  return rows;
}

}  // namespace render_tool
