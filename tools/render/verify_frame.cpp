#include "tools/render/verify_frame.h"

#include <cstdio>
#include <vector>

namespace render_tool {

PosedScene posed_scene(const RenderOptions& options, const AnimatedScene& scene) {
  switch (options.pose) {
    case FramePose::initial:
      return {scene.initial, "initial scene"};
    case FramePose::clock:
      return {scene.at_clock(options.clock), "clock " + std::to_string(options.clock)};
    case FramePose::first_viewer_frame:
      break;
  }
  const float clock = first_viewer_clock();
  return {scene.at_clock(clock), "clock " + std::to_string(clock)};
}

Verification verify_frame(FrameRenderer& renderer, const PosedScene& scene) {
  const FrameSize size = renderer.size();
  std::vector<std::uint32_t> frame(size.pixel_count());
  renderer.render(scene.records, frame);
  const std::vector<std::uint32_t> want = reference::reference_frame(scene.records, size.width, size.height);

  Verification result;
  result.comparison = reference::compare_frames(frame, want);
  const reference::FrameComparison& c = result.comparison;
  char line[320];
  std::snprintf(line, sizeof line,
                "%d x %d, %s: %zu of %zu pixels differ by more than %d in a channel (at most %zu may, "
                "%.2f%%); largest channel difference %d\n",
                size.width, size.height, scene.name.c_str(), c.differing, c.pixels, reference::kChannelTolerance,
                c.allowed(), 100.0 * reference::kMaxDifferingFraction, c.largest_difference);
  result.report = line;
  result.report += c.matches() ? "matches the reference\n" : "differs from the reference\n";
  return result;
}

}  // namespace render_tool
