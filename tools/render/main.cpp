// velmora-render: the scene without a window, as a picture, an animation or a
// benchmark.  See --help for the command line.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gpu/backend_controls.h"
#include "tools/outputs/folders.h"
#include "tools/outputs/interrupts.h"
#include "tools/outputs/output_error.h"
#include "tools/outputs/output_set.h"
#include "tools/outputs/standard_streams.h"
#include "tools/render/animation_export.h"
#include "tools/render/bench_report.h"
#include "tools/render/frame_image.h"
#include "tools/render/host_renderer.h"
#include "tools/render/options.h"
#include "tools/render/progress_bar.h"
#include "tools/render/frame_renderer.h"
#include "tools/render/roofline_report.h"
#include "tools/render/scene_file.h"
#include "tools/render/verify_frame.h"

namespace {

using namespace render_tool;
using outputs::OutputError;
using outputs::ReaderGoneError;
using outputs::RepeatedOutputError;

constexpr int kExitOutputFailed = 1;
constexpr int kExitBadUsage = 2;
// Standard output's reader went away: a quiet end, with the status a
// process killed by SIGPIPE would have, so that pipelines see it as such.
constexpr int kExitReaderGone = 128 + SIGPIPE;

// velmora-render, or the name of its CUDA build.
constexpr const char* kProgramName = VELMORA_RENDER_NAME;

void print_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
}

int render_single_frame(const RenderOptions& o, const AnimatedScene& animated) {
  // Every destination is checked, and the temporaries of files made, before
  // the frame is rendered.
  std::vector<std::string> names;
  if (!o.png_path.empty()) names.push_back(o.png_path);
  if (!o.raw_path.empty()) names.push_back(o.raw_path);
  outputs::OutputSet outputs(names);

  const PosedScene scene = posed_scene(o, animated);

  const FrameSize size = o.sizes.front();
  std::vector<std::uint32_t> pixels(size.pixel_count());
  HostLayerRenderer renderer(size);
  renderer.render(scene.records, pixels);

  std::vector<std::vector<std::uint8_t>> contents;
  if (!o.png_path.empty()) contents.push_back(encode_png(pixels, size.width, size.height));
  if (!o.raw_path.empty()) contents.push_back(raw_frame_bytes(pixels));

  // When the frame itself went to standard output, the report goes to
  // standard error so as not to mix with it.
  std::FILE* report = outputs.uses_standard_output() ? stderr : stdout;
  outputs.write_all(contents, [&] {
    for (const std::string& name : names) {
      std::fprintf(report, "wrote %s (%d x %d, %s)\n", name.c_str(), size.width, size.height, scene.name.c_str());
    }
    outputs::mark_run_complete();
  });
  return 0;
}

// --verify: the frame through the back-end against the reference frame;
// nothing is written but the report.
int verify_single_frame(const RenderOptions& o, const AnimatedScene& animated) {
  const PosedScene scene = posed_scene(o, animated);
  HostLayerRenderer renderer(o.sizes.front());
  const Verification result = verify_frame(renderer, scene);
  std::fputs(result.report.c_str(), stdout);
  return result.exit_status();
}

