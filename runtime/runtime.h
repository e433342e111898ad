// The GPU runtime that the host layer (rtlib/) and the kernel module
// (kernel/ray_trace.cu) are compiled against.  There are two back-ends,
// built from the same sources:
//   - the CUDA back-end (cuda_backend/), compiled by nvcc against the CUDA
//     runtime;
//   - the CPU back-end (cpu_backend/), compiled by g++ against Velmora's
//     CPU runtime (cpu_runtime/), which offers the same calls with the same
//     semantics and runs the kernel's blocks on the host's cores.
// A program picks one by the library it links; what a tool may turn on it
// is in runtime/backend_controls.h, which needs no runtime.
#pragma once

#include <string>

#include "common/host_device.h"

#if VELMORA_CUDA_BUILD
#include <cuda_runtime.h>
#else
#include "cpu_runtime/runtime.h"
#endif

// The name of device 0 as the runtime reports it; "" without a device, and
// the failed query then leaves no error behind for the caller.
inline std::string first_device_name() {
  cudaDeviceProp properties;
  if (cudaGetDeviceProperties(&properties, 0) == cudaSuccess) return properties.name;
  (void)cudaGetLastError();
  return "";
}

#if !VELMORA_CUDA_BUILD
// The memory a texture object covers, {nullptr, 0} for none: on the CPU the
// kernel reads a texture's texels straight from it, where CUDA code would
// fetch them through the texture unit.
using TextureMemory = cpurt::TextureMemory;
inline TextureMemory texture_memory(cudaTextureObject_t texture) { return cpurt::texture_memory(texture); }

// The serial number of the launch whose blocks this thread runs, 0 outside
// any: the stores stay as they are for the whole of a launch.
inline std::uint64_t launch_serial() { return cpurt::launch_serial(); }
#endif
