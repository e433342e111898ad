// velmora-render --verify: one frame made through the host layer and the
// back-end, compared with the reference frame (reference/), which computes
// every pixel again in double precision without the trace's code.
#pragma once

#include <string>

#include "reference/reference_frame.h"
#include "tools/render/options.h"
#include "frame/frame_renderer.h"

namespace render_tool {

// The scene of the one frame that the options ask for (--initial, --clock T
// or the viewer's first frame) and its name in reports.
struct PosedScene {
  SceneContent records;
  std::string name;  // "initial scene" or "clock 2.500000"
};

// The pose of `scene` (the built-in scene unless given) that the options
// ask for.
PosedScene posed_scene(const RenderOptions& options, const AnimatedScene& scene = built_in_scene());

// What the comparison found, and the two lines that say so.
struct Verification {
  reference::FrameComparison comparison;
  std::string report;

  bool matches() const { return comparison.matches(); }
  // The program's exit status: 0 when the frame matches, 1 when it differs.
  int exit_status() const { return matches() ? 0 : 1; }
};

// Renders `scene` with `renderer`, at the renderer's size, and compares the
// frame with the reference frame of the same scene and size.
Verification verify_frame(FrameRenderer& renderer, const PosedScene& scene);

}  // namespace render_tool
