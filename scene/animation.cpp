#include "scene/animation.h"

#include <cmath>

#include "scene/scene.h"

Animation animation;
float fps = kStartFrameRate;

void place_animated_spheres(Sphere* scene_spheres, float t) {
  // Sine and cosine at double precision of the float clock, each rounded to
  // a float before the arithmetic.
  const float s = static_cast<float>(std::sin(static_cast<double>(t)));
  scene_spheres[1].center.x = 2.0f * s;
  const float c = static_cast<float>(std::cos(static_cast<double>(t)));
  scene_spheres[1].center.z = c - 5.0f;
  scene_spheres[3].center.x = c * 0.5f;
  scene_spheres[3].center.y = c * 0.5f + 0.5f;
}

void animate_scene() {
  place_animated_spheres(spheres, animation.step(fps));
}
