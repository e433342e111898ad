// The pose of a scene that one frame shows, and its name in reports.
#pragma once

#include <string>

#include "scene/scene_content.h"

// Which pose of the scene a single frame shows.
enum class FramePose {
  first_viewer_frame,  // the clock after the viewer's first animation step
  initial,             // the spheres as start-up writes them, before any step
  clock,               // the spheres as the animation places them at a clock
};

struct PosedScene {
  SceneContent records;
  std::string name;  // "initial scene" or "clock 2.500000"
};

// `scene` in `pose`; `clock` is read for FramePose::clock only.
PosedScene posed_scene(const AnimatedScene& scene, FramePose pose, float clock = 0.0f);
