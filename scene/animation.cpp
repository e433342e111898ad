#include "scene/animation.h"

#include <cmath>

#include "scene/scene.h"

float anim_time = kStartClock;
float anim_speed = kAnimationSpeed;
float fps = kStartFrameRate;

float advance_clock(float clock, float speed, float rate) { return speed / rate + clock; }

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
  anim_time = advance_clock(anim_time, anim_speed, fps);
  place_animated_spheres(spheres, anim_time);
}
