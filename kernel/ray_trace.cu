// The kernel module: the constant stores, the texture over the sphere
// buffer, and on the GPU the kernel `ray_trace`, in which every thread
// traces one pixel and writes one word.  This file is compiled as part of
// gpu/rtlib.cu.  The CPU back-end runs the same trace block by block
// (cpu_backend/block_trace.cpp).

#include "gpu/backend.h"
#include "scene/records.h"

#if VELMORA_CUDA_BUILD
#define VELMORA_CONSTANT __constant__
#include "kernel/trace.h"
#else
#define VELMORA_CONSTANT
#include "kernel/ray_trace.h"
#endif

// The constant stores, filled by the uploads, and the texture over the
// sphere buffer, bound by gpu_init.
VELMORA_CONSTANT alignas(16) unsigned char materials_dump[kMaterialStoreBytes];
VELMORA_CONSTANT alignas(16) unsigned char point_lights_dump[kLightStoreBytes];
VELMORA_CONSTANT cudaTextureObject_t spheres_texture;

#if VELMORA_CUDA_BUILD

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
#else
  // The host pass never traces; it cannot read the constant store either.
  scene.sphere_texture = 0;
  scene.sphere_texel_count = 0;
#endif
  scene.materials = reinterpret_cast<const Material*>(materials_dump);
  scene.light_position = Vec4(light->position.x, light->position.y, light->position.z);
  return scene;
}

}  // namespace

__global__ void ray_trace(unsigned int* pixels, int width, int height) {
  const int x = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
  const int y = static_cast<int>(blockIdx.y * blockDim.y + threadIdx.y);
  const SceneView scene = scene_from_stores();
  pixels[y * width + x] = trace_pixel<float>(scene, x, y, width, height);
}

#endif