int render_animation(const RenderOptions& o, const AnimatedScene& scene) {
  // The encoder is looked for, the folder made and locked, and every
  // destination checked before anything is rendered: a mistake costs no
  // time and leaves nothing behind.
  if (!o.video_path.empty()) {
    switch (probe_ffmpeg(kEncoderProbeLimit)) {
      case EncoderProbe::answers:
        break;
      case EncoderProbe::not_found:
        print_error("--video needs ffmpeg, which is not installed (not found on PATH); nothing was rendered");
        return kExitOutputFailed;
      case EncoderProbe::fails:
        print_error("--video needs ffmpeg, which failed when asked for its version; nothing was rendered");
        return kExitOutputFailed;
      case EncoderProbe::silent:
        print_error("--video needs ffmpeg, which did not answer within " +
                    std::to_string(kEncoderProbeLimit.count()) +
                    " s when asked for its version; nothing was rendered");
        return kExitOutputFailed;
    }
  }
  outputs::MadeFolders folders(o.out_dir);
  const outputs::FolderLock lock(o.out_dir, "an animation");
  check_frame_destinations(o.out_dir, o.frames);
  std::unique_ptr<VideoDestination> video;
  if (!o.video_path.empty()) video = prepare_video(o.video_path, o.out_dir, o.frames);

  HostLayerRenderer renderer(o.sizes.front());
  {
    ProgressBar progress(stderr, o.frames, is_terminal(stderr));
    export_animation(renderer, o.frames, o.rate, o.out_dir, [&](int done) {
      folders.keep();
      progress.update(done);
    }, scene);
  }
  std::FILE* report = video && video->target.kind == outputs::DestinationKind::standard_output ? stderr : stdout;
  if (o.frames == 1) {
    std::fprintf(report, "wrote 1 frame to %s (%s)\n", o.out_dir.c_str(), frame_file_name(0, 1).c_str());
  } else {
    std::fprintf(report, "wrote %d frames to %s (%s ... %s)\n", o.frames, o.out_dir.c_str(),
                 frame_file_name(0, o.frames).c_str(), frame_file_name(o.frames - 1, o.frames).c_str());
  }
  if (video) {
    encode_video(o.out_dir, o.frames, o.rate, *video, [&] {
      std::fprintf(report, "wrote %s\n", o.video_path.c_str());
      outputs::mark_run_complete();
    });
  }
  return 0;
}

int run_compare(const RenderOptions& o, const BenchPlan& plan) {
  if (backend_info().backend != "cpu") {
    print_error("--compare needs the CPU back-end, which has the kernels and threads to compare");
    return kExitBadUsage;
  }
  HostLayerRenderer renderer(o.sizes.front());
  const auto apply = [](const CompareConfig& c) {
    set_backend_kernel(c.kernel);
    set_backend_threads(c.threads);
  };
  const auto rows = measure_comparison(renderer, plan, standard_comparison(backend_info().threads),
                                                apply, [] { return backend_info().lanes; });
  const BackendInfo backend = backend_info();
  // Against the fastest kernel on every thread.
  double fastest_ms = rows.back().result.frame_ms.median;
  for (const CompareRow& row : rows) {
    if (row.config.threads == backend.threads) fastest_ms = std::min(fastest_ms, row.result.frame_ms.median);
  }
  const std::string report = o.json ? compare_report_json(rows, backend, plan, renderer.size())
                                    : scene_report_line(plan) + compare_report_text(rows, backend, renderer.size());
  std::fputs(with_frame_roofline(report, o.json, plan, renderer.size(), backend.threads, fastest_ms).c_str(),
             stdout);
  return 0;
}

// Several sizes take turns, as the comparison's configurations do, so that
// their ratios hold under a passing load.
int run_bench(const RenderOptions& o, const AnimatedScene& scene) {
  BenchPlan plan{o.seconds, o.rate, warmup_seconds(o.seconds)};
  plan.scene = &scene;
  if (o.compare) return run_compare(o, plan);
  HostLayerRenderer renderer(o.sizes.front());
  const std::vector<BenchResult> results = measure_in_turns(
      renderer, plan, static_cast<int>(o.sizes.size()),
      [&](int i) { renderer.resize(o.sizes[static_cast<std::size_t>(i)]); });
  std::vector<SizeRow> rows;
  for (std::size_t i = 0; i < results.size(); ++i) rows.push_back({o.sizes[i], results[i]});
  const BackendInfo backend = backend_info();
  if (rows.size() == 1) {
    const std::string report = o.json ? bench_report_json(rows[0].result, backend, plan, rows[0].size)
                                      : scene_report_line(plan) + bench_report_text(rows[0].result, backend, rows[0].size);
    // The roofline is this CPU's limit: it says nothing of a GPU's frame.
    std::fputs(backend.backend == "cpu" ? with_frame_roofline(report, o.json, plan, rows[0].size, backend.threads,
                                                              rows[0].result.frame_ms.median)
                                              .c_str()
                                        : report.c_str(),
               stdout);
  } else {
    const std::string report =
        o.json ? sizes_report_json(rows, backend, plan) + "\n" : scene_report_line(plan) + sizes_report_text(rows, backend);
    std::fputs(report.c_str(), stdout);
  }
  return 0;
}

