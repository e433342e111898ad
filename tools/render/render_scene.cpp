#include "tools/render/render_scene.h"

namespace render_tool {

float first_viewer_clock() { return advance_clock(kStartClock, kAnimationSpeed, kStartFrameRate); }

std::vector<float> animation_clocks(int frames, float rate) {
  std::vector<float> clocks;
  clocks.reserve(static_cast<std::size_t>(frames > 0 ? frames : 0));
  float clock = kStartClock;
  for (int i = 0; i < frames; ++i) {
    clock = advance_clock(clock, kAnimationSpeed, rate);
    clocks.push_back(clock);
  }
  return clocks;
}

}  // namespace render_tool
