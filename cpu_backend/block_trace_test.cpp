#include "cpu_backend/block_trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/runtime.h"
#include "kernel/host_scene.h"
#include "scene/initial_scene_data.h"

namespace {

// The frame as the runtime's launch would leave it, block after block on
// this thread: every kernel variant, the packed ones in groups of packs.
std::vector<std::uint32_t> trace_in_blocks(const CpuKernel& kernel, const SceneView& scene, int width, int height,
                                           int block_width, int block_height) {
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0u);
  blockDim = dim3(static_cast<unsigned>(block_width), static_cast<unsigned>(block_height), 1);
  for (int by = 0; by < height / block_height; ++by) {
    for (int bx = 0; bx < width / block_width; ++bx) {
      blockIdx = uint3{static_cast<unsigned>(bx), static_cast<unsigned>(by), 0};
      kernel.trace_block(scene, pixels.data(), width, height);
    }
  }
  return pixels;
}

int differing_words(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  int differing = 0;
  for (std::size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
  return differing;
}

// Over an animation period, every kernel variant's frame equals the scalar
// trace word for word, with the launch's 8 x 8 blocks and with blocks that
// split the packs' tiles and the groups of packs (a last tile or group cut
// short, or a block smaller than one group).
TEST(BlockTrace, EveryKernelEqualsTheScalarTraceOverAnAnimationPeriod) {
  struct Shape {
    int width, height, block_width, block_height;
  };
  const Shape shapes[] = {{320, 240, 8, 8}, {240, 120, 12, 10}, {240, 120, 5, 3}};
  const int clocks = 16;
  for (const Shape& shape : shapes) {
    std::vector<std::uint32_t> scalar(static_cast<std::size_t>(shape.width) * shape.height);
    for (int k = 0; k < clocks; ++k) {
      const float clock = 1.0f + 6.2831853f * static_cast<float>(k) / clocks;
      const HostScene scene(scene_at_clock(clock));
      trace_frame_scalar(scene.view(), shape.width, shape.height, scalar.data());
      for (const CpuKernel& kernel : cpu_kernels()) {
        const std::vector<std::uint32_t> traced = trace_in_blocks(
            kernel, scene.view(), shape.width, shape.height, shape.block_width, shape.block_height);
        EXPECT_EQ(differing_words(traced, scalar), 0)
            << kernel.name << " kernel, " << shape.width << " x " << shape.height << " in " << shape.block_width
            << " x " << shape.block_height << " blocks, clock " << clock;
      }
    }
  }
}

}  // namespace
