// The host-side scene storage and its one-time set-up.
#pragma once

#include <cstddef>

#include "scene/records.h"

inline constexpr int kFrameWidth = 640;
inline constexpr int kFrameHeight = 480;

// The program's static objects come into being in a fixed order across its
// source files: two error-log streams, then the scene storage below, then a
// third stream, and only after all of them the kernel module's registration
// (which carries no priority).  Lower numbers are constructed first and
// destroyed last.
#define VELMORA_INIT_ORDER(priority) __attribute__((init_priority(priority)))
inline constexpr int kInitOrderEarlyErrorLogs = 1000;
inline constexpr int kInitOrderSceneStorage = 1001;
inline constexpr int kInitOrderLateErrorLog = 1002;

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
