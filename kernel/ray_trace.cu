// The kernel `ray_trace`: every thread traces one pixel and writes one word.
//
// On the GPU a thread finds its pixel from the launch values.  On the CPU
// the runtime calls the kernel once per block (blockIdx and blockDim set for
// that block), and one call runs all of the block's threads: as packs of
// SIMD lanes over square sub-tiles of the block, or one pixel at a time.
// This file is compiled as part of gpu/rtlib.cu.

#include <cstdint>

#include "gpu/runtime.h"
#include "kernel/trace.h"
#include "scene/records.h"

#if VELMORA_CUDA_BUILD
#define VELMORA_CONSTANT __constant__
#else
#define VELMORA_CONSTANT
#include <atomic>
#include "kernel/ray_trace.h"
#endif

// The constant stores, filled by the uploads, and the texture over the
// sphere buffer, bound by gpu_init.
VELMORA_CONSTANT alignas(16) unsigned char materials_dump[kMaterialStoreBytes];
VELMORA_CONSTANT alignas(16) unsigned char point_lights_dump[kLightStoreBytes];
VELMORA_CONSTANT cudaTextureObject_t spheres_texture;

namespace {

// What the trace reads, from the module's stores: the materials as they
// were uploaded and the position of light 0.
// The texture is bound over the whole 1024-byte sphere buffer: 64 texels.
VELMORA_HOST_DEVICE SceneView scene_from_stores() {
  SceneView scene;
  const auto* light = reinterpret_cast<const PointLight*>(point_lights_dump);
#if VELMORA_DEVICE_CODE
  scene.sphere_texture = spheres_texture;
  scene.sphere_texel_count = kSphereBufferBytes / sizeof(SphereTexel);
#elif VELMORA_CUDA_BUILD
  // The host pass of a CUDA build never traces; it cannot read the
  // constant store either.
  scene.sphere_texture = 0;
  scene.sphere_texel_count = 0;
#else
  const cpurt::TextureMemory spheres = cpurt::texture_memory(spheres_texture);
  scene.sphere_texels = static_cast<const SphereTexel*>(spheres.base);
  scene.sphere_texel_count = static_cast<int>(spheres.bytes / sizeof(SphereTexel));
#endif
  scene.materials = reinterpret_cast<const Material*>(materials_dump);
  scene.light_position = Vec4(light->position.x, light->position.y, light->position.z);
  return scene;
}

#if !VELMORA_CUDA_BUILD

std::atomic<CpuKernel> cpu_kernel{CpuKernel::simd};

using Pack = lanes::NativePack;
constexpr int kLanes = lanes::LaneTypes<Pack>::width;

// Sub-tile of the block traced as one pack: 4 x 4 for 16 lanes, 4 x 2 for 8,
// 2 x 2 for 4.  Square tiles keep neighbouring rays, and so their branches
// through the bounce loop, together.
constexpr int kTileWidth = kLanes >= 8 ? 4 : 2;
constexpr int kTileHeight = kLanes / kTileWidth;

// Both block routines inline the whole trace into one function: left to its
// own judgement, GCC keeps the lane operations as calls and the packed trace
// runs at half speed.
__attribute__((flatten)) void trace_block_scalar(const SceneView& scene, unsigned int* pixels, int width, int height) {
  for (unsigned ty = 0; ty < blockDim.y; ++ty) {
    for (unsigned tx = 0; tx < blockDim.x; ++tx) {
      const int x = static_cast<int>(blockIdx.x * blockDim.x + tx);
      const int y = static_cast<int>(blockIdx.y * blockDim.y + ty);
      pixels[y * width + x] = trace_pixel<float>(scene, x, y, width, height);
    }
  }
}

__attribute__((flatten)) void trace_block_packed(const SceneView& scene, unsigned int* pixels, int width, int height) {
  using Int = lanes::Int<Pack>;
  const int block_x = static_cast<int>(blockIdx.x * blockDim.x);
  const int block_y = static_cast<int>(blockIdx.y * blockDim.y);
  const int block_w = static_cast<int>(blockDim.x);
  const int block_h = static_cast<int>(blockDim.y);
  for (int ty = 0; ty < block_h; ty += kTileHeight) {
    for (int tx = 0; tx < block_w; tx += kTileWidth) {
      // Lanes that fall outside a block whose size is not a multiple of the
      // tile trace a clamped pixel and are not stored.
      const Int lane_x([&](auto i) { return tx + static_cast<int>(i) % kTileWidth; });
      const Int lane_y([&](auto i) { return ty + static_cast<int>(i) / kTileWidth; });
      const Int x = block_x + lanes::stdx::min(lane_x, Int(block_w - 1));
      const Int y = block_y + lanes::stdx::min(lane_y, Int(block_h - 1));
      const auto words = trace_pixel<Pack>(scene, x, y, width, height);
      for (int i = 0; i < kLanes; ++i) {
        if (lane_x[i] < block_w && lane_y[i] < block_h) pixels[y[i] * width + x[i]] = words[i];
      }
    }
  }
}

#endif

}  // namespace

#if VELMORA_CUDA_BUILD

__global__ void ray_trace(unsigned int* pixels, int width, int height) {
  const int x = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
  const int y = static_cast<int>(blockIdx.y * blockDim.y + threadIdx.y);
  const SceneView scene = scene_from_stores();
  pixels[y * width + x] = trace_pixel<float>(scene, x, y, width, height);
}

#else

void ray_trace(unsigned int* pixels, int width, int height) {
  const SceneView scene = scene_from_stores();
  if (cpu_kernel.load(std::memory_order_relaxed) == CpuKernel::scalar) {
    trace_block_scalar(scene, pixels, width, height);
  } else {
    trace_block_packed(scene, pixels, width, height);
  }
}

void ray_trace_set_cpu_kernel(CpuKernel kernel) { cpu_kernel.store(kernel); }
CpuKernel ray_trace_cpu_kernel() { return cpu_kernel.load(); }
int ray_trace_simd_lanes() { return kLanes; }

#endif
