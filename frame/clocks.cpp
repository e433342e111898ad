#include "frame/clocks.h"

#include "scene/animation.h"

float first_viewer_clock() { return Animation{}.step(kStartFrameRate); }

std::vector<float> animation_clocks(int frames, float rate) {
  std::vector<float> clocks;
  clocks.reserve(static_cast<std::size_t>(frames > 0 ? frames : 0));
  Animation steps;
  for (int i = 0; i < frames; ++i) clocks.push_back(steps.step(rate));
  return clocks;
}
