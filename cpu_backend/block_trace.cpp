// The kernel `ray_trace` on the CPU back-end: the runtime calls it once per
// block (blockIdx and blockDim set for that block), and one call traces the
// block's pixels, reading the scene from the module's stores.

#include "cpu_backend/block_trace.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "runtime/runtime.h"
#include "kernel/culling.h"
#include "kernel/ray_trace.h"
#include "kernel/trace.h"

namespace {

// A scene of up to four spheres (kFewSpheres), the built-in one among them,
// is traced with a table of four, which is made at a fraction of the cost
// of the store's 32 and searched unrolled.

// The lane value whose lane i is lane(i).
template <class T, class LaneValue>
T lane_values(LaneValue lane) {
  if constexpr (std::is_arithmetic_v<T>) {
    return lane(0);
  } else {
    return T(lane);
  }
}

// Lane by lane, the smaller of two integers.
template <class T>
T lane_min(const T& a, const T& b) {
  if constexpr (std::is_arithmetic_v<T>) {
    return std::min(a, b);
  } else {
    return lanes::stdx::min(a, b);
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

// The tables a block traces with, the traced spheres and the culling,
// depend on the spheres and the light alone, and every block of a frame
// reads the same ones.  Made afresh for each 8 x 8 block they took a tenth
// of the frame, so each worker keeps the last ones it made, with the texels
// and the light they were made from, and makes them again only when the
// stores hold others: same texels, same tables, and the words do not change.
// The stores are compared once per launch, which cannot change them.
template <class Float, int kRoom>
struct BlockTables {
  std::uint64_t launch = 0;  // the launch that last compared the stores
  int count = -1;            // none made yet
  SphereTexel texels[2 * kRoom] = {};
  Vec4 light;
  TracedSpheres<Float, kRoom> spheres;
  CameraCulling culling;
  ShadowCulling shadows;
  ContinuationCulling continuations;
};

template <class Float, int kRoom>
const BlockTables<Float, kRoom>& block_tables(const SceneView& scene) {
  thread_local BlockTables<Float, kRoom> tables;
  const std::uint64_t launch = launch_serial();
  if (launch != 0 && launch == tables.launch) return tables;
  tables.launch = launch;
  const int count = std::min(traced_sphere_count(scene), kRoom);
  SphereTexel texels[2 * kRoom] = {};
  for (int i = 0; i < 2 * count; ++i) texels[i] = fetch_texel(scene, i);
  const Vec4& light = scene.light_position;
  if (count != tables.count || std::memcmp(texels, tables.texels, 2 * count * sizeof(SphereTexel)) != 0 ||
      light.x != tables.light.x || light.y != tables.light.y || light.z != tables.light.z) {
    std::copy_n(texels, 2 * count, tables.texels);
    tables.count = count;
    tables.light = light;
    tables.spheres = traced_spheres<Float, kRoom>(scene);
    if constexpr (lanes::LaneTypes<Float>::width > 1) tables.culling = camera_culling(scene);
    // The culling after the camera's is used in larger tables only.
    if constexpr (lanes::LaneTypes<Float>::width > 1 && kRoom > kFewSpheres) {
      tables.shadows = shadow_culling(scene);
      tables.continuations = continuation_culling(scene);
    }
  }
  return tables;
}

// Traces the block in square sub-tiles of one pack each: 4 x 4 for 16
// lanes, 4 x 2 for 8, 2 x 2 for 4, and 1 x 1 for `float`, the pixel a CUDA
// thread traces.  Square tiles keep neighbouring rays, and so their
// branches through the bounce loop and their table reads, together (8 x 2
// measured no better).  The tiles go through the trace in groups of 64
// pixels, an 8 x 8 block's worth, whose packs take each step of a bounce in
// turn; the scalar trace goes pixel by pixel, as a CUDA thread does.
//
// Flattened: left to its own judgement, GCC keeps the lane operations as
// calls and the packed trace runs at half speed.
template <class Float, int kRoom>
__attribute__((flatten)) void trace_block_in(const SceneView& scene, unsigned int* pixels, int width, int height) {
  using Int = lanes::Int<Float>;
  using UInt = lanes::UInt<Float>;
  constexpr int kLanes = lanes::LaneTypes<Float>::width;
  constexpr int kTileWidth = kLanes >= 8 ? 4 : (kLanes >= 2 ? 2 : 1);
  constexpr int kTileHeight = kLanes / kTileWidth;
  constexpr int kPacks = kLanes == 1 ? 1 : std::max(1, 64 / kLanes);
  const int block_x = static_cast<int>(blockIdx.x * blockDim.x);
  const int block_y = static_cast<int>(blockIdx.y * blockDim.y);
  const int block_w = static_cast<int>(blockDim.x);
  const int block_h = static_cast<int>(blockDim.y);
  const int tiles_across = (block_w + kTileWidth - 1) / kTileWidth;
  const int tiles = tiles_across * ((block_h + kTileHeight - 1) / kTileHeight);
  const BlockTables<Float, kRoom>& tables = block_tables<Float, kRoom>(scene);
  const TracedSpheres<Float, kRoom>& spheres = tables.spheres;
  // Each lane's place in its tile, and the last column and row of the block.
  const Int lane_dx = lane_values<Int>([](auto i) { return static_cast<int>(i) % kTileWidth; });
  const Int lane_dy = lane_values<Int>([](auto i) { return static_cast<int>(i) / kTileWidth; });
  const Int last_x = Int(block_x + block_w - 1);
  const Int last_y = Int(block_y + block_h - 1);
  // The block-relative corner of the group's p-th tile; a last group short
  // of kPacks tiles repeats its last tile.
  const auto tile_corner = [&](int first, int p) {
    const int tile = std::min(first + p, tiles - 1);
    return std::pair{tile % tiles_across * kTileWidth, tile / tiles_across * kTileHeight};
  };
  for (int first = 0; first < tiles; first += kPacks) {
    Int x[kPacks];
    Int y[kPacks];
    int x_low = block_w, y_low = block_h, x_high = 0, y_high = 0;
    for (int p = 0; p < kPacks; ++p) {
      const auto [tx, ty] = tile_corner(first, p);
      x_low = std::min(x_low, tx);
      y_low = std::min(y_low, ty);
      x_high = std::max(x_high, std::min(tx + kTileWidth, block_w) - 1);
      y_high = std::max(y_high, std::min(ty + kTileHeight, block_h) - 1);
      // Lanes that fall outside a block whose size is not a multiple of the
      // tile trace a clamped pixel and are not stored.
      x[p] = lane_min(Int(block_x + tx) + lane_dx, last_x);
      y[p] = lane_min(Int(block_y + ty) + lane_dy, last_y);
    }
    // A group of packs skips the spheres that none of its camera rays can
    // reach; the scalar trace tests every sphere, as a CUDA thread does.
    SphereSet camera_spheres = spheres.all();
    if constexpr (kLanes > 1) {
      camera_spheres = camera_candidates(tables.culling, block_x + x_low, block_y + y_low, block_x + x_high,
                                         block_y + y_high, width, height);
    }
    UInt traced_words[kPacks];
    if constexpr (kLanes > 1 && kRoom > kFewSpheres) {
      const PackCulling pack_culling{tables.shadows, tables.continuations, spheres.count};
      trace_packs<Float, kPacks>(scene, spheres, x, y, width, height, camera_spheres, pack_culling, traced_words);
    } else {
      // A few spheres are tested faster than the culling could name them.
      trace_packs<Float, kPacks>(scene, spheres, x, y, width, height, camera_spheres, TestEverySphere{},
                                 traced_words);
    }
    for (int p = 0; p < kPacks && first + p < tiles; ++p) {
      const auto [tx, ty] = tile_corner(first, p);
      alignas(64) unsigned int words[kLanes];
      store_lanes(traced_words[p], words);
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

template <class Float>
void trace_block(const SceneView& scene, unsigned int* pixels, int width, int height) {
  if (traced_sphere_count(scene) <= kFewSpheres) {
    trace_block_in<Float, kFewSpheres>(scene, pixels, width, height);
  } else {
    trace_block_in<Float, kMaxSpheres>(scene, pixels, width, height);
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
