// The kernel `ray_trace` on the CPU back-end: the runtime calls it once per
// block (blockIdx and blockDim set for that block), and one call traces the
// block's pixels, reading the scene from the module's stores.

#include "cpu_backend/block_trace.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <type_traits>

#include "gpu/runtime.h"
#include "kernel/ray_trace.h"
#include "kernel/trace.h"

namespace {

// The lane value whose lane i is lane(i).
template <class T, class LaneValue>
T lane_values(LaneValue lane) {
  if constexpr (std::is_arithmetic_v<T>) {
    return lane(0);
  } else {
    return T(lane);
  }
}

template <class T>
void store_lanes(const T& v, unsigned int* words) {
  if constexpr (std::is_arithmetic_v<T>) {
    words[0] = v;
  } else {
    v.copy_to(words, lanes::stdx::vector_aligned);
  }
}

// Traces the block in square sub-tiles of one pack each: 4 x 4 for 16
// lanes, 4 x 2 for 8, 2 x 2 for 4, and 1 x 1 for `float`, the pixel a CUDA
// thread traces.  Square tiles keep neighbouring rays, and so their
// branches through the bounce loop and their table reads, together (8 x 2
// measured no better).
//
// Flattened: left to its own judgement, GCC keeps the lane operations as
// calls and the packed trace runs at half speed.
template <class Float>
__attribute__((flatten)) void trace_block(const SceneView& scene, unsigned int* pixels, int width, int height) {
  using Int = lanes::Int<Float>;
  constexpr int kLanes = lanes::LaneTypes<Float>::width;
  constexpr int kTileWidth = kLanes >= 8 ? 4 : (kLanes >= 2 ? 2 : 1);
  constexpr int kTileHeight = kLanes / kTileWidth;
  const int block_x = static_cast<int>(blockIdx.x * blockDim.x);
  const int block_y = static_cast<int>(blockIdx.y * blockDim.y);
  const int block_w = static_cast<int>(blockDim.x);
  const int block_h = static_cast<int>(blockDim.y);
  const TracedSpheres<Float> spheres = traced_spheres<Float>(scene);
  for (int ty = 0; ty < block_h; ty += kTileHeight) {
    for (int tx = 0; tx < block_w; tx += kTileWidth) {
      // Lanes that fall outside a block whose size is not a multiple of the
      // tile trace a clamped pixel and are not stored.
      const Int x = lane_values<Int>(
          [&](auto i) { return block_x + std::min(tx + static_cast<int>(i) % kTileWidth, block_w - 1); });
      const Int y = lane_values<Int>(
          [&](auto i) { return block_y + std::min(ty + static_cast<int>(i) / kTileWidth, block_h - 1); });
      alignas(64) unsigned int words[kLanes];
      store_lanes(trace_pixel<Float>(scene, spheres, x, y, width, height), words);
      if (tx + kTileWidth <= block_w && ty + kTileHeight <= block_h) {
        // A whole tile: its rows go to the frame as they are.
        for (int row = 0; row < kTileHeight; ++row) {
          std::memcpy(&pixels[(block_y + ty + row) * width + block_x + tx], &words[row * kTileWidth],
                      sizeof(unsigned int) * kTileWidth);
        }
        continue;
      }
      for (int i = 0; i < kLanes; ++i) {
        const int lane_x = tx + i % kTileWidth;
        const int lane_y = ty + i / kTileWidth;
        if (lane_x < block_w && lane_y < block_h) pixels[(block_y + lane_y) * width + block_x + lane_x] = words[i];
      }
    }
  }
}

using Pack = lanes::NativePack;

constexpr CpuKernel kCpuKernels[] = {
    {"simd", "packs of pixels, the default", trace_block<Pack>, lanes::LaneTypes<Pack>::width},
    {"scalar", "one pixel per call, as a CUDA thread", trace_block<float>, 1},
};

std::atomic<const CpuKernel*> selected{&kCpuKernels[0]};

}  // namespace

std::span<const CpuKernel> cpu_kernels() { return kCpuKernels; }
void select_cpu_kernel(const CpuKernel& kernel) { selected.store(&kernel); }
const CpuKernel& selected_cpu_kernel() { return *selected.load(); }

void ray_trace(unsigned int* pixels, int width, int height) {
  selected.load(std::memory_order_relaxed)->trace_block(scene_from_stores(), pixels, width, height);
}
