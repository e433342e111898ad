// The controls a tool may turn on the back-end it is linked with, and what
// it may read about it.  Each back-end library (cpu_backend/, cuda_backend/) defines
// these functions for itself; this header needs no runtime.
#pragma once

#include <span>
#include <string>

struct BackendInfo {
  std::string backend;      // "cpu" or "cuda"
  std::string device_name;  // the CPU's model name, or the GPU's name ("" without a device)
  int threads;              // CPU threads running the blocks; 0 on the GPU
  int lanes;                // pixels traced per call of the trace on the CPU; 1 on the GPU
  std::string kernel;       // the kernel variant, one of backend_kernels()
};

// A kernel variant as the tools name and describe it.
struct KernelChoice {
  const char* name;
  const char* description;  // for --help, a few words
};

// The back-end's kernel variants, the default first.
std::span<const KernelChoice> backend_kernels();

BackendInfo backend_info();

// Runs the blocks of later launches on n threads (0: every core).  False,
// changing nothing, for a negative n and on the GPU.
bool set_backend_threads(int n);

// Selects a kernel variant by its name in backend_kernels().  False,
// changing nothing, for any other name.
bool set_backend_kernel(const std::string& name);
