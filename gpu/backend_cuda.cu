// Back-end controls, built into each back-end library: by nvcc for the
// CUDA runtime, as C++ (backend_cpu.cpp) for the CPU runtime.

#include "gpu/backend.h"

#include "gpu/runtime.h"

#if !VELMORA_CUDA_BUILD
#include "kernel/ray_trace.h"
#endif

BackendInfo backend_info() {
  BackendInfo info;
  cudaDeviceProp properties;
  if (cudaGetDeviceProperties(&properties, 0) == cudaSuccess) {
    info.device_name = properties.name;
  } else {
    (void)cudaGetLastError();  // no device: not an error of the caller's
  }
#if VELMORA_CUDA_BUILD
  info.backend = "cuda";
  info.threads = 0;
  info.lanes = 1;
  info.kernel = "scalar";
#else
  const bool simd = ray_trace_cpu_kernel() == CpuKernel::simd;
  info.backend = "cpu";
  info.threads = cpurt::thread_count();
  info.lanes = simd ? ray_trace_simd_lanes() : 1;
  info.kernel = simd ? "simd" : "scalar";
#endif
  return info;
}

bool set_backend_threads(int n) {
#if VELMORA_CUDA_BUILD
  (void)n;
  return false;
#else
  if (n < 0) return false;
  cpurt::set_thread_count(n);
  return true;
#endif
}

bool set_backend_kernel(const std::string& name) {
#if VELMORA_CUDA_BUILD
  (void)name;
  return false;
#else
  if (name == "simd") {
    ray_trace_set_cpu_kernel(CpuKernel::simd);
  } else if (name == "scalar") {
    ray_trace_set_cpu_kernel(CpuKernel::scalar);
  } else {
    return false;
  }
  return true;
#endif
}
