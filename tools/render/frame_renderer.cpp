#include "tools/render/frame_renderer.h"

namespace render_tool {

float first_viewer_clock() { return Animation{}.step(kStartFrameRate); }

std::vector<float> animation_clocks(int frames, float rate) {
  std::vector<float> clocks;
  clocks.reserve(static_cast<std::size_t>(frames > 0 ? frames : 0));
  Animation animation;
  for (int i = 0; i < frames; ++i) clocks.push_back(animation.step(rate));
  return clocks;
}

}  // namespace render_tool
