#include "frame/posed_scene.h"

#include "frame/clocks.h"

PosedScene posed_scene(const AnimatedScene& scene, FramePose pose, float clock) {
  switch (pose) {
    case FramePose::initial:
      return {scene.initial, "initial scene"};
    case FramePose::clock:
      return {scene.at_clock(clock), "clock " + std::to_string(clock)};
    case FramePose::first_viewer_frame:
      break;
  }
  const float first = first_viewer_clock();
  return {scene.at_clock(first), "clock " + std::to_string(first)};
}
