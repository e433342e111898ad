// The CUDA back-end's controls: the GPU's name; the thread count and the
// kernel path are fixed.

#include "gpu/backend.h"

BackendInfo backend_info() {
  BackendInfo info;
  info.device_name = first_device_name();
  info.backend = "cuda";
  info.threads = 0;
  info.lanes = 1;
  info.kernel = "scalar";
  return info;
}

bool set_backend_threads(int) { return false; }

bool set_backend_kernel(const std::string&) { return false; }
