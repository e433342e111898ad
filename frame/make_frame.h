// One frame, made the one way every program makes it: the scene into the
// kernel's stores through the host layer, one launch over the frame, the
// frame read back.  The viewer's display callback, velmora-render (single
// frames, animations, --verify and the benchmarks) and the tests all call
// make_frame, so they make the same frames by the same calls.
#pragma once

#include <cstdint>
#include <span>

#include "scene/records.h"

// Where one frame's time went, in milliseconds.
struct FrameTiming {
  double upload_ms = 0.0;    // the scene into the kernel's stores
  double kernel_ms = 0.0;    // launch and the whole kernel run
  double readback_ms = 0.0;  // the frame copied back to the host
  double frame_ms() const { return upload_ms + kernel_ms + readback_ms; }
};

// A frame's scene as the uploads take it.  An empty span leaves its store
// as the last upload left it: the viewer uploads its materials once, at
// set-up, and only its spheres and lights every frame.
struct FrameScene {
  std::span<const Sphere> spheres;
  std::span<const PointLight> lights;
  std::span<const Material> materials;
};

// How the frame's time is told: the console line that the viewer prints
// ("Processing time: ... (ms)"), or only the returned timing.
enum class FrameReport { console_line, timings };

// Uploads `scene` (spheres, lights, materials, in that order), renders the
// frame of the size the host layer was set up for into `pixels` and returns
// where the time went (the kernel and read-back times are only measured
// with FrameReport::timings; the console line carries their sum).
FrameTiming make_frame(const FrameScene& scene, std::uint32_t* pixels, FrameReport report);
