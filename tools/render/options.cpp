#include "tools/render/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace render_tool {
namespace {

constexpr int kMaxFrames = 1'000'000;
constexpr int kMaxThreads = 1024;
constexpr double kMaxRate = 1e6;
constexpr double kMaxSeconds = 3600.0;

// Reads the whole of `text` as a number; false when anything is left over.
bool read_number(const std::string& text, double& value) {
  if (text.empty()) return false;
  errno = 0;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && errno != ERANGE;
}

// Value checks run on the text before CLI11 converts it, so that every bad
// value gets a message that says what was expected.
CLI::Validator number_in(double low, double high, bool low_open) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double v = 0.0;
        if (!read_number(text, v) || !std::isfinite(v)) return "'" + text + "' is not a number";
        if (v < low || v > high || (low_open && v == low)) {
          return "'" + text + "' is out of range (must be " + (low_open ? "above " : "at least ") +
                 CLI::detail::to_string(low) + " and at most " + CLI::detail::to_string(high) + ")";
        }
        return {};
      },
      "");
}

CLI::Validator any_finite_number() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double v = 0.0;
        if (!read_number(text, v) || !std::isfinite(v)) return "'" + text + "' is not a finite number";
        return {};
      },
      "");
}

CLI::Validator whole_number_in(int low, int high) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        double v = 0.0;
        if (!read_number(text, v) || v != std::floor(v)) return "'" + text + "' is not a whole number";
        if (v < low || v > high) {
          return "'" + text + "' is out of range (must be from " + std::to_string(low) + " to " +
                 std::to_string(high) + ")";
        }
        return {};
      },
      "");
}

const char* kDescription =
    "Renders Velmora's scene of spheres without a window: one frame as a picture,\n"
    "an animation as numbered pictures (and a video), or a benchmark.\n";

// The three forms of the command line, shown in place of CLI11's one-line
// usage, which cannot say which options go together.
class UsageFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage:\n"
           "  velmora-render [--initial | --clock T] [--out FILE.png] [--raw FILE]\n"
           "  velmora-render --frames N [--rate F] --out-dir DIR [--video FILE.mp4]\n"
           "  velmora-render --bench [--seconds S] [--rate F] [--json] [--compare]\n"
           "each with [--threads N] [--kernel simd|stages|scalar] (except --compare)\n";
  }
};

const char* kFooter =
    "One frame: without --initial or --clock the frame is the viewer's first one\n"
    "(clock 1.0 + 0.5/60).  Without --out or --raw it is written to velmora.png in\n"
    "the current folder.  The PNG shows the frame as the window does (row 0 at the\n"
    "bottom), opaque RGB; --raw writes the 640 x 480 pixel words exactly as the\n"
    "renderer produced them: 1,228,800 bytes, little-endian, row 0 (the bottom) first.\n"
    "\n"
    "Animation: the clock starts at 1.0 and advances by 0.5/F before every frame,\n"
    "so frame 0 is at 1.0 + 0.5/F, frame k at 1.0 + (k+1) * 0.5/F (summed in single\n"
    "precision, as the viewer does).  Frames go to DIR/frame_0000.png, ... (DIR is\n"
    "created if missing).  --video needs ffmpeg on the PATH.\n"
    "\n"
    "Benchmark: renders the animation for a short warm-up, then for S seconds, and\n"
    "reports frames per second and the median, 5th and 95th percentile\n"
    "milliseconds per frame, split into upload, kernel and read-back.  --compare\n"
    "measures the scalar and simd kernels on 1 thread and on all cores in turns of\n"
    "a fraction of a second, round after round, so that a passing load on the\n"
    "machine falls on all four alike, and prints the ratios of their medians.\n"
    "\n"
    "Exit status: 0 on success, 2 for a bad option or value, 1 when an output\n"
    "cannot be written.  Outputs are written to a temporary file and renamed into\n"
    "place, so a failed run leaves no partial file.";

ParseOutcome error_outcome(const std::string& message) {
  ParseOutcome out;
  out.text = "velmora-render: " + message + " (see --help)";
  out.text_is_error = true;
  out.exit_code = 2;
  return out;
}

}  // namespace

