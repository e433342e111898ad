// The kernel module: `ray_trace`, its two constant stores and the sphere
// texture.  The module is compiled into the host layer's translation unit
// (gpu/rtlib.cu), so that on the GPU the stores are visible to the copies
// there without relocatable device code; this header serves CPU-side code
// (tests, tools) that needs to name them.
#pragma once

#include "gpu/backend.h"
#include "scene/records.h"

#if !VELMORA_CUDA_BUILD

// Constant stores: 32 Material records and 8 PointLight records, raw bytes
// as the uploads copy them.
extern unsigned char materials_dump[kMaterialStoreBytes];
extern unsigned char point_lights_dump[kLightStoreBytes];

// The texture object over the sphere buffer, 0 while none is bound.
extern cudaTextureObject_t spheres_texture;

// One thread per pixel: pixel (x, y) of the launch gets the word at
// pixels[y * width + x].  No bounds test; the launch covers whole blocks.
// Defined by the CPU back-end (cpu_backend/block_trace.cpp), which traces
// a whole block in one call.
void ray_trace(unsigned int* pixels, int width, int height);

#endif
