// Frames of a scene held in records: their size, the clocks at which the
// scene is posed, where a frame's time went, and what turns records into a
// frame.  The tools, the benchmarks and the tests hold the scene in records;
// the viewer holds it in the scene globals, and both make their frames
// through make_frame (frame/make_frame.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/records.h"
#include "frame/make_frame.h"
#include "scene/scene.h"
#include "scene/scene_content.h"

// The size of a frame: the window's unless asked otherwise.
struct FrameSize {
  int width = kFrameWidth;
  int height = kFrameHeight;

  std::size_t pixel_count() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
  bool operator==(const FrameSize&) const = default;
};

// The clock of the viewer's first frame: one step at 60 frames per second.
float first_viewer_clock();

// The clocks of `frames` animation frames at `rate` frames per second, one
// Animation step before every frame as the viewer takes it, so clocks[0] is
// already one step on.
std::vector<float> animation_clocks(int frames, float rate);

// Something that turns scene records into a frame of size().pixel_count()
// words.
class FrameRenderer {
 public:
  explicit FrameRenderer(FrameSize size = {}) : size_(size) {}
  virtual ~FrameRenderer() = default;
  virtual FrameTiming render(const SceneContent& scene, std::span<std::uint32_t> pixels) = 0;
  FrameSize size() const { return size_; }

 protected:
  void set_size(FrameSize frame_size) { size_ = frame_size; }

 private:
  FrameSize size_;
};
