// The scene's motion: one clock, advanced every frame by the animation rate
// divided by the measured frame rate, moves sphere 1 along an ellipse in the
// plane y = 0.5 and swings sphere 3 along a slanted segment at z = -3.
#pragma once

#include "scene/records.h"

// The animation state before the first frame.
inline constexpr float kStartClock = 1.0f;
inline constexpr float kAnimationSpeed = 0.5f;
inline constexpr float kStartFrameRate = 60.0f;

// The animation state.
extern float anim_time;   // the clock, kStartClock at start
extern float anim_speed;  // clock units per second, kAnimationSpeed
extern float fps;         // frame rate measured by the frame loop, kStartFrameRate at start

// The clock after one frame at `rate` frames per second:
// speed / rate + clock, the quotient first, stored as a float.
float advance_clock(float clock, float speed, float rate);

// Writes the centres of spheres 1 and 3 for the clock t:
// sphere 1 at (2 sin t, 0.5, cos t - 5), sphere 3 at (0.5 cos t, 0.5 + 0.5 cos t, -3).
// Only center.x and center.z of sphere 1 and center.x and center.y of
// sphere 3 are written.
void place_animated_spheres(Sphere* scene_spheres, float t);

// One frame's step of the global state: advances anim_time by
// anim_speed / fps and moves spheres 1 and 3 of the scene's `spheres`.
void animate_scene();
