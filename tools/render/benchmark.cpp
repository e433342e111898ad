#include "tools/render/benchmark.h"

#include <algorithm>
#include <chrono>

#include "runtime/backend_controls.h"
#include "scene/animation.h"

namespace render_tool {
namespace {

// The frames of one configuration, gathered over its turns.
struct Samples {
  Animation animation;
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

double steady_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double warmup_seconds(double seconds) { return std::clamp(seconds / 5.0, 0.05, 1.0); }

std::vector<BenchResult> measure_in_turns(FrameRenderer& renderer, const BenchPlan& plan, int configurations,
                                          const std::function<void(int)>& switch_to) {
  // A configuration may change the frame size: the buffer follows it.
  std::vector<std::uint32_t> pixels;
  std::vector<Samples> samples(static_cast<std::size_t>(configurations));
  const auto next_frame = [&](Samples& s) {
    pixels.resize(renderer.size().pixel_count());
    return renderer.render(plan.scene->at_clock(s.animation.step(plan.rate)), pixels);
  };

  const double warmup_each = plan.warmup_seconds / configurations;
  for (int i = 0; i < configurations; ++i) {
    switch_to(i);
    Samples& s = samples[static_cast<std::size_t>(i)];
    const double start = plan.now_s();
    while (s.warmup_frames < kWarmupFrames || (plan.now_s() - start) < warmup_each) {
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
      const double start = plan.now_s();
      do {
        s.timings.push_back(next_frame(s));
      } while ((plan.now_s() - start) < turn_s && !s.has_enough(plan, (plan.now_s() - start)));
      s.timed_s += (plan.now_s() - start);
    }
  }

  std::vector<BenchResult> results;
  for (const Samples& s : samples) results.push_back(summary(s));
  return results;
}

std::vector<CompareConfig> standard_comparison(int all_threads) {
  std::vector<CompareConfig> configs;
  for (const KernelChoice& k : backend_kernels()) {
    configs.push_back({k.name, 1});
    configs.push_back({k.name, all_threads});
  }
  return configs;
}

std::vector<CompareRow> measure_comparison(FrameRenderer& renderer, const BenchPlan& plan,
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
