// The kernel `ray_trace` on the CPU back-end: the runtime calls it once per
// block (blockIdx and blockDim set for that block), and one call traces the
// block's pixels, reading the scene from the module's stores.

#include "cpu_backend/block_trace.h"

#include <atomic>
#include <cstring>

#include "gpu/backend.h"
#include "cpu_backend/stage_trace.h"
#include "kernel/ray_trace.h"
#include "kernel/trace.h"
#include "scene/records.h"

namespace {

std::atomic<CpuKernel> cpu_kernel{CpuKernel::simd};

using Pack = lanes::NativePack;
constexpr int kLanes = lanes::LaneTypes<Pack>::width;

// Sub-tile of the block traced as one pack (by the stage-by-stage path: whose
// camera rays make one pack): 4 x 4 for 16 lanes, 4 x 2 for 8, 2 x 2 for 4.
// Square tiles keep neighbouring rays, and so their branches through the
// bounce loop and their table reads, together (8 x 2 measured no better).
constexpr int kTileWidth = kLanes >= 8 ? 4 : 2;
constexpr int kTileHeight = kLanes / kTileWidth;

// What the trace reads, from the module's stores: the sphere texels that
// the bound texture covers, the materials as they were uploaded and the
// position of light 0.
SceneView scene_from_stores() {
  SceneView scene;
  const cpurt::TextureMemory spheres = cpurt::texture_memory(spheres_texture);
  scene.sphere_texels = static_cast<const SphereTexel*>(spheres.base);
  scene.sphere_texel_count = static_cast<int>(spheres.bytes / sizeof(SphereTexel));
  scene.materials = reinterpret_cast<const Material*>(materials_dump);
  const auto* light = reinterpret_cast<const PointLight*>(point_lights_dump);
  scene.light_position = Vec4(light->position.x, light->position.y, light->position.z);
  return scene;
}

// The whole-loop routines inline the whole trace into one function: left to
// its own judgement, GCC keeps the lane operations as calls and the packed
// trace runs at half speed.  (The stage-by-stage passes do the same, each
// pass for itself.)
__attribute__((flatten)) void trace_block_scalar(const SceneView& scene, unsigned int* pixels, int width, int height) {
  const TracedSpheres<float> spheres = traced_spheres<float>(scene);
  for (unsigned ty = 0; ty < blockDim.y; ++ty) {
    for (unsigned tx = 0; tx < blockDim.x; ++tx) {
      const int x = static_cast<int>(blockIdx.x * blockDim.x + tx);
      const int y = static_cast<int>(blockIdx.y * blockDim.y + ty);
      pixels[y * width + x] = trace_pixel<float>(scene, spheres, x, y, width, height);
    }
  }
}

__attribute__((flatten)) void trace_block_packed(const SceneView& scene, unsigned int* pixels, int width, int height) {
  using Int = lanes::Int<Pack>;
  const int block_x = static_cast<int>(blockIdx.x * blockDim.x);
  const int block_y = static_cast<int>(blockIdx.y * blockDim.y);
  const int block_w = static_cast<int>(blockDim.x);
  const int block_h = static_cast<int>(blockDim.y);
  const TracedSpheres<Pack> spheres = traced_spheres<Pack>(scene);
  for (int ty = 0; ty < block_h; ty += kTileHeight) {
    for (int tx = 0; tx < block_w; tx += kTileWidth) {
      // Lanes that fall outside a block whose size is not a multiple of the
      // tile trace a clamped pixel and are not stored.
      const Int lane_x([&](auto i) { return tx + static_cast<int>(i) % kTileWidth; });
      const Int lane_y([&](auto i) { return ty + static_cast<int>(i) / kTileWidth; });
      const Int x = block_x + lanes::stdx::min(lane_x, Int(block_w - 1));
      const Int y = block_y + lanes::stdx::min(lane_y, Int(block_h - 1));
      alignas(64) unsigned int words[kLanes];
      trace_pixel<Pack>(scene, spheres, x, y, width, height).copy_to(words, lanes::stdx::vector_aligned);
      if (tx + kTileWidth <= block_w && ty + kTileHeight <= block_h) {
        // A whole tile: its rows go to the frame as they are.
        for (int row = 0; row < kTileHeight; ++row) {
          std::memcpy(&pixels[(block_y + ty + row) * width + block_x + tx], &words[row * kTileWidth],
                      sizeof(unsigned int) * kTileWidth);
        }
        continue;
      }
      for (int i = 0; i < kLanes; ++i) {
        if (lane_x[i] < block_w && lane_y[i] < block_h) pixels[y[i] * width + x[i]] = words[i];
      }
    }
  }
}

void trace_block_in_stages(const SceneView& scene, unsigned int* pixels, int width, int height) {
  stage_trace::trace_block_in_stages<Pack>(scene, pixels, width, height, static_cast<int>(blockIdx.x * blockDim.x),
                                           static_cast<int>(blockIdx.y * blockDim.y), static_cast<int>(blockDim.x),
                                           static_cast<int>(blockDim.y), kTileWidth, kTileHeight);
}

}  // namespace

void ray_trace(unsigned int* pixels, int width, int height) {
  const SceneView scene = scene_from_stores();
  switch (cpu_kernel.load(std::memory_order_relaxed)) {
    case CpuKernel::scalar:
      trace_block_scalar(scene, pixels, width, height);
      break;
    case CpuKernel::simd:
      trace_block_packed(scene, pixels, width, height);
      break;
    case CpuKernel::stages:
      trace_block_in_stages(scene, pixels, width, height);
      break;
  }
}

void ray_trace_set_cpu_kernel(CpuKernel kernel) { cpu_kernel.store(kernel); }
CpuKernel ray_trace_cpu_kernel() { return cpu_kernel.load(); }
int ray_trace_simd_lanes() { return kLanes; }
