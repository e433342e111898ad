#include "tools/render/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

#include "runtime/backend_controls.h"
#include "outputs/output_error.h"
#include "tools/render/frame_size.h"

namespace render_tool {
namespace {

using outputs::in_quotes;

constexpr int kMaxFrames = 1'000'000;
constexpr int kMaxThreads = 1024;
// The animation clock advances by 0.5/rate a frame in single precision: with
// at least a thousandth of a frame a second it stays finite for any number
// of frames the tool accepts and for any benchmark of up to an hour.
constexpr double kMinRate = 0.001;
constexpr double kMaxRate = 1e6;
constexpr double kMinSeconds = 0.001;
constexpr double kMaxSeconds = 3600.0;

// One of CLI11's validators with its message in this tool's words:
// "'<value>' <what>".
CLI::Validator reworded(const CLI::Validator& check, const std::string& what) {
  return CLI::Validator(
      [check, what](std::string& text) -> std::string {
        std::string copy = text;
        return check(copy).empty() ? std::string() : in_quotes(text) + " " + what;
      },
      "");
}

std::string number_text(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

CLI::Validator in_range(double low, double high) {
  return reworded(CLI::Range(low, high),
                  "is out of range (must be from " + number_text(low) + " to " + number_text(high) + ")");
}

// A whole number in decimal from `low` to `high`, leading zeros and all
// ("010" is ten), and nothing else: the parser alone would read "010" as
// octal and "0x10" as hexadecimal.  Passed on without its leading zeros,
// so that the parser's conversion reads it as decimal too.
CLI::Validator decimal_whole_number_in(int low, int high) {
  return CLI::Validator(
      [low, high](std::string& text) -> std::string {
        const bool negative = !text.empty() && text[0] == '-';
        std::string_view digits(text);
        if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
          return in_quotes(text) + " is not a whole number in decimal";
        }
        digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size() - 1));
        // More digits than any value in range has is out of range whatever
        // they say.
        long long value = digits.size() > 12 ? std::numeric_limits<long long>::max() : std::stoll(std::string(digits));
        if (negative) value = -value;
        if (value < low || value > high) {
          return in_quotes(text) + " is out of range (must be from " + std::to_string(low) + " to " +
                 std::to_string(high) + ")";
        }
        text = std::to_string(value);
        return {};
      },
      "");
}

// The kernel computes in single precision: a value that is a fine double
// can still overflow there, or underflow to zero or to a subnormal number
// (which the kernel's arithmetic does not keep).  CLI11 has no such check.
CLI::Validator usable_in_single_precision() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        double value = 0.0;
        if (!CLI::detail::lexical_cast(text, value)) return in_quotes(text) + " is not a number";
        if (!std::isfinite(value)) return in_quotes(text) + " is not a finite number";
        // The parser would also read hexadecimal ("0x10", "0x1p3").
        if (text.find_first_not_of("0123456789.eE+-") != std::string::npos) {
          return in_quotes(text) + " is not a number in decimal";
        }
        const float single = static_cast<float>(value);
        if (std::isinf(single)) return in_quotes(text) + " is too large: it becomes infinite in single precision";
        if (value != 0.0 && single == 0.0f) return in_quotes(text) + " is too small: it becomes 0 in single precision";
        if (std::fpclassify(single) == FP_SUBNORMAL) {
          return in_quotes(text) + " is too small: it is subnormal in single precision";
        }
        return {};
      },
      "");
}

CLI::Validator frame_size_check() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        try {
          parse_frame_sizes(text);
        } catch (const std::invalid_argument& e) {
          return e.what();
        }
        return {};
      },
      "");
}

CLI::Validator a_name() {
  return CLI::Validator([](std::string& text) -> std::string { return text.empty() ? "the name is empty" : ""; },
                        "");
}

const char* kDescription =
    "Renders Velmora's scene of spheres without a window: one frame as a picture,\n"
    "an animation as numbered pictures (and a video), or a benchmark.\n";

// The back-end's kernel variants, by name or, for the help text, each with
// its description.
std::vector<std::string> kernel_names(bool described = false) {
  std::vector<std::string> names;
  for (const KernelChoice& k : backend_kernels()) {
    names.push_back(described ? std::string(k.name) + " (" + k.description + ")" : k.name);
  }
  return names;
}

std::string joined(const std::vector<std::string>& items, const std::string& separator) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
  return text;
}

