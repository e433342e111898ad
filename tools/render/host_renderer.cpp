#include "tools/render/host_renderer.h"

#include <atomic>
#include <chrono>
#include <stdexcept>

#include "gpu/rtlib.h"

namespace render_tool {
namespace {

// Whether a renderer holds the host layer's context.  Claimed before the
// context is made, so that two threads cannot both make one.
std::atomic<bool> context_taken{false};

void claim_host_layer() {
  if (context_taken.exchange(true)) {
    throw std::logic_error(
        "HostLayerRenderer: another renderer is live; the host layer holds one device context");
  }
}

}  // namespace

HostLayerRenderer::HostLayerRenderer(FrameSize frame_size) : FrameRenderer(frame_size) {
  claim_host_layer();
  gpu_init(size().width, size().height);
}

void HostLayerRenderer::resize(FrameSize frame_size) {
  if (frame_size == size()) return;
  gpu_resize(frame_size.width, frame_size.height);
  set_size(frame_size);
}

HostLayerRenderer::~HostLayerRenderer() {
  gpu_release();
  context_taken.store(false);
}

FrameTiming HostLayerRenderer::render(const SceneRecords& scene, std::span<std::uint32_t> pixels) {
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
