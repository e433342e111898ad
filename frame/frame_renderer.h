// What turns a scene held in records into a frame of a given size.  The
// tools, the benchmarks and the tests hold the scene in records; the viewer
// holds it in the scene globals, and both make their frames through
// make_frame (frame/make_frame.h).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "frame/clocks.h"
#include "frame/frame_size.h"
#include "frame/make_frame.h"
#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/records.h"
#include "scene/scene.h"
#include "scene/scene_content.h"

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
