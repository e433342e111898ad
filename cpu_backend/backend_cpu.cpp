// The CPU back-end's controls: the CPU's name, the threads that run the
// blocks and the kernel path that traces them.

#include "cpu_backend/block_trace.h"
#include "gpu/backend.h"

namespace {

// The kernel paths by the names the tools use.
struct NamedKernel {
  const char* name;
  CpuKernel kernel;
};
constexpr NamedKernel kKernels[] = {
    {"simd", CpuKernel::simd}, {"stages", CpuKernel::stages}, {"scalar", CpuKernel::scalar}};

}  // namespace

BackendInfo backend_info() {
  BackendInfo info;
  info.device_name = first_device_name();
  const CpuKernel kernel = ray_trace_cpu_kernel();
  info.backend = "cpu";
  info.threads = cpurt::thread_count();
  info.lanes = kernel == CpuKernel::scalar ? 1 : ray_trace_simd_lanes();
  for (const NamedKernel& k : kKernels) {
    if (k.kernel == kernel) info.kernel = k.name;
  }
  return info;
}

bool set_backend_threads(int n) {
  if (n < 0) return false;
  cpurt::set_thread_count(n);
  return true;
}

bool set_backend_kernel(const std::string& name) {
  for (const NamedKernel& k : kKernels) {
    if (name == k.name) {
      ray_trace_set_cpu_kernel(k.kernel);
      return true;
    }
  }
  return false;
}
