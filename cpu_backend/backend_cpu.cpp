// The CPU back-end's controls: the CPU's name, the threads that run the
// blocks and the kernel path that traces them.

#include "cpu_backend/block_trace.h"
#include "gpu/backend.h"

BackendInfo backend_info() {
  BackendInfo info;
  info.device_name = first_device_name();
  const CpuKernel kernel = ray_trace_cpu_kernel();
  info.backend = "cpu";
  info.threads = cpurt::thread_count();
  info.lanes = kernel == CpuKernel::scalar ? 1 : ray_trace_simd_lanes();
  info.kernel = kernel == CpuKernel::scalar ? "scalar" : (kernel == CpuKernel::simd ? "simd" : "stages");
  return info;
}

bool set_backend_threads(int n) {
  if (n < 0) return false;
  cpurt::set_thread_count(n);
  return true;
}

bool set_backend_kernel(const std::string& name) {
  if (name == "simd") {
    ray_trace_set_cpu_kernel(CpuKernel::simd);
  } else if (name == "stages") {
    ray_trace_set_cpu_kernel(CpuKernel::stages);
  } else if (name == "scalar") {
    ray_trace_set_cpu_kernel(CpuKernel::scalar);
  } else {
    return false;
  }
  return true;
}
