// Frames made by the GPU host layer through make_frame, the viewer's own
// frame path, with whichever back-end the program is linked with.
#pragma once

#include "frame/frame_renderer.h"

class HostLayerRenderer final : public FrameRenderer {
 public:
  // Creates the device context for a frame of `frame_size`.  One renderer at
  // a time: the host layer holds one context in its globals, so a second
  // renderer while one is live throws std::logic_error.
  explicit HostLayerRenderer(FrameSize frame_size);
  ~HostLayerRenderer() override;
  HostLayerRenderer(const HostLayerRenderer&) = delete;
  HostLayerRenderer& operator=(const HostLayerRenderer&) = delete;

  // Uploads `scene`, renders and reads back.
  FrameTiming render(const SceneContent& scene, std::span<std::uint32_t> pixels) override;

  // Makes later frames `frame_size`: a new device frame buffer of that size,
  // the sphere buffer and the stores kept.  Nothing happens when the size is
  // the same.
  void resize(FrameSize frame_size);
};
