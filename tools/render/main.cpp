// velmora-render: the scene without a window, as a picture, an animation or a
// benchmark.  See --help for the command line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "gpu/backend.h"
#include "kernel/host_scene.h"
#include "roofline/roofline.h"
#include "scene/animation.h"
#include "tools/render/animation_export.h"
#include "tools/render/bench_report.h"
#include "tools/render/compare.h"
#include "tools/render/frame_image.h"
#include "tools/render/host_renderer.h"
#include "tools/render/options.h"
#include "tools/render/output_file.h"
#include "tools/render/progress_bar.h"
#include "tools/render/render_scene.h"

namespace {

using namespace render_tool;

constexpr int kExitOutputFailed = 1;
constexpr int kExitBadUsage = 2;

void print_error(const std::string& message) {
  std::fprintf(stderr, "velmora-render: %s\n", message.c_str());
}

int render_single_frame(const RenderOptions& o) {
  float clock = 0.0f;
  SceneRecords scene = initial_scene_records();
  if (o.pose != FramePose::initial) {
    clock = o.pose == FramePose::clock ? o.clock : first_viewer_clock();
    scene = scene_at_clock(clock);
  }

  std::vector<std::uint32_t> pixels(kFramePixels);
  HostLayerRenderer renderer(scene);
  renderer.render(scene, pixels);

  std::vector<OutputBlob> blobs;
  if (!o.png_path.empty()) blobs.push_back({o.png_path, encode_png(pixels, kFrameWidth, kFrameHeight)});
  if (!o.raw_path.empty()) blobs.push_back({o.raw_path, raw_frame_bytes(pixels)});
  write_files_atomically(blobs);

  const std::string pose =
      o.pose == FramePose::initial ? std::string("initial scene") : "clock " + std::to_string(clock);
  for (const OutputBlob& blob : blobs) {
    std::printf("wrote %s (%d x %d, %s)\n", blob.path.c_str(), kFrameWidth, kFrameHeight, pose.c_str());
  }
  return 0;
}

int render_animation(const RenderOptions& o) {
  // Look for the encoder before rendering anything, so that a missing one
  // costs no time and leaves no frames behind.
  std::string ffmpeg;
  if (!o.video_path.empty()) {
    const char* path = std::getenv("PATH");
    const auto found = find_on_path("ffmpeg", path ? path : "/usr/local/bin:/usr/bin:/bin");
    if (!found) {
      print_error("--video needs ffmpeg, which is not installed (not found on PATH); nothing was rendered");
      return kExitOutputFailed;
    }
    ffmpeg = *found;
  }

  HostLayerRenderer renderer(initial_scene_records());
  std::vector<std::string> files;
  {
    ProgressBar progress(stderr, o.frames, is_terminal(stderr));
    files = export_animation(renderer, o.frames, o.rate, o.out_dir, [&](int done) { progress.update(done); });
  }
  std::printf("wrote %d frames to %s (%s ... %s)\n", o.frames, o.out_dir.c_str(),
              frame_file_name(0, o.frames).c_str(), frame_file_name(o.frames - 1, o.frames).c_str());

  if (!ffmpeg.empty()) {
    encode_video(ffmpeg, o.out_dir, o.frames, o.rate, o.video_path);
    std::printf("wrote %s\n", o.video_path.c_str());
  }
  return 0;
}

// The frame's roofline on `threads` threads: the operations of the first
// frame the benchmark renders, at this CPU's measured speed.
struct Roofline {
  lanes::OpCounts ops;
  roofline::Throughput speed;
  roofline::FrameLimit limit;
};

Roofline frame_roofline(const BenchPlan& plan, int threads) {
  const SceneRecords records = scene_at_clock(advance_clock(kStartClock, kAnimationSpeed, plan.rate));
  HostScene scene;
  scene.set_spheres(records.spheres, kInitialSphereCount);
  scene.set_materials(records.materials, kInitialMaterialCount);
  scene.light_position = records.lights[0].position;
  Roofline r{roofline::count_frame_ops(scene.view(), kFrameWidth, kFrameHeight),
             roofline::measure_throughput(), {}};
  r.limit = roofline::frame_limit(r.ops, r.speed, threads);
  return r;
}

// The report with the roofline: a line of text, or keys added to the JSON.
void print_with_roofline(const std::string& report, bool json, const Roofline& r, double measured_ms) {
  if (!json) {
    std::printf("%s%s", report.c_str(), roofline::roofline_text(r.ops, r.speed, r.limit, measured_ms).c_str());
    return;
  }
  nlohmann::ordered_json j = nlohmann::ordered_json::parse(report);
  j["roofline_ms"] = r.limit.limit_ms;
  j["roofline_bound"] = r.limit.bound;
  j["roofline_ratio"] = measured_ms / r.limit.limit_ms;
  j["frame_ops"] = {{"divisions", r.ops.divisions}, {"square_roots", r.ops.square_roots},
                    {"powers", r.ops.powers}, {"other", r.ops.other}};
  j["ns_per_lane"] = {{"division", r.speed.division_ns}, {"square_root", r.speed.square_root_ns},
                      {"power", r.speed.power_ns}, {"other", r.speed.other_ns}};
  j["roofline_divider_ms"] = r.limit.divider_ms / backend_info().threads;
  j["roofline_pipes_ms"] = r.limit.pipes_ms / backend_info().threads;
  std::printf("%s\n", j.dump().c_str());
}

int run_comparison(const RenderOptions& o) {
  if (backend_info().backend != "cpu") {
    print_error("--compare needs the CPU back-end, which has the kernels and threads to compare");
    return kExitBadUsage;
  }
  HostLayerRenderer renderer(initial_scene_records());
  const BenchPlan plan{o.seconds, o.rate, warmup_seconds(o.seconds)};
  const auto apply = [](const CompareConfig& c) {
    set_backend_kernel(c.kernel);
    set_backend_threads(c.threads);
  };
  const auto rows = render_tool::run_comparison(renderer, plan, standard_comparison(backend_info().threads),
                                                apply, [] { return backend_info().lanes; });
  const BackendInfo backend = backend_info();
  // Against the fastest kernel on every thread.
  double fastest_ms = rows.back().result.frame_ms.median;
  for (const CompareRow& row : rows) {
    if (row.config.threads == backend.threads) fastest_ms = std::min(fastest_ms, row.result.frame_ms.median);
  }
  print_with_roofline(o.json ? compare_report_json(rows, backend, plan) : compare_report_text(rows, backend),
                      o.json, frame_roofline(plan, backend.threads), fastest_ms);
  return 0;
}

int run_bench(const RenderOptions& o) {
  if (o.compare) return run_comparison(o);
  HostLayerRenderer renderer(initial_scene_records());
  const BenchPlan plan{o.seconds, o.rate, warmup_seconds(o.seconds)};
  const BenchResult result = run_benchmark(renderer, plan);
  const BackendInfo backend = backend_info();
  print_with_roofline(o.json ? bench_report_json(result, backend, plan) : bench_report_text(result, backend),
                      o.json, frame_roofline(plan, backend.threads), result.frame_ms.median);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const ParseOutcome parsed = parse_render_options(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.options) {
    std::fprintf(parsed.text_is_error ? stderr : stdout, "%s\n", parsed.text.c_str());
    return parsed.exit_code;
  }
  const RenderOptions& o = *parsed.options;

  // Back-end settings come first: they decide how the frames are made.
  if (o.threads && !set_backend_threads(*o.threads)) {
    print_error("--threads " + std::to_string(*o.threads) + ": not supported by the " +
                backend_info().backend + " back-end");
    return kExitBadUsage;
  }
  if (o.kernel && !set_backend_kernel(*o.kernel)) {
    print_error("--kernel " + *o.kernel + ": not supported by the " + backend_info().backend + " back-end");
    return kExitBadUsage;
  }

  try {
    switch (o.mode) {
      case Mode::single_frame:
        return render_single_frame(o);
      case Mode::animation:
        return render_animation(o);
      case Mode::benchmark:
        return run_bench(o);
    }
  } catch (const OutputError& e) {
    print_error(e.what());
    return kExitOutputFailed;
  } catch (const std::exception& e) {
    print_error(e.what());
    return kExitOutputFailed;
  }
  return 0;
}
