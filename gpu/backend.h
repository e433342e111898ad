// What a back-end is: the GPU runtime that the host layer (rtlib.cu) and the
// kernel module are compiled against, and the controls a tool may turn.
//
// There are two back-ends, built from the same rtlib.cu:
//   - the CUDA back-end (gpu/), compiled by nvcc against the CUDA runtime;
//   - the CPU back-end (cpu_backend/), compiled by g++ against Velmora's
//     CPU runtime (cpu_runtime/), which offers the same calls with the same
//     semantics and runs the kernel's blocks on the host's cores.
// A program picks one by the library it links.
#pragma once

#include <string>

#include "common/host_device.h"

#if VELMORA_CUDA_BUILD
#include <cuda_runtime.h>
#else
#include "cpu_runtime/runtime.h"
#endif

struct BackendInfo {
  std::string backend;      // "cpu" or "cuda"
  std::string device_name;  // the CPU's model name, or the GPU's name ("" without a device)
  int threads;              // CPU threads running the blocks; 0 on the GPU
  int lanes;                // pixels traced per call of the trace on the CPU; 1 on the GPU
  std::string kernel;       // "simd", "stages" or "scalar"
};

// The name of device 0 as the runtime reports it; "" without a device, and
// the failed query then leaves no error behind for the caller.
inline std::string first_device_name() {
  cudaDeviceProp properties;
  if (cudaGetDeviceProperties(&properties, 0) == cudaSuccess) return properties.name;
  (void)cudaGetLastError();
  return "";
}

// Each back-end library defines these three for itself.
BackendInfo backend_info();

// Runs the blocks of later launches on n threads (0: every core).  False,
// changing nothing, for a negative n and on the GPU.
bool set_backend_threads(int n);

// Selects the CPU kernel path, "simd", "stages" or "scalar".  False, changing
// nothing, for any other name and on the GPU.
bool set_backend_kernel(const std::string& name);
