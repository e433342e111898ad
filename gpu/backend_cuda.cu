// The CUDA back-end's controls: the GPU's name; the thread count and the
// kernel path are fixed.

#include "gpu/backend.h"

BackendInfo backend_info() {
  BackendInfo info;
  cudaDeviceProp properties;
  if (cudaGetDeviceProperties(&properties, 0) == cudaSuccess) {
    info.device_name = properties.name;
  } else {
    (void)cudaGetLastError();  // no device: not an error of the caller's
  }
  info.backend = "cuda";
  info.threads = 0;
  info.lanes = 1;
  info.kernel = "scalar";
  return info;
}

bool set_backend_threads(int) { return false; }

bool set_backend_kernel(const std::string&) { return false; }