// --dump-scene: the scene as JSON, written as every output is; nothing is
// rendered.
int dump_scene(const RenderOptions& o, const AnimatedScene& scene) {
  outputs::OutputSet outputs({o.dump_scene_path});
  const std::string text = scene_json(scene);
  std::FILE* report = outputs.uses_standard_output() ? stderr : stdout;
  outputs.write_all({std::vector<std::uint8_t>(text.begin(), text.end())}, [&] {
    std::fprintf(report, "wrote %s (%zu spheres)\n", o.dump_scene_path.c_str(), scene.initial.spheres.size());
    outputs::mark_run_complete();
  });
  return 0;
}

// A result that never reached standard output (a full disk, a closed
// stream) is a failure, even when every write before seemed to succeed; a
// reader that went away ends the run quietly.
int finish_standard_output(int status) {
  const std::optional<std::string> failure = outputs::close_standard_output();
  if (!failure) return status;
  if (outputs::standard_output_reader_gone()) return status == 0 ? kExitReaderGone : status;
  print_error("cannot write standard output: " + *failure);
  return status == 0 ? kExitOutputFailed : status;
}

int run(int argc, char** argv) {
  const ParseOutcome parsed = parse_render_options(std::vector<std::string>(argv + 1, argv + argc), kProgramName);
  if (!parsed.options) {
    std::fprintf(parsed.text_is_error ? stderr : stdout, "%s\n", parsed.text.c_str());
    return parsed.exit_code;
  }
  const RenderOptions& o = *parsed.options;

  // The scene before anything else: a file that cannot be used costs no
  // set-up and leaves nothing written.
  std::optional<AnimatedScene> scene_from_file;
  if (!o.scene_path.empty()) {
    try {
      scene_from_file = read_scene_file(o.scene_path);
    } catch (const SceneFileError& e) {
      print_error(e.what());
      return kExitBadUsage;
    }
  }
  const AnimatedScene& scene = scene_from_file ? *scene_from_file : built_in_scene();

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

  // The CUDA build without a device: say so in the tool's words rather than
  // let the host layer's start-up end the program with its own line.
  if (backend_info().backend == "cuda" && backend_info().device_name.empty()) {
    print_error("no CUDA device found; velmora-render does the same on the CPU");
    return kExitOutputFailed;
  }

  try {
    switch (o.mode) {
      case Mode::single_frame:
        return o.verify ? verify_single_frame(o, scene) : render_single_frame(o, scene);
      case Mode::animation:
        return render_animation(o, scene);
      case Mode::benchmark:
        return run_bench(o, scene);
      case Mode::dump_scene:
        return dump_scene(o, scene);
    }
  } catch (const ReaderGoneError&) {
    return kExitReaderGone;
  } catch (const RepeatedOutputError& e) {
    print_error(std::string(e.what()) + " (see --help)");
    return kExitBadUsage;
  } catch (const OutputError& e) {
    print_error(e.what());
    return kExitOutputFailed;
  } catch (const std::exception& e) {
    print_error(e.what());
    return kExitOutputFailed;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  outputs::keep_standard_streams_taken();
  outputs::buffer_standard_output();
  outputs::start_interrupt_thread();
  return finish_standard_output(run(argc, argv));
}
