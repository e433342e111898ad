// The kernel module: `ray_trace`, its two constant stores and the sphere
// texture.  The module is compiled into the host layer's translation unit
// (gpu/rtlib.cu), so that on the GPU the stores are visible to the copies
// there without relocatable device code; this header serves CPU-side code
// that needs to name them: the CPU back-end's launch, tests and tools.
#pragma once

#include "gpu/runtime.h"
#include "scene/records.h"

#if !VELMORA_CUDA_BUILD

struct SceneView;

// Constant stores: 32 Material records and 8 PointLight records, raw bytes
// as the uploads copy them.
extern unsigned char materials_dump[kMaterialStoreBytes];
extern unsigned char point_lights_dump[kLightStoreBytes];

// The texture object over the sphere buffer, 0 while none is bound.
extern cudaTextureObject_t spheres_texture;

// What the trace reads, from the stores above: the sphere texels that the
// bound texture covers, the materials as uploaded and the position of light 0.
SceneView scene_from_stores();

// One thread per pixel: pixel (x, y) of the launch gets the word at
// pixels[y * width + x].  No bounds test; the launch covers whole blocks.
// Defined by the CPU back-end (cpu_backend/block_trace.cpp), which traces
// a whole block in one call.
void ray_trace(unsigned int* pixels, int width, int height);

#endif
