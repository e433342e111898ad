// What turns the tool's scene records into frames, and the clocks at which
// the scene is posed.  The tool holds the scene in its own records rather
// than the viewer's globals.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/records.h"
#include "scene/scene.h"
#include "scene/scene_content.h"

namespace render_tool {

// The size of a frame the tool renders: the window's unless asked otherwise.
struct FrameSize {
  int width = kFrameWidth;
  int height = kFrameHeight;

  std::size_t pixel_count() const { return static_cast<std::size_t>(width) * static_cast<std::size_t>(height); }
  bool operator==(const FrameSize&) const = default;
};

// The frame size, the animation's clock and the scene are the program's own
// (scene/): the tool renders the frames the viewer would.

// The clock of the viewer's first frame: one step at 60 frames per second.
float first_viewer_clock();

// The clocks of `frames` animation frames at `rate` frames per second, one
// Animation step before every frame as the viewer takes it, so clocks[0] is
// already one step on.
std::vector<float> animation_clocks(int frames, float rate);

// Where one frame's time went, in milliseconds.
struct FrameTiming {
  double upload_ms = 0.0;    // the scene into the kernel's stores
  double kernel_ms = 0.0;    // launch and the whole kernel run
  double readback_ms = 0.0;  // the frame copied back to the host
  double frame_ms() const { return upload_ms + kernel_ms + readback_ms; }
};

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

}  // namespace render_tool
