// The clocks at which the animation poses the scene, stepped as the
// viewer's frame loop steps them.
#pragma once

#include <vector>

// The clock of the viewer's first frame: one step at 60 frames per second.
float first_viewer_clock();

// The clocks of `frames` animation frames at `rate` frames per second, one
// Animation step before every frame as the viewer takes it, so clocks[0] is
// already one step on.
std::vector<float> animation_clocks(int frames, float rate);
