#include "tools/render/compare.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "scene/animation.h"
#include "tools/render/json_writer.h"

namespace render_tool {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Frame times of one configuration, gathered over its turns.
struct Samples {
  std::vector<double> frame, upload, kernel, readback;
  double busy_s = 0.0;
  float clock = kStartClock;
  int warmup_frames = 0;
};

// Renders frames for `seconds` (at least one), continuing the animation
// clock; returns the frames' timings.
std::vector<FrameTiming> turn(FrameRenderer& renderer, Samples& s, float rate, double seconds,
                              std::vector<std::uint32_t>& pixels) {
  std::vector<FrameTiming> timings;
  const Clock::time_point start = Clock::now();
  do {
    s.clock = advance_clock(s.clock, kAnimationSpeed, rate);
    timings.push_back(renderer.render(scene_at_clock(s.clock), pixels));
  } while (seconds_since(start) < seconds);
  s.busy_s += seconds_since(start);
  return timings;
}

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, pattern, args...);
  return buf;
}

}  // namespace

std::vector<CompareConfig> standard_comparison(int all_threads) {
  return {{"scalar", 1},        {"scalar", all_threads}, {"simd", 1},
          {"simd", all_threads}, {"stages", 1},           {"stages", all_threads}};
}

std::vector<CompareRow> run_comparison(FrameRenderer& renderer, const BenchPlan& plan,
                                       const std::vector<CompareConfig>& configs,
                                       const std::function<void(const CompareConfig&)>& apply,
                                       const std::function<int()>& current_lanes) {
  std::vector<std::uint32_t> pixels(kFramePixels);
  std::vector<Samples> samples(configs.size());
  std::vector<int> lanes(configs.size(), 1);
  const double turn_s = std::max(plan.seconds / 10.0, 0.02);

  for (std::size_t i = 0; i < configs.size(); ++i) {
    apply(configs[i]);
    lanes[i] = current_lanes();
    samples[i].warmup_frames = static_cast<int>(
        turn(renderer, samples[i], plan.rate, std::min(turn_s, plan.warmup_seconds), pixels).size());
    samples[i].busy_s = 0.0;
  }
  bool more = true;
  while (more) {
    more = false;
    for (std::size_t i = 0; i < configs.size(); ++i) {
      Samples& s = samples[i];
      if (s.busy_s >= plan.seconds && s.frame.size() >= static_cast<std::size_t>(kMinTimedFrames)) {
        continue;
      }
      more = true;
      apply(configs[i]);
      for (const FrameTiming& t : turn(renderer, s, plan.rate, turn_s, pixels)) {
        s.frame.push_back(t.frame_ms());
        s.upload.push_back(t.upload_ms);
        s.kernel.push_back(t.kernel_ms);
        s.readback.push_back(t.readback_ms);
      }
    }
  }

  std::vector<CompareRow> rows;
  for (std::size_t i = 0; i < configs.size(); ++i) {
    const Samples& s = samples[i];
    BenchResult r;
    r.warmup_frames = s.warmup_frames;
    r.frames = static_cast<int>(s.frame.size());
    r.elapsed_s = s.busy_s;
    r.fps = s.busy_s > 0.0 ? r.frames / s.busy_s : 0.0;
    r.frame_ms = spread_of(s.frame);
    r.upload_ms = spread_of(s.upload);
    r.kernel_ms = spread_of(s.kernel);
    r.readback_ms = spread_of(s.readback);
    rows.push_back({configs[i], lanes[i], r});
  }
  return rows;
}

std::string compare_report_text(const std::vector<CompareRow>& rows, const BackendInfo& backend) {
  std::string out = "back-end:   " + backend.backend + " (" + backend.device_name + ")\n";
  out += "frames 640 x 480, measured in turns within one run; ms per frame (upload + kernel + read-back)\n";
  out += "kernel  threads lanes  frames     fps   median      p5     p95  kernel  vs scalar  vs 1 thread\n";
  // Each median against the scalar kernel's on as many threads, and against
  // the same kernel's on one thread.
  const auto median_of = [&](const std::string& kernel, int threads) {
    for (const CompareRow& row : rows) {
      if (row.config.kernel == kernel && row.config.threads == threads) return row.result.frame_ms.median;
    }
    return 0.0;
  };
  for (const CompareRow& row : rows) {
    const BenchResult& r = row.result;
    const double median = r.frame_ms.median;
    out += format("%-7s %7d %5d %7d %7.1f %8.3f %7.3f %7.3f %7.3f %9.2fx %11.2fx\n",
                  row.config.kernel.c_str(), row.config.threads, row.lanes, r.frames, r.fps, median,
                  r.frame_ms.p5, r.frame_ms.p95, r.kernel_ms.median,
                  median_of("scalar", row.config.threads) / median,
                  median_of(row.config.kernel, 1) / median);
  }
  return out;
}

std::string compare_report_json(const std::vector<CompareRow>& rows, const BackendInfo& backend,
                                const BenchPlan& plan) {
  std::vector<JsonObject> configs;
  for (const CompareRow& row : rows) {
    const BenchResult& r = row.result;
    JsonObject o;
    o.add("kernel", row.config.kernel)
        .add("threads", row.config.threads)
        .add("lanes", row.lanes)
        .add("frames", r.frames)
        .add("fps", r.fps)
        .add("median_ms", r.frame_ms.median)
        .add("p5_ms", r.frame_ms.p5)
        .add("p95_ms", r.frame_ms.p95)
        .add("kernel_median_ms", r.kernel_ms.median)
        .add("readback_median_ms", r.readback_ms.median);
    configs.push_back(o);
  }
  JsonObject out;
  out.add("backend", backend.backend)
      .add("device", backend.device_name)
      .add("seconds_each", plan.seconds)
      .add("rate", static_cast<double>(plan.rate))
      .add("configs", configs)
      .add("version", VELMORA_VERSION);
  return out.str();
}

}  // namespace render_tool
