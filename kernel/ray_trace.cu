// The kernel module: the constant stores, the texture over the sphere
// buffer, what the trace reads from them, and on the GPU the kernel
// `ray_trace`, in which every thread traces one pixel and writes one word.
// The CUDA back-end compiles it with relocatable device code, so that the
// host layer's copies in rtlib.cu reach the stores defined here; the CPU
// back-end compiles it as C++ and runs the same trace block by block
// (cpu_backend/block_trace.cpp).

#include "kernel/ray_trace.h"

#include "runtime/runtime.h"
#include "kernel/trace.h"
#include "scene/records.h"

// The constant stores, filled by the uploads, and the texture over the
// sphere buffer, bound by gpu_init.  sphere_count is the number of spheres
// the last sphere upload wrote, which the trace tests.
VELMORA_CONSTANT alignas(16) unsigned char materials_dump[kMaterialStoreBytes];
VELMORA_CONSTANT int sphere_count;
VELMORA_CONSTANT alignas(16) unsigned char point_lights_dump[kLightStoreBytes];
VELMORA_CONSTANT cudaTextureObject_t spheres_texture;

// The GPU reads the spheres through the texture, bound over the whole
// sphere buffer; the CPU reads the memory the texture covers.
#if VELMORA_CUDA_BUILD
__device__
#endif
SceneView scene_from_stores() {
  SceneView scene;
#if VELMORA_CUDA_BUILD
  scene.sphere_texture = spheres_texture;
  scene.sphere_texel_count = kSphereBufferBytes / sizeof(SphereTexel);
#else
  const TextureMemory spheres = texture_memory(spheres_texture);
  scene.sphere_texels = static_cast<const SphereTexel*>(spheres.base);
  scene.sphere_texel_count = static_cast<int>(spheres.bytes / sizeof(SphereTexel));
#endif
  scene.sphere_count = sphere_count;
  scene.materials = reinterpret_cast<const Material*>(materials_dump);
  const auto* light = reinterpret_cast<const PointLight*>(point_lights_dump);
  scene.light_position = Vec4(light->position.x, light->position.y, light->position.z);
  return scene;
}

#if VELMORA_CUDA_BUILD

__global__ void ray_trace(unsigned int* pixels, int width, int height) {
  const int x = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
  const int y = static_cast<int>(blockIdx.y * blockDim.y + threadIdx.y);
  pixels[y * width + x] = trace_pixel<float>(scene_from_stores(), x, y, width, height);
}

#endif
