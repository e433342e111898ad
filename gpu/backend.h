// What runs the kernel, and the controls a tool may turn: the thread count
// and the kernel path of the CPU back-end.  Each back-end library (CPU or
// CUDA) provides these for itself.
#pragma once

#include <string>

struct BackendInfo {
  std::string backend;      // "cpu" or "cuda"
  std::string device_name;  // the CPU's model name, or the GPU's name ("" without a device)
  int threads;              // CPU threads running the blocks; 0 on the GPU
  int lanes;                // pixels traced per call of the trace on the CPU; 1 on the GPU
  std::string kernel;       // "simd" or "scalar"
};

BackendInfo backend_info();

// Runs the blocks of later launches on n threads (0: every core).  False,
// changing nothing, for a negative n and on the GPU.
bool set_backend_threads(int n);

// Selects the CPU kernel path, "simd" or "scalar".  False, changing
// nothing, for any other name and on the GPU.
bool set_backend_kernel(const std::string& name);
