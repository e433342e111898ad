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
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "runtime/backend_controls.h"
#include "outputs/folders.h"
#include "outputs/interrupts.h"
#include "outputs/output_error.h"
#include "outputs/output_set.h"
#include "outputs/standard_streams.h"
#include "tools/render/animation_export.h"
#include "tools/render/bench_report.h"
#include "frame/host_renderer.h"
#include "tools/render/options.h"
#include "tools/render/progress_bar.h"
#include "frame/frame_renderer.h"
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
  std::fprintf(stderr, "%s: %s\n", kProgramName, outputs::terminal_safe(message).c_str());
}

// An output's name as reports show it: "-" is standard output, and any
// other name is quoted when a terminal or a shell would read it otherwise.
std::string reported_name(const std::string& name) {
  return name == "-" ? "standard output" : outputs::quoted_if_needed(name);
}

// What this run has written and left in place so far, for the one line
// that says so when the report itself cannot reach standard output.
std::vector<std::string> outputs_in_place;

int render_single_frame(const RenderOptions& o, const AnimatedScene& animated) {
  // Every destination is checked, and the temporaries of files made, before
  // the frame is rendered.
  std::vector<std::string> names;
  for (const FrameOutput& output : o.frame_outputs) names.push_back(output.path);
  outputs::OutputSet outputs(names);

  const PosedScene scene = posed_scene(animated, o.pose, o.clock);

  const FrameSize size = o.sizes.front();
  std::vector<std::uint32_t> pixels(size.pixel_count());
  HostLayerRenderer renderer(size);
  renderer.render(scene.records, pixels);

  std::vector<std::vector<std::uint8_t>> contents;
  for (const FrameOutput& output : o.frame_outputs) {
    contents.push_back(output.format->encode(pixels, size.width, size.height));
  }

  // When the frame itself went to standard output, the report goes to
  // standard error so as not to mix with it.
  std::FILE* report = outputs.uses_standard_output() ? stderr : stdout;
  outputs.write_all(contents, [&] {
    for (const std::string& name : names) {
      std::fprintf(report, "wrote %s (%d x %d, %s)\n", reported_name(name).c_str(), size.width, size.height,
                   scene.name.c_str());
      outputs_in_place.push_back(reported_name(name));
    }
    outputs::mark_run_complete();
  });
  return 0;
}

// --verify: the frame through the back-end against the reference frame;
// nothing is written but the report.
int verify_single_frame(const RenderOptions& o, const AnimatedScene& animated) {
  const PosedScene scene = posed_scene(animated, o.pose, o.clock);
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
  const outputs::FolderLock lock(folders, "an animation");
  check_frame_destinations(folders.folder(), o.frames);
  std::unique_ptr<VideoDestination> video;
  if (!o.video_path.empty()) video = prepare_video(o.video_path, folders.folder(), o.frames);

  HostLayerRenderer renderer(o.sizes.front());
  {
    ProgressBar progress(stderr, o.frames, is_terminal(stderr));
    export_animation(renderer, o.frames, o.rate, folders.folder(), [&](int done) {
      folders.keep();
      progress.update(done);
    }, scene);
  }
  std::FILE* report = video && video->target.kind == outputs::DestinationKind::standard_output ? stderr : stdout;
  const std::string folder = reported_name(o.out_dir);
  if (o.frames == 1) {
    std::fprintf(report, "wrote 1 frame to %s (%s)\n", folder.c_str(), frame_file_name(0, 1).c_str());
  } else {
    std::fprintf(report, "wrote %d frames to %s (%s ... %s)\n", o.frames, folder.c_str(),
                 frame_file_name(0, o.frames).c_str(), frame_file_name(o.frames - 1, o.frames).c_str());
  }
  outputs_in_place.push_back(std::to_string(o.frames) + (o.frames == 1 ? " frame in " : " frames in ") + folder);
  if (video) {
    encode_video(folders.folder(), o.frames, o.rate, *video, [&] {
      std::fprintf(report, "wrote %s\n", reported_name(o.video_path).c_str());
      outputs_in_place.push_back(reported_name(o.video_path));
      outputs::mark_run_complete();
    });
  }
  return 0;
}

