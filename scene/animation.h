// The scene's motion: one clock, advanced every frame by the animation rate
// divided by the measured frame rate, moves sphere 1 along an ellipse in the
// plane y = 0.5 and swings sphere 3 along a slanted segment at z = -3.
#pragma once

#include <span>

#include "scene/records.h"

// The animation state before the first frame.
inline constexpr float kStartClock = 1.0f;
inline constexpr float kAnimationSpeed = 0.5f;
inline constexpr float kStartFrameRate = 60.0f;

// The clock and its step.  Every frame advances the clock by
// speed / rate, the quotient first, summed in single precision: the
// viewer, the tools and the tests all step it here.
struct Animation {
  float clock = kStartClock;
  float speed = kAnimationSpeed;

  // The clock after one more frame at `rate` frames per second.
  float step(float rate) {
    clock = speed / rate + clock;
    return clock;
  }
};

// The viewer's animation, and the frame rate its frame loop measured last
// (kStartFrameRate before the first measure).
extern Animation animation;
extern float fps;

// How one sphere moves: at clock t its centre is base + sin(t) sine +
// cos(t) cosine, coordinate by coordinate (w is not read).
struct SphereMotion {
  Vec4 base;
  Vec4 sine;
  Vec4 cosine;
};

// The centre of a sphere moving by `motion` at clock t: sine and cosine
// at double precision of the float clock, each rounded to a float, then
// (base + s sine) + c cosine in single precision.
Vec4 center_at_clock(const SphereMotion& motion, float t);

// The built-in scene's moving spheres: sphere 1 at (2 sin t, 0.5, cos t - 5),
// sphere 3 at (0.5 cos t, 0.5 + 0.5 cos t, -3).
struct AnimatedSphere {
  int sphere;
  SphereMotion motion;
};
std::span<const AnimatedSphere> animated_spheres();

// Writes the centres of spheres 1 and 3 for the clock t, as
// animated_spheres() moves them.  Only the coordinates that move are
// written: center.x and center.z of sphere 1, center.x and center.y of
// sphere 3.
void place_animated_spheres(Sphere* scene_spheres, float t);

// One frame's step of the viewer: steps `animation` at `fps` and moves
// spheres 1 and 3 of the scene's `spheres`.
void animate_scene();
