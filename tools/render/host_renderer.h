// Frames made by the GPU host layer, the same uploads, launch and read-back
// that the viewer uses, with whichever back-end the program is linked with.
#pragma once

#include "tools/render/frame_renderer.h"

namespace render_tool {

class HostLayerRenderer final : public FrameRenderer {
 public:
  // Creates the device context for a frame of `frame_size`.  One renderer at
  // a time: the host layer holds one context.
  explicit HostLayerRenderer(FrameSize frame_size);
  ~HostLayerRenderer() override;
  HostLayerRenderer(const HostLayerRenderer&) = delete;
  HostLayerRenderer& operator=(const HostLayerRenderer&) = delete;

  // Uploads `scene`, renders and reads back.
  FrameTiming render(const SceneContent& scene, std::span<std::uint32_t> pixels) override;

  // Makes later frames `frame_size`: the context is released and created
  // again for that size (the host layer knows one size per context).
  // Nothing happens when the size is the same.
  // Each new context allocates its own sphere buffer, which the host layer
  // keeps to the end of the process: about 1 KiB a resize.
  void resize(FrameSize frame_size);
};

}  // namespace render_tool
