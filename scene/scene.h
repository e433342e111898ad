// The host-side scene storage and its one-time set-up.
#pragma once

#include <cstddef>

#include "scene/records.h"

inline constexpr int kFrameWidth = 640;
inline constexpr int kFrameHeight = 480;

// The scene storage below is constructed during static initialisation at
// this priority (lower numbers are constructed first and destroyed last), so
// that a program can place its own static objects before or after it.
inline constexpr int kSceneStorageInitPriority = 1001;

// Four spheres and two lights, default-constructed before main; only the
// animation changes them after start-up.
extern Sphere spheres[4];
extern PointLight lights[2];

// The frame read back from the device: 640 x 480 words, row 0 at the bottom.
extern unsigned int* pixel_buffer;

// Allocates pixel_buffer, creates the GPU context (gpu_init(640, 480)),
// writes the spheres, uploads the five materials, places light 0 and
// uploads both lights.  The spheres are uploaded by every frame, not here.
// If the frame buffer cannot be allocated it prints one line on standard
// error and ends the process with exit code 1.
void init_scene();

// Takes `bytes` from `allocate` for the frame buffer; on failure prints one
// line on standard error and ends the process with exit code 1.
unsigned int* allocate_pixel_buffer(std::size_t bytes, void* (*allocate)(std::size_t));
