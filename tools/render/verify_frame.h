// velmora-render --verify: one frame made through the host layer and the
// back-end, compared with the reference frame (reference/), which computes
// every pixel again in double precision without the trace's code.
#pragma once

#include <string>

#include "reference/reference_frame.h"
#include "frame/frame_renderer.h"
#include "frame/posed_scene.h"

namespace render_tool {

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
