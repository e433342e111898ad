#include "tools/render/host_renderer.h"

#include <chrono>
#include <stdexcept>

#include "gpu/rtlib.h"

namespace render_tool {

HostLayerRenderer::HostLayerRenderer(FrameSize frame_size) : FrameRenderer(frame_size) {
  gpu_init(size().width, size().height);
}

void HostLayerRenderer::resize(FrameSize frame_size) {
  if (frame_size == size()) return;
  gpu_release();
  set_size(frame_size);
  gpu_init(size().width, size().height);
}

HostLayerRenderer::~HostLayerRenderer() { gpu_release(); }

FrameTiming HostLayerRenderer::render(const SceneContent& scene, std::span<std::uint32_t> pixels) {
  if (pixels.size() < size().pixel_count()) {
    throw std::invalid_argument("HostLayerRenderer::render: the pixel buffer is too small");
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  upload_scene(scene);
  const double upload_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

  LaunchTimes times{};
  render_frame_timed(pixels.data(), &times);
  return FrameTiming{upload_ms, times.kernel_ms, times.readback_ms};
}

}  // namespace render_tool
