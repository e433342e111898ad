#include "tools/render/verify_frame.h"

#include <cstdio>
#include <vector>

namespace render_tool {

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
