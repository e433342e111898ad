// The host-side scene storage and its one-time set-up.
#pragma once

#include "scene/records.h"

inline constexpr int kFrameWidth = 640;
inline constexpr int kFrameHeight = 480;

// Four spheres and two lights, default-constructed before main; only the
// animation changes them after start-up.
extern Sphere spheres[4];
extern PointLight lights[2];

// The frame read back from the device: 640 x 480 words, row 0 at the bottom.
extern unsigned int* pixel_buffer;

// Allocates pixel_buffer, creates the GPU context (gpu_init(640, 480)),
// writes the spheres, uploads the five materials, places light 0 and
// uploads both lights.  The spheres are uploaded by every frame, not here.
void init_scene();