// " [--out FILE.png] [--raw FILE]": an option for each frame format.
std::string frame_output_usage() {
  std::string usage;
  for (const FrameFormat& f : frame_formats()) usage += std::string(" [") + f.option + " " + f.value_name + "]";
  return usage;
}

// The three forms of the command line, shown in place of CLI11's one-line
// usage, which cannot say which options go together.
class UsageFormatter : public CLI::Formatter {
 public:
  std::string make_usage(const CLI::App*, std::string) const override {
    return "Usage:\n"
           "  velmora-render [--initial | --clock T]" + frame_output_usage() + "\n"
           "  velmora-render --verify [--initial | --clock T]\n"
           "  velmora-render --frames N [--rate F] --out-dir DIR [--video FILE.mp4]\n"
           "  velmora-render --bench [--seconds S] [--rate F] [--json] [--compare]\n"
           "  velmora-render --dump-scene FILE [--scene FILE]\n"
           "each but the last with [--scene FILE] [--size WxH] [--threads N] [--kernel " + joined(kernel_names(), "|") + "] (--compare: --size only)\n";
  }
};

const char* kFooter =
    "One frame: without --initial or --clock the frame is the viewer's first one\n"
    "(clock 1.0 + 0.5/60).  Without --out or --raw it is written to velmora.png in\n"
    "the current folder.  The PNG shows the frame as the window does (row 0 at the\n"
    "bottom), opaque RGB; --raw writes the pixel words exactly as the renderer\n"
    "produced them: 4 bytes a pixel (1,228,800 at 640 x 480), little-endian, row 0\n"
    "(the bottom) first.\n"
    "\n"
    "Verify: --verify renders the frame through the back-end as usual, writes\n"
    "nothing, and compares it with a reference frame computed again in double\n"
    "precision.  A pixel differs when a channel is off by more than 1; the frame\n"
    "matches when at most a small fraction of its pixels differ (the edges where\n"
    "single-precision rounding decides which sphere a ray hits).\n"
    "\n"
    "Animation: the clock starts at 1.0 and advances by 0.5/F before every frame,\n"
    "so frame 0 is at 1.0 + 0.5/F, frame k at 1.0 + (k+1) * 0.5/F (summed in single\n"
    "precision, as the viewer does).  Frames go to DIR/frame_0000.png, ... (DIR is\n"
    "created if missing).  One run at a time writes into DIR: a second run given\n"
    "the same DIR fails at once (it does not wait).  --video needs ffmpeg on the\n"
    "PATH.\n"
    "\n"
    "Benchmark: renders the animation for a short warm-up, then for S seconds, and\n"
    "reports frames per second and the median, 5th and 95th percentile\n"
    "milliseconds per frame, split into upload, kernel and read-back.  --compare\n"
    "measures every kernel on 1 thread and on all cores in turns of a fraction of\n"
    "a second, round after round, so that a passing load on the machine falls on\n"
    "all of them alike, and prints the ratios of their medians.\n"
    "\n"
    "Frame size: 640x480 (the window's) unless --size says otherwise; each side a\n"
    "multiple of 8 from 8 to 8192, since the kernel runs in whole 8 x 8 blocks.\n"
    "With --bench, --size takes a list (--size 320x240,640x480,1280x960,2560x1920,\n"
    "or --size repeated): the sizes are measured in turns, S seconds each, and a\n"
    "table shows how the time per frame grows with the pixel count.\n"
    "\n"
    "Outputs: a file is written to a temporary beside it, synced, and put in its\n"
    "place keeping its mode (and owner, as root); a file you could not write with\n"
    "the shell's > is refused.  A device, FIFO or terminal, or - for standard\n"
    "output, is written in place.  A link is followed only where the kernel's\n"
    "protected-symlink rule allows (not another user's link in a shared sticky\n"
    "folder), and stays a link.  Every destination is checked before rendering,\n"
    "and a failed run leaves none of its files written or replaced.  An\n"
    "interrupted animation keeps the frames finished so far, each whole, and no\n"
    "video.\n"
    "\n"
    "Scene: --scene reads the scene from a JSON file (- for standard input) in\n"
    "place of the built-in one: up to 32 spheres (center, radius, material and an\n"
    "optional motion {base, sin, cos}: the centre at clock t is base + sin(t) sin +\n"
    "cos(t) cos), up to 32 materials (color as 4 numbers, ambient, diffuse,\n"
    "specular, shininess, reflection, transparency, refraction_index) and the\n"
    "light's position.  A file that cannot be used is named with the place in it\n"
    "(line:column, or the JSON path of the value) and nothing is rendered.\n"
    "--dump-scene writes the scene (the built-in one unless --scene) in that form.\n"
    "\n"
    "Exit status: 0 on success, 2 for a bad option or value, a scene file that\n"
    "cannot be used, or one output named twice, 1 when an output cannot be written (standard output included) or a\n"
    "verified frame differs from the reference, 128 + the signal's number when\n"
    "interrupted, and 141 when standard output is a pipe whose reader has gone\n"
    "(with one line naming any file that was written all the same).  Whole\n"
    "numbers are read in decimal: --frames 010 is 10.";

