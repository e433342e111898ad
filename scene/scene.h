// The viewer's host-side scene storage and frame buffer.
#pragma once

#include <cstddef>

#include "scene/initial_scene_data.h"
#include "scene/records.h"

// The frame the program renders and its window shows.
inline constexpr int kFrameWidth = 640;
inline constexpr int kFrameHeight = 480;

// The scene storage below is constructed during static initialisation at
// this priority (lower numbers are constructed first and destroyed last), so
// that a program can place its own static objects before or after it.
inline constexpr int kSceneStorageInitPriority = 1001;

// The spheres and lights, default-constructed before main; only init_scene
// (app/frame_step.h) and the animation change them.
extern Sphere spheres[kInitialSphereCount];
extern PointLight lights[kInitialLightCount];

// The frame read back from the device: kFrameWidth x kFrameHeight words,
// row 0 at the bottom.
extern unsigned int* pixel_buffer;

// Takes `bytes` from `allocate` for the frame buffer; on failure prints one
// line on standard error and ends the process with exit code 1.
unsigned int* allocate_pixel_buffer(std::size_t bytes, void* (*allocate)(std::size_t));
