#include "tools/render/bench_report.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "tools/render/frame_size.h"

namespace render_tool {
namespace {

using Json = JsonReport;

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, pattern, args...);
  return buf;
}

std::string backend_lines(const BackendInfo& b) {
  return "back-end:   " + b.backend + " (" + b.device_name + ")\n" +  //
         "threads:    " + std::to_string(b.threads) + "\n" +            //
         "kernel:     " + b.kernel + ", " + std::to_string(b.lanes) + " lane" + (b.lanes == 1 ? "" : "s") + "\n";
}

Json spread_json(const Spread& s) { return Json{{"median", s.median}, {"p5", s.p5}, {"p95", s.p95}}; }

// The figures of one result, as the single run and each size report them.
Json result_json(const BenchResult& r, FrameSize size) {
  return Json{{"median_ms", r.frame_ms.median},
              {"p5_ms", r.frame_ms.p5},
              {"p95_ms", r.frame_ms.p95},
              {"fps", r.fps},
              {"frames", r.frames},
              {"warmup_frames", r.warmup_frames},
              {"seconds", r.elapsed_s},
              {"width", size.width},
              {"height", size.height},
              {"upload_ms", spread_json(r.upload_ms)},
              {"kernel_ms", spread_json(r.kernel_ms)},
              {"readback_ms", spread_json(r.readback_ms)}};
}

void add_backend(Json& j, const BackendInfo& b) {
  j["backend"] = b.backend;
  j["device"] = b.device_name;
  j["threads"] = b.threads;
  j["kernel"] = b.kernel;
  j["lanes"] = b.lanes;
}

std::size_t sphere_count(const BenchPlan& plan) { return plan.scene->initial.spheres.size(); }

}  // namespace

std::string json_report_text(const JsonReport& report) { return report.dump() + "\n"; }
std::string scene_report_line(const BenchPlan& plan) {
  const std::size_t spheres = sphere_count(plan);
  const std::size_t materials = plan.scene->initial.materials.size();
  return "scene:      " + std::to_string(spheres) + (spheres == 1 ? " sphere, " : " spheres, ") +
         std::to_string(materials) + (materials == 1 ? " material\n" : " materials\n");
}

std::string bench_report_text(const BenchResult& r, const BackendInfo& backend, FrameSize size) {
  std::string out = backend_lines(backend);
  out += "frames:     " + std::to_string(r.frames) + " timed in " + format("%.2f s", r.elapsed_s) + " after " +
         std::to_string(r.warmup_frames) + " warm-up frames (" + format("%d x %d", size.width, size.height) +
         ")\n";
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

JsonReport bench_report_json(const BenchResult& r, const BackendInfo& backend, const BenchPlan& plan,
                             FrameSize size) {
  Json j = result_json(r, size);
  j["rate"] = static_cast<double>(plan.rate);
  j["spheres"] = sphere_count(plan);
  add_backend(j, backend);
  j["version"] = VELMORA_VERSION;
  return j;
}

std::string compare_report_text(const std::vector<CompareRow>& rows, const BackendInfo& backend, FrameSize size) {
  std::string out = "back-end:   " + backend.backend + " (" + backend.device_name + ")\n";
  out += format("frames %d x %d, measured in turns within one run; ms per frame (upload + kernel + read-back)\n",
                size.width, size.height);
  out += "kernel  threads lanes  frames     fps   median      p5     p95  kernel  vs scalar  vs 1 thread\n";
  const auto median_of = [&](const std::string& kernel, int threads) {
    for (const CompareRow& row : rows) {
      if (row.config.kernel == kernel && row.config.threads == threads) return row.result.frame_ms.median;
    }
    return 0.0;
  };
  for (const CompareRow& row : rows) {
    const BenchResult& r = row.result;
    const double median = r.frame_ms.median;
    out += format("%-7s %7d %5d %7d %7.1f %8.3f %7.3f %7.3f %7.3f %9.2fx %11.2fx\n", row.config.kernel.c_str(),
                  row.config.threads, row.lanes, r.frames, r.fps, median, r.frame_ms.p5, r.frame_ms.p95,
                  r.kernel_ms.median, median_of("scalar", row.config.threads) / median,
                  median_of(row.config.kernel, 1) / median);
  }
  return out;
}

JsonReport compare_report_json(const std::vector<CompareRow>& rows, const BackendInfo& backend,
                               const BenchPlan& plan, FrameSize size) {
  Json configs = Json::array();
  for (const CompareRow& row : rows) {
    const BenchResult& r = row.result;
    configs.push_back(Json{{"kernel", row.config.kernel},
                           {"threads", row.config.threads},
                           {"lanes", row.lanes},
                           {"frames", r.frames},
                           {"fps", r.fps},
                           {"median_ms", r.frame_ms.median},
                           {"p5_ms", r.frame_ms.p5},
                           {"p95_ms", r.frame_ms.p95},
                           {"kernel_median_ms", r.kernel_ms.median},
                           {"readback_median_ms", r.readback_ms.median}});
  }
  return Json{{"backend", backend.backend},
              {"device", backend.device_name},
              {"seconds_each", plan.seconds},
              {"rate", static_cast<double>(plan.rate)},
              {"width", size.width},
              {"height", size.height},
              {"spheres", sphere_count(plan)},
              {"configs", configs},
              {"version", VELMORA_VERSION}};
}

std::string sizes_report_text(const std::vector<SizeRow>& rows, const BackendInfo& backend) {
  std::string out = backend_lines(backend);
  out += "sizes measured in turns within one run; ms per frame (upload + kernel + read-back);\n";
  out += "the last two columns: times the first size's pixels, and its median\n";
  out += "     size    pixels  frames     fps   median      p5     p95  ns/pixel   pixels     time\n";
  for (const SizeRow& row : rows) {
    const BenchResult& r = row.result;
    const double pixels = static_cast<double>(row.size.pixel_count());
    const double first_pixels = static_cast<double>(rows.front().size.pixel_count());
    out += format("%9s %9.0f %7d %7.1f %8.3f %7.3f %7.3f %9.2f %7.2fx %7.2fx\n", frame_size_text(row.size).c_str(),
                  pixels, r.frames, r.fps, r.frame_ms.median, r.frame_ms.p5, r.frame_ms.p95,
                  r.frame_ms.median * 1e6 / pixels, pixels / first_pixels,
                  r.frame_ms.median / rows.front().result.frame_ms.median);
  }
  return out;
}

JsonReport sizes_report_json(const std::vector<SizeRow>& rows, const BackendInfo& backend, const BenchPlan& plan) {
  Json sizes = Json::array();
  for (const SizeRow& row : rows) {
    Json j = result_json(row.result, row.size);
    j["pixels"] = row.size.pixel_count();
    sizes.push_back(j);
  }
  Json j{{"seconds_each", plan.seconds}, {"rate", static_cast<double>(plan.rate)}, {"spheres", sphere_count(plan)}};
  add_backend(j, backend);
  j["sizes"] = sizes;
  j["version"] = VELMORA_VERSION;
  return j;
}

}  // namespace render_tool
