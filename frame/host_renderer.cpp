#include "frame/host_renderer.h"

#include <atomic>
#include <stdexcept>

#include "rtlib/rtlib.h"

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

FrameTiming HostLayerRenderer::render(const SceneContent& scene, std::span<std::uint32_t> pixels) {
  if (pixels.size() < size().pixel_count()) {
    throw std::invalid_argument("HostLayerRenderer::render: the pixel buffer is too small");
  }
  return make_frame(FrameScene{scene.spheres, scene.lights, scene.materials}, pixels.data(), FrameReport::timings);
}
