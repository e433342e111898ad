// The GPU host layer: device buffers and the sphere texture, uploads of the
// scene records into the kernel's stores, and the per-frame launch and
// read-back.  The same source (rtlib.cu) is built by nvcc against the CUDA
// runtime (cuda_backend/) and as C++ against Velmora's CPU runtime
// (cpu_backend/).
//
// Every failing runtime or timer call prints one line on standard error,
// naming rtlib.cu and a fixed line number, and ends the process with exit(1).
#pragma once

#include <span>

#include "scene/initial_scene_data.h"
#include "scene/records.h"
#include "scene/scene_content.h"

// Allocates the width x height frame buffer and the 1024-byte sphere buffer
// and binds the sphere texture over the latter.  Returns 0.
int gpu_init(int width, int height);

// Unbinds the sphere texture and frees the frame buffer.  Returns 0.
int gpu_release();

// Makes later frames width x height: a new frame buffer in place of the
// old, while the sphere buffer, its texture and the stores stay as they
// are.  Only between gpu_init and gpu_release.  Returns 0.
int gpu_resize(int width, int height);

// Copy `count` records byte for byte into the kernel's stores, from record 0.
// Each returns 0, or -1 without copying or printing anything when `count` is
// above the store's capacity (32 spheres, 32 materials, 8 lights).
int upload_spheres(const Sphere* records, int count);
int upload_materials(const Material* records, int count);
int upload_lights(const PointLight* records, int count);

// A frame's scene into the kernel's stores: the spheres, the lights and the
// materials, the calls above in that order; an empty span leaves its store
// as it is.  Returns -1, copying nothing, when any part is above its store's
// capacity, else 0.
int upload_scene(std::span<const Sphere> spheres, std::span<const PointLight> lights,
                 std::span<const Material> materials = {});

// The whole scene: its spheres, lights and materials.
int upload_scene(const SceneRecords& scene);
int upload_scene(const SceneContent& scene);

// Where the time of one launch went, in milliseconds of wall-clock time.
struct LaunchTimes {
  float kernel_ms;    // launch and the whole kernel run
  float readback_ms;  // copy of the frame to the host
  float total_ms;     // the two together: what the console line reports
};

// Renders one frame into `pixel_buffer` (frame_width x frame_height words,
// row 0 at the bottom) and prints "Processing time: %f (ms) \n".  Returns 0.
int render_frame(unsigned int* pixel_buffer);

// The same frame without the console line; the times go to `times`.
int render_frame_timed(unsigned int* pixel_buffer, LaunchTimes* times);
