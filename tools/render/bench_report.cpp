#include "tools/render/bench_report.h"

#include <cstdio>

#include "tools/render/json_writer.h"

namespace render_tool {
namespace {

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char buf[128];
  std::snprintf(buf, sizeof buf, pattern, args...);
  return buf;
}

JsonObject spread_json(const Spread& s) {
  JsonObject o;
  o.add("median", s.median).add("p5", s.p5).add("p95", s.p95);
  return o;
}

}  // namespace

std::string bench_report_text(const BenchResult& r, const BackendInfo& b) {
  std::string out;
  out += "back-end:   " + b.backend + " (" + b.device_name + ")\n";
  out += "threads:    " + std::to_string(b.threads) + "\n";
  out +=
      "kernel:     " + b.kernel + ", " + std::to_string(b.lanes) + " lane" + (b.lanes == 1 ? "" : "s") + "\n";
  out += "frames:     " + std::to_string(r.frames) + " timed in " + format("%.2f s", r.elapsed_s) +
         " after " + std::to_string(r.warmup_frames) + " warm-up frames (640 x 480)\n";
  out += format("fps:        %.1f\n", r.fps);
  out += "ms/frame      median      p5     p95\n";
  const auto row = [&](const char* name, const Spread& s) {
    out += format("%-10s%10.3f%8.3f%8.3f\n", name, s.median, s.p5, s.p95);
  };
  row("upload", r.upload_ms);
  row("kernel", r.kernel_ms);
  row("read-back", r.readback_ms);
  row("total", r.frame_ms);
  return out;
}

std::string bench_report_json(const BenchResult& r, const BackendInfo& b, const BenchPlan& plan) {
  JsonObject o;
  o.add("median_ms", r.frame_ms.median)
      .add("p5_ms", r.frame_ms.p5)
      .add("p95_ms", r.frame_ms.p95)
      .add("fps", r.fps)
      .add("frames", r.frames)
      .add("warmup_frames", r.warmup_frames)
      .add("seconds", r.elapsed_s)
      .add("rate", static_cast<double>(plan.rate))
      .add("width", kFrameWidth)
      .add("height", kFrameHeight)
      .add("upload_ms", spread_json(r.upload_ms))
      .add("kernel_ms", spread_json(r.kernel_ms))
      .add("readback_ms", spread_json(r.readback_ms))
      .add("backend", b.backend)
      .add("device", b.device_name)
      .add("threads", b.threads)
      .add("kernel", b.kernel)
      .add("lanes", b.lanes)
      .add("version", VELMORA_VERSION);
  return o.str();
}

}  // namespace render_tool
