// The CUDA back-end's controls: the GPU's name; the thread count is the
// GPU's own and the kernel is the one pixel per thread of ray_trace.

#include "runtime/backend_controls.h"
#include "runtime/runtime.h"

namespace {
constexpr KernelChoice kCudaKernels[] = {{"scalar", "one pixel per thread"}};
}  // namespace

std::span<const KernelChoice> backend_kernels() { return kCudaKernels; }

BackendInfo backend_info() {
  BackendInfo info;
  info.device_name = first_device_name();
  info.backend = "cuda";
  info.threads = 0;
  info.lanes = 1;
  info.kernel = kCudaKernels[0].name;
  return info;
}

bool set_backend_threads(int) { return false; }

bool set_backend_kernel(const std::string& name) { return name == kCudaKernels[0].name; }