// The report in the form asked for, on standard output, with the frame's
// roofline when there is one: every form ends with a newline.
void print_report(const RenderOptions& o, std::string text, JsonReport json,
                  const std::optional<roofline::FrameRoofline>& roofline, double measured_ms) {
  if (o.json) {
    if (roofline) add_roofline(json, *roofline, measured_ms);
    text = json_report_text(json);
  } else if (roofline) {
    text += roofline::roofline_text(*roofline, measured_ms);
  }
  std::fputs(text.c_str(), stdout);
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
  // Against the fastest kernel on every thread, at that kernel's width.
  const CompareRow* fastest = &rows.back();
  for (const CompareRow& row : rows) {
    if (row.config.threads == backend.threads && row.result.frame_ms.median < fastest->result.frame_ms.median) {
      fastest = &row;
    }
  }
  print_report(o, scene_report_line(plan) + compare_report_text(rows, backend, renderer.size()),
               compare_report_json(rows, backend, plan, renderer.size()),
               benchmark_roofline(plan, renderer.size(), fastest->lanes, backend.threads),
               fastest->result.frame_ms.median);
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
    const SizeRow& row = rows[0];
    // The roofline is this CPU's limit, for the kernel that ran: it says
    // nothing of a GPU's frame.
    std::optional<roofline::FrameRoofline> roofline;
    if (backend.backend == "cpu") roofline = benchmark_roofline(plan, row.size, backend.lanes, backend.threads);
    print_report(o, scene_report_line(plan) + bench_report_text(row.result, backend, row.size),
                 bench_report_json(row.result, backend, plan, row.size), roofline, row.result.frame_ms.median);
  } else {
    print_report(o, scene_report_line(plan) + sizes_report_text(rows, backend), sizes_report_json(rows, backend, plan),
                 std::nullopt, 0.0);
  }
  return 0;
}

// Standard output's reader went away: quietly when nothing was written, and
// otherwise with one line that says what was, since the report that would
// have said so was lost (`--out a.png | true` has replaced a.png).
int reader_gone() {
  if (!outputs_in_place.empty()) {
    std::string written;
    for (const std::string& name : outputs_in_place) written += (written.empty() ? "" : ", ") + name;
    print_error("standard output's reader has gone; written and in place all the same: " + written);
  }
  return kExitReaderGone;
}

// --dump-scene: the scene as JSON, written as every output is; nothing is
// rendered.
int dump_scene(const RenderOptions& o, const AnimatedScene& scene) {
  outputs::OutputSet outputs({o.dump_scene_path});
  const std::string text = scene_json(scene);
  std::FILE* report = outputs.uses_standard_output() ? stderr : stdout;
  outputs.write_all({std::vector<std::uint8_t>(text.begin(), text.end())}, [&] {
    std::fprintf(report, "wrote %s (%zu spheres)\n", reported_name(o.dump_scene_path).c_str(),
                 scene.initial.spheres.size());
    outputs_in_place.push_back(reported_name(o.dump_scene_path));
    outputs::mark_run_complete();
  });
  return 0;
}

// A result that never reached standard output (a full disk, a closed
// stream) is a failure, even when every write before seemed to succeed; a
// reader that went away ends the run with 141.
int finish_standard_output(int status) {
  const std::optional<std::string> failure = outputs::close_standard_output();
  if (!failure) return status;
  if (outputs::standard_output_reader_gone()) return status == 0 ? reader_gone() : status;
  print_error("cannot write standard output: " + *failure);
  return status == 0 ? kExitOutputFailed : status;
}

int run(int argc, char** argv) {
  const ParseOutcome parsed = parse_render_options(std::vector<std::string>(argv + 1, argv + argc), kProgramName);
  if (!parsed.options) {
    // A mistake may quote what was typed, control characters and all.
    const std::string text = parsed.text_is_error ? outputs::terminal_safe(parsed.text) : parsed.text;
    std::fprintf(parsed.text_is_error ? stderr : stdout, "%s\n", text.c_str());
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
    return reader_gone();
  } catch (const RepeatedOutputError& e) {
    print_error(std::string(e.what()) + " (see --help)");
    return kExitBadUsage;
  } catch (const OutputError& e) {
    print_error(e.what());
    return kExitOutputFailed;
  } catch (const std::bad_alloc&) {
    // Every temporary went with the unwinding; what was finished stays.
    print_error("out of memory: the run needs more than this process may use" +
                std::string(o.mode == Mode::animation ? "; the frames written so far stay" : "; nothing was written"));
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
