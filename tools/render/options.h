// The command line of velmora-render: what to make (one frame, an animation
// or a benchmark), where to put it, and how the CPU back-end should run.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/render/frame_formats.h"
#include "frame/frame_renderer.h"
#include "frame/posed_scene.h"

namespace render_tool {

enum class Mode { single_frame, animation, benchmark, dump_scene };

inline constexpr const char* kDefaultPngName = "velmora.png";
inline constexpr double kDefaultRate = 60.0;
inline constexpr double kDefaultBenchSeconds = 5.0;

struct RenderOptions {
  Mode mode = Mode::single_frame;

  // The scene: read from this file (- for standard input) when given, the
  // built-in one otherwise; --dump-scene writes it to dump_scene_path.
  std::string scene_path;
  std::string dump_scene_path;

  // The frame's size; several only for --bench without --compare.
  std::vector<FrameSize> sizes = {FrameSize{}};

  // One frame.
  FramePose pose = FramePose::first_viewer_frame;
  float clock = 0.0f;
  std::vector<FrameOutput> frame_outputs;  // in the order of frame_formats()
  bool verify = false;                     // compare the frame with the reference instead of writing it

  // Animation (frames) and benchmark (rate).
  int frames = 0;
  float rate = static_cast<float>(kDefaultRate);
  std::string out_dir;
  std::string video_path;  // empty: no video

  // Benchmark.
  double seconds = kDefaultBenchSeconds;
  bool json = false;
  bool compare = false;  // every kernel on one thread and on all cores, side by side

  // CPU back-end; unset means the back-end's own default.
  std::optional<int> threads;
  std::optional<std::string> kernel;
};

// What parsing decided: either options to run with, or a text to print and
// an exit status (help and version on standard output with status 0; a
// one-line error on standard error with status 2).
struct ParseOutcome {
  std::optional<RenderOptions> options;
  std::string text;
  bool text_is_error = false;
  int exit_code = 0;
};

// `args` excludes the program name; `program` is the name messages start
// with (velmora-render, or its CUDA build's name).
ParseOutcome parse_render_options(const std::vector<std::string>& args,
                                  const std::string& program = "velmora-render");

}  // namespace render_tool
