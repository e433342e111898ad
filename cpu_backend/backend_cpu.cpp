// The CPU back-end's controls: the CPU's name, the threads that run the
// blocks and the kernel variant that traces them.

#include <vector>

#include "cpu_backend/block_trace.h"
#include "runtime/backend_controls.h"
#include "runtime/runtime.h"

std::span<const KernelChoice> backend_kernels() {
  static const std::vector<KernelChoice> choices = [] {
    std::vector<KernelChoice> v;
    for (const CpuKernel& k : cpu_kernels()) v.push_back({k.name, k.description});
    return v;
  }();
  return choices;
}

BackendInfo backend_info() {
  const CpuKernel& kernel = selected_cpu_kernel();
  BackendInfo info;
  info.device_name = first_device_name();
  info.backend = "cpu";
  info.threads = cpurt::thread_count();
  info.lanes = kernel.lanes;
  info.kernel = kernel.name;
  return info;
}

bool set_backend_threads(int n) {
  if (n < 0) return false;
  cpurt::set_thread_count(n);
  return true;
}

bool set_backend_kernel(const std::string& name) {
  for (const CpuKernel& k : cpu_kernels()) {
    if (name == k.name) {
      select_cpu_kernel(k);
      return true;
    }
  }
  return false;
}
