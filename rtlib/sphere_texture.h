// The settings of the texture through which the kernel reads the sphere
// buffer: integer texel indices, no filtering, clamped addressing, four
// 32-bit unsigned channels (16 bytes per texel).  gpu_init creates the
// texture with these settings.
#pragma once

#include "runtime/runtime.h"

struct SphereTextureSettings {
  int normalized;                          // 0: texel indices, not 0 to 1
  cudaTextureFilterMode filter_mode;       // point: no interpolation
  cudaTextureAddressMode address_mode[2];  // clamp out-of-range indices
  cudaChannelFormatDesc channel;           // 32, 32, 32, 32, unsigned
};

// Holds its values from static initialisation on, before any constructor
// of the program runs.
extern const SphereTextureSettings spheres_texture_settings;
