// The kernel module: `ray_trace`, its two constant stores and the sphere
// texture, defined in ray_trace.cu.  The host layer (rtlib/) copies into
// the stores and launches the kernel through these names; the CPU back-end,
// its tests and the tools name them too.
#pragma once

#include "runtime/runtime.h"
#include "scene/records.h"

// The stores live in the GPU's constant memory; on the CPU they are plain
// host objects, registered with the CPU runtime as the module's symbols.
#if VELMORA_CUDA_BUILD
#define VELMORA_CONSTANT __constant__
#else
#define VELMORA_CONSTANT
#endif

// Constant stores: 32 Material records and 8 PointLight records, raw bytes
// as the uploads copy them (16-byte aligned where they are defined).
extern VELMORA_CONSTANT unsigned char materials_dump[kMaterialStoreBytes];
extern VELMORA_CONSTANT unsigned char point_lights_dump[kLightStoreBytes];

// The number of spheres the last sphere upload wrote: the ones the trace
// tests, up to the buffer's 32.
extern VELMORA_CONSTANT int sphere_count;

// The texture object over the sphere buffer, 0 while none is bound.
extern VELMORA_CONSTANT cudaTextureObject_t spheres_texture;

#if VELMORA_CUDA_BUILD

// One thread per pixel: pixel (x, y) of the launch gets the word at
// pixels[y * width + x].  No bounds test; the launch covers whole blocks.
__global__ void ray_trace(unsigned int* pixels, int width, int height);

#else

struct SceneView;

// What the trace reads, from the stores above: the sphere texels that the
// bound texture covers, the materials as uploaded and the position of light 0.
SceneView scene_from_stores();

// As on the GPU, but defined by the CPU back-end
// (cpu_backend/block_trace.cpp), which traces a whole block in one call.
void ray_trace(unsigned int* pixels, int width, int height);

#endif