ParseOutcome error_outcome(const std::string& program, const std::string& message) {
  ParseOutcome out;
  out.text = program + ": " + message + " (see --help)";
  out.text_is_error = true;
  out.exit_code = 2;
  return out;
}

// CLI11's texts for options that do not go together, in this tool's words.
std::string reworded_relation(std::string text) {
  for (const auto& [theirs, ours] : {std::pair<std::string, std::string>{" excludes ", " cannot be used with "},
                                     std::pair<std::string, std::string>{" requires ", " needs "}}) {
    const std::size_t at = text.find(theirs);
    if (at != std::string::npos) text.replace(at, theirs.size(), ours);
  }
  return text;
}

}  // namespace

ParseOutcome parse_render_options(const std::vector<std::string>& args, const std::string& program) {
  RenderOptions o;
  CLI::App app{kDescription, program};
  app.footer(kFooter);
  app.formatter(std::make_shared<UsageFormatter>());
  app.set_version_flag("--version", program + " " + VELMORA_VERSION);

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
          ->check(usable_in_single_precision())
          ->group(single);
  // One option for each frame format, its path at the format's index.
  std::vector<std::string> frame_paths(frame_formats().size());
  std::vector<CLI::Option*> frame_options;
  for (std::size_t i = 0; i < frame_formats().size(); ++i) {
    const FrameFormat& f = frame_formats()[i];
    frame_options.push_back(
        app.add_option(f.option, frame_paths[i], f.help)->type_name(f.value_name)->check(a_name())->group(single));
  }
  CLI::Option* verify =
      app.add_flag("--verify", o.verify, "compare the frame with the reference frame instead of writing it")
          ->group(single);

  CLI::Option* frames = app.add_option("--frames", o.frames, "render N frames of the animation")
                            ->type_name("N")
                            ->transform(decimal_whole_number_in(1, kMaxFrames))
                            ->group(anim);
  CLI::Option* rate =
      app.add_option("--rate", o.rate,
                     "frames per second of the animation clock, also for --bench (default 60)")
          ->type_name("F")
          ->check(usable_in_single_precision())
          ->check(in_range(kMinRate, kMaxRate))
          ->group(anim);
  CLI::Option* out_dir = app.add_option("--out-dir", o.out_dir, "folder for the numbered PNGs")
                             ->type_name("DIR")
                             ->check(a_name())
                             ->group(anim);
  CLI::Option* video = app.add_option("--video", o.video_path, "also encode the frames as a video with ffmpeg")
                           ->type_name("FILE.mp4")
                           ->check(a_name())
                           ->group(anim);

  CLI::Option* bench_flag =
      app.add_flag("--bench", bench_mode, "measure frame times instead of writing pictures")->group(bench);
  CLI::Option* seconds = app.add_option("--seconds", o.seconds, "length of the timed run (default 5)")
                             ->type_name("S")
                             ->check(usable_in_single_precision())
                             ->check(in_range(kMinSeconds, kMaxSeconds))
                             ->group(bench);
  CLI::Option* json = app.add_flag("--json", o.json, "print the result as one JSON object")->group(bench);
  CLI::Option* compare =
      app.add_flag("--compare", o.compare,
                   "every kernel, each on 1 thread and on all cores, measured in turn "
                   "within one run, with their ratios (S seconds each)")
          ->group(bench);

  CLI::Option* threads = app.add_option("--threads", o.threads, "number of worker threads (default: one per core)")
      ->type_name("N")
      ->transform(decimal_whole_number_in(1, kMaxThreads))
      ->group(backend);
  CLI::Option* kernel = app.add_option("--kernel", o.kernel, joined(kernel_names(true), ", "))
      ->type_name(joined(kernel_names(), "|"))
      ->check(reworded(CLI::IsMember(kernel_names()), "is not a kernel (" + joined(kernel_names(), ", ") + ")").description(""))
      ->group(backend);

  app.add_option("--scene", o.scene_path,
                 "render the scene of a JSON file (- for standard input) instead of the built-in one")
      ->type_name("FILE")
      ->check(a_name())
      ->group("Scene");
  CLI::Option* dump_scene =
      app.add_option("--dump-scene", o.dump_scene_path,
                     "write the scene (the built-in one unless --scene) as JSON and render nothing (- for standard "
                     "output)")
          ->type_name("FILE")
          ->check(a_name())
          ->group("Scene");

  std::vector<std::string> size_texts;
  CLI::Option* size =
      app.add_option("--size", size_texts, "frame size (default 640x480); with --bench, a list WxH,WxH,...")
          ->type_name("WxH")
          ->check(frame_size_check())
          ->group("Frame size");

  // Which options go together: one frame, an animation and a benchmark are
  // three forms of the command line that exclude each other's options.
  std::vector<CLI::Option*> one_frame_options = {initial, clock, verify};
  one_frame_options.insert(one_frame_options.end(), frame_options.begin(), frame_options.end());
  for (CLI::Option* one_frame_option : one_frame_options) {
    for (CLI::Option* other : {frames, out_dir, video, bench_flag}) one_frame_option->excludes(other);
  }
  for (CLI::Option* animation_option : {frames, out_dir, video}) animation_option->excludes(bench_flag);
  std::vector<CLI::Option*> not_with_dump = {initial, clock, verify, frames, rate, out_dir, video, bench_flag, size};
  not_with_dump.insert(not_with_dump.end(), frame_options.begin(), frame_options.end());
  for (CLI::Option* other : not_with_dump) dump_scene->excludes(other);
  initial->excludes(clock);
  for (CLI::Option* frame_option : frame_options) verify->excludes(frame_option);
  for (CLI::Option* bench_option : {seconds, json, compare}) bench_option->needs(bench_flag);
  compare->excludes(threads);
  compare->excludes(kernel);
  frames->needs(out_dir);
  out_dir->needs(frames);
  video->needs(frames);

  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    return ParseOutcome{std::nullopt, app.help(), false, 0};
  } catch (const CLI::CallForVersion& e) {
    return ParseOutcome{std::nullopt, e.what(), false, 0};
  } catch (const CLI::ExcludesError& e) {
    return error_outcome(program, reworded_relation(e.what()));
  } catch (const CLI::RequiresError& e) {
    return error_outcome(program, reworded_relation(e.what()));
  } catch (const CLI::ConversionError&) {
    // Every value is checked before conversion; should one still fail, say
    // so without the parser's own text.
    return error_outcome(program, "a value could not be read as a number");
  } catch (const CLI::ParseError& e) {
    return error_outcome(program, e.what());
  }

  const auto given = [](const CLI::Option* opt) { return opt->count() > 0; };
  if (given(dump_scene)) {
    o.mode = Mode::dump_scene;
  } else if (given(bench_flag)) {
    o.mode = Mode::benchmark;
  } else if (given(frames)) {
    o.mode = Mode::animation;
  } else {
    // CLI11 can say "needs this one", not "needs one of these".
    if (given(rate)) return error_outcome(program, "--rate needs --frames or --bench");
    o.mode = Mode::single_frame;
    o.pose = given(initial) ? FramePose::initial
             : given(clock) ? FramePose::clock
                            : FramePose::first_viewer_frame;
    for (std::size_t i = 0; i < frame_formats().size(); ++i) {
      if (given(frame_options[i])) o.frame_outputs.push_back({&frame_formats()[i], frame_paths[i]});
    }
    if (o.frame_outputs.empty() && !o.verify) o.frame_outputs.push_back({&default_frame_format(), kDefaultPngName});
  }
  if (given(size)) {
    o.sizes.clear();
    for (const std::string& text : size_texts) {
      for (const FrameSize& one : parse_frame_sizes(text)) o.sizes.push_back(one);
    }
    if (o.sizes.size() > 1 && (o.mode != Mode::benchmark || o.compare)) {
      return error_outcome(program, "--size takes several sizes only with --bench and without --compare");
    }
  }
  return ParseOutcome{o, {}, false, 0};
}

}  // namespace render_tool