ParseOutcome parse_render_options(const std::vector<std::string>& args) {
  RenderOptions o;
  CLI::App app{kDescription, "velmora-render"};
  app.footer(kFooter);
  app.formatter(std::make_shared<UsageFormatter>());
  app.set_version_flag("--version", std::string("velmora-render ") + VELMORA_VERSION);

  const char* single = "One frame";
  const char* anim = "Animation";
  const char* bench = "Benchmark";
  const char* backend = "CPU back-end";

  bool initial_flag = false;
  bool bench_mode = false;
  CLI::Option* initial = app.add_flag("--initial", initial_flag,
                                      "the spheres as start-up writes them, before any animation step")
                             ->group(single);
  CLI::Option* clock =
      app.add_option("--clock", o.clock, "the spheres as the animation places them at clock T")
          ->type_name("T")
          ->check(any_finite_number())
          ->group(single);
  CLI::Option* out = app.add_option("--out", o.png_path, "write the frame as a PNG (default: velmora.png)")
                         ->type_name("FILE.png")
                         ->group(single);
  CLI::Option* raw = app.add_option("--raw", o.raw_path, "write the frame's pixel words as they are")
                         ->type_name("FILE")
                         ->group(single);

  CLI::Option* frames = app.add_option("--frames", o.frames, "render N frames of the animation")
                            ->type_name("N")
                            ->check(whole_number_in(1, kMaxFrames))
                            ->group(anim);
  CLI::Option* rate =
      app.add_option("--rate", o.rate,
                     "frames per second of the animation clock, also for --bench (default 60)")
          ->type_name("F")
          ->check(number_in(0.0, kMaxRate, true))
          ->group(anim);
  CLI::Option* out_dir =
      app.add_option("--out-dir", o.out_dir, "folder for the numbered PNGs")->type_name("DIR")->group(anim);
  CLI::Option* video =
      app.add_option("--video", o.video_path, "also encode the frames as a video with ffmpeg")
          ->type_name("FILE.mp4")
          ->group(anim);

  CLI::Option* bench_flag =
      app.add_flag("--bench", bench_mode, "measure frame times instead of writing pictures")->group(bench);
  CLI::Option* seconds = app.add_option("--seconds", o.seconds, "length of the timed run (default 5)")
                             ->type_name("S")
                             ->check(number_in(0.0, kMaxSeconds, true))
                             ->group(bench);
  CLI::Option* json = app.add_flag("--json", o.json, "print the result as one JSON object")->group(bench);
  CLI::Option* compare =
      app.add_flag("--compare", o.compare,
                   "scalar, simd and stages kernels, each on 1 thread and on all cores, measured in turn "
                   "within one run, with their ratios (S seconds each)")
          ->group(bench);

  CLI::Option* threads = app.add_option("--threads", o.threads, "number of worker threads (default: one per core)")
      ->type_name("N")
      ->check(whole_number_in(1, kMaxThreads))
      ->group(backend);
  CLI::Option* kernel = app.add_option("--kernel", o.kernel, "simd (packs of pixels, the default), stages (packs of live rays, stage by stage) or scalar (one pixel per call)")
      ->type_name("simd|stages|scalar")
      ->check(CLI::IsMember({"simd", "stages", "scalar"}).description(""))
      ->group(backend);

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return ParseOutcome{std::nullopt, app.help(), false, 0};
  } catch (const CLI::CallForVersion& e) {
    return ParseOutcome{std::nullopt, e.what(), false, 0};
  } catch (const CLI::ParseError& e) {
    return error_outcome(e.what());
  }

  // Which form of the command line this is, and what does not belong to it.
  const auto given = [](const CLI::Option* opt) { return opt->count() > 0; };
  const bool is_bench = given(bench_flag);
  const bool is_anim = given(frames) || given(out_dir) || given(video);
  if (is_bench && is_anim) return error_outcome("--bench cannot be combined with an animation's options");

  const std::vector<CLI::Option*> single_only = {initial, clock, out, raw};
  const std::vector<CLI::Option*> bench_only = {seconds, json, compare};
  const auto first_given = [&](const std::vector<CLI::Option*>& opts) -> const CLI::Option* {
    auto it = std::find_if(opts.begin(), opts.end(), given);
    return it == opts.end() ? nullptr : *it;
  };

  if (is_bench) {
    if (const CLI::Option* bad = first_given(single_only)) {
      return error_outcome(bad->get_name() + " cannot be used with --bench");
    }
    if (given(compare) && (given(threads) || given(kernel))) {
      return error_outcome("--compare runs every kernel and thread count itself; drop --threads and --kernel");
    }
    o.mode = Mode::benchmark;
  } else if (is_anim) {
    if (const CLI::Option* bad = first_given(single_only)) {
      return error_outcome(bad->get_name() + " cannot be used with --frames (use --out-dir)");
    }
    if (const CLI::Option* bad = first_given(bench_only)) {
      return error_outcome(bad->get_name() + " needs --bench");
    }
    if (!given(frames)) return error_outcome("--frames is needed with --out-dir and --video");
    if (!given(out_dir)) return error_outcome("--frames needs --out-dir");
    if (o.out_dir.empty()) return error_outcome("--out-dir: the folder name is empty");
    if (given(video) && o.video_path.empty()) return error_outcome("--video: the file name is empty");
    o.mode = Mode::animation;
  } else {
    if (const CLI::Option* bad = first_given(bench_only)) {
      return error_outcome(bad->get_name() + " needs --bench");
    }
    if (given(rate)) return error_outcome("--rate needs --frames or --bench");
    if (given(initial) && given(clock)) return error_outcome("--initial and --clock cannot be used together");
    if ((given(out) && o.png_path.empty()) || (given(raw) && o.raw_path.empty())) {
      return error_outcome("an output file name is empty");
    }
    o.mode = Mode::single_frame;
    o.pose = given(initial) ? FramePose::initial
             : given(clock) ? FramePose::clock
                            : FramePose::first_viewer_frame;
    if (!given(out) && !given(raw)) o.png_path = kDefaultPngName;
  }
  return ParseOutcome{o, {}, false, 0};
}

}  // namespace render_tool
