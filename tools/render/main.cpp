// velmora-render: the scene without a window, as a picture, an animation or a
// benchmark.  See --help for the command line.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "gpu/backend.h"
#include "tools/render/animation_export.h"
#include "tools/render/bench_report.h"
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

  const FrameSize size = o.sizes.front();
  std::vector<std::uint32_t> pixels(size.pixel_count());
  HostLayerRenderer renderer(scene, size);
  renderer.render(scene, pixels);

  std::vector<OutputBlob> blobs;
  if (!o.png_path.empty()) blobs.push_back({o.png_path, encode_png(pixels, size.width, size.height)});
  if (!o.raw_path.empty()) blobs.push_back({o.raw_path, raw_frame_bytes(pixels)});
  write_files_atomically(blobs);

  const std::string pose =
      o.pose == FramePose::initial ? std::string("initial scene") : "clock " + std::to_string(clock);
  for (const OutputBlob& blob : blobs) {
    std::printf("wrote %s (%d x %d, %s)\n", blob.path.c_str(), size.width, size.height, pose.c_str());
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

  HostLayerRenderer renderer(initial_scene_records(), o.sizes.front());
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

int run_comparison(const RenderOptions& o, const BenchPlan& plan) {
  if (backend_info().backend != "cpu") {
    print_error("--compare needs the CPU back-end, which has the kernels and threads to compare");
    return kExitBadUsage;
  }
  HostLayerRenderer renderer(initial_scene_records(), o.sizes.front());
  const auto apply = [](const CompareConfig& c) {
    set_backend_kernel(c.kernel);
    set_backend_threads(c.threads);
  };
  const auto rows = render_tool::run_comparison(renderer, plan, standard_comparison(backend_info().threads),
                                                apply, [] { return backend_info().lanes; });
  const BackendInfo backend = backend_info();
  const std::string report = o.json ? compare_report_json(rows, backend, plan, renderer.size()) + "\n"
                                    : compare_report_text(rows, backend, renderer.size());
  std::fputs(report.c_str(), stdout);
  return 0;
}

// Several sizes take turns, as the comparison's configurations do, so that
// their ratios hold under a passing load.
int run_bench(const RenderOptions& o) {
  const BenchPlan plan{o.seconds, o.rate, warmup_seconds(o.seconds)};
  if (o.compare) return run_comparison(o, plan);
  HostLayerRenderer renderer(initial_scene_records(), o.sizes.front());
  const std::vector<BenchResult> results = measure_in_turns(
      renderer, plan, static_cast<int>(o.sizes.size()),
      [&](int i) { renderer.resize(o.sizes[static_cast<std::size_t>(i)]); });
  std::vector<SizeRow> rows;
  for (std::size_t i = 0; i < results.size(); ++i) rows.push_back({o.sizes[i], results[i]});
  const BackendInfo backend = backend_info();
  std::string report;
  if (rows.size() == 1) {
    report = o.json ? bench_report_json(rows[0].result, backend, plan, rows[0].size) + "\n"
                    : bench_report_text(rows[0].result, backend, rows[0].size);
  } else {
    report = o.json ? sizes_report_json(rows, backend, plan) + "\n" : sizes_report_text(rows, backend);
  }
  std::fputs(report.c_str(), stdout);
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
