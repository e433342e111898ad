#include "tools/render/host_renderer.h"

#include <chrono>
#include <stdexcept>

#include "gpu/rtlib.h"

namespace render_tool {

HostLayerRenderer::HostLayerRenderer(const SceneRecords& scene, FrameSize frame_size)
    : FrameRenderer(frame_size) {
  gpu_init(frame_size.width, frame_size.height);
  upload_materials(scene.materials, kInitialMaterialCount);
}

HostLayerRenderer::~HostLayerRenderer() { gpu_release(); }

FrameTiming HostLayerRenderer::render(const SceneRecords& scene, std::span<std::uint32_t> pixels) {
  if (pixels.size() < size().pixel_count()) {
    throw std::invalid_argument("HostLayerRenderer::render: the pixel buffer is too small");
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  upload_spheres(scene.spheres, kInitialSphereCount);
  upload_lights(scene.lights, kInitialLightCount);
  const double upload_ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();

  FrameTimes times{};
  render_frame_timed(pixels.data(), &times);
  return FrameTiming{upload_ms, times.kernel_ms, times.readback_ms};
}

}  // namespace render_tool
