// Every way the CPU build traces a frame gives the scalar trace's words:
// the back-end's kernels block by block, the packed trace at 4 lanes and at
// the machine's width, and the counting lanes.
#include "cpu_backend/block_trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "kernel/host_scene.h"
#include "lanes/counting_lanes.h"
#include "lanes/simd_lanes.h"
#include "scene/initial_scene_data.h"

namespace {

using Frame = std::vector<std::uint32_t>;

// The frame as the runtime's launch would leave it, block after block on
// this thread.
Frame trace_in_blocks(const CpuKernel& kernel, const SceneView& scene, int width, int height, int block_width,
                      int block_height) {
  Frame pixels(static_cast<std::size_t>(width) * height, 0u);
  blockDim = dim3(static_cast<unsigned>(block_width), static_cast<unsigned>(block_height), 1);
  for (int by = 0; by < height / block_height; ++by) {
    for (int bx = 0; bx < width / block_width; ++bx) {
      blockIdx = uint3{static_cast<unsigned>(bx), static_cast<unsigned>(by), 0};
      kernel.trace_block(scene, pixels.data(), width, height);
    }
  }
  return pixels;
}

// The frame traced with packs of Float lanes, each pack a run of
// consecutive pixels of one row.
template <class Float>
Frame trace_in_rows_of_packs(const SceneView& scene, int width, int height) {
  using Int = lanes::Int<Float>;
  constexpr int kLanes = lanes::LaneTypes<Float>::width;
  const TracedSpheres<Float> traced = traced_spheres<Float>(scene);
  Frame pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x0 = 0; x0 < width; x0 += kLanes) {
      const Int x([&](auto i) { return x0 + static_cast<int>(i); });
      const auto words = trace_pixel<Float>(scene, traced, x, Int(y), width, height);
      for (int i = 0; i < kLanes && x0 + i < width; ++i) pixels[y * width + x0 + i] = words[i];
    }
  }
  return pixels;
}

Frame trace_with_counted_lanes(const SceneView& scene, int width, int height) {
  const TracedSpheres<lanes::Counted> traced = traced_spheres<lanes::Counted>(scene);
  Frame pixels(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      pixels[y * width + x] = trace_pixel<lanes::Counted>(scene, traced, x, y, width, height);
    }
  }
  return pixels;
}

struct FrameTrace {
  std::string name;
  int width, height;
  std::function<Frame(const SceneView&, int, int)> trace;
};

// The ways, each at a frame size that exercises it: the kernels also with
// blocks that split the packs' tiles and the groups of packs (a last tile
// or group cut short, or a block smaller than one group).
std::vector<FrameTrace> frame_traces() {
  std::vector<FrameTrace> traces = {
      {"packs of 4 in rows", 320, 240, trace_in_rows_of_packs<lanes::Pack<4>>},
      {"packs of the machine's width in rows", 320, 240, trace_in_rows_of_packs<lanes::NativePack>},
      {"counting lanes", 320, 240, trace_with_counted_lanes},
  };
  struct Blocks {
    int width, height, block_width, block_height;
  };
  for (const CpuKernel& kernel : cpu_kernels()) {
    for (const Blocks b : {Blocks{320, 240, 8, 8}, Blocks{240, 120, 12, 10}, Blocks{240, 120, 5, 3}}) {
      traces.push_back({std::string(kernel.name) + " kernel in " + std::to_string(b.block_width) + " x " +
                            std::to_string(b.block_height) + " blocks",
                        b.width, b.height, [&kernel, b](const SceneView& scene, int width, int height) {
                          return trace_in_blocks(kernel, scene, width, height, b.block_width, b.block_height);
                        }});
    }
  }
  return traces;
}

int differing_words(const Frame& a, const Frame& b) {
  int differing = 0;
  for (std::size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
  return differing;
}

// The built-in scene before any clock, over an animation period, and far
// out, where the clock's float steps are coarse: in turn, so that the
// kernels' per-worker tables see the spheres move.
TEST(EveryTrace, EqualsTheScalarTraceWordForWord) {
  std::vector<std::pair<std::string, SceneRecords>> scenes = {{"the initial scene", initial_scene()}};
  constexpr int kClocks = 16;
  for (int k = 0; k < kClocks; ++k) {
    const float clock = 1.0f + 6.2831853f * static_cast<float>(k) / kClocks;
    scenes.emplace_back("clock " + std::to_string(clock), scene_at_clock(clock));
  }
  for (const float clock : {12345.678f, 3.0e6f}) scenes.emplace_back("clock " + std::to_string(clock), scene_at_clock(clock));
  const std::vector<FrameTrace> traces = frame_traces();
  for (const auto& [what, records] : scenes) {
    const HostScene scene(records);
    for (const FrameTrace& t : traces) {
      Frame scalar(static_cast<std::size_t>(t.width) * t.height);
      trace_frame_scalar(scene.view(), t.width, t.height, scalar.data());
      EXPECT_EQ(differing_words(t.trace(scene.view(), t.width, t.height), scalar), 0)
          << t.name << ", " << t.width << " x " << t.height << ", " << what;
    }
  }
}

}  // namespace
