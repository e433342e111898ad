#include "frame/host_renderer.h"

#include <stdexcept>

#include "rtlib/rtlib.h"

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

FrameTiming HostLayerRenderer::render(const SceneRecords& scene, std::span<std::uint32_t> pixels) {
  if (pixels.size() < size().pixel_count()) {
    throw std::invalid_argument("HostLayerRenderer::render: the pixel buffer is too small");
  }
  return make_frame(FrameScene{scene.spheres, scene.lights, scene.materials}, pixels.data(), FrameReport::timings);
}
