// The kernel's CPU launch, block by block: the CPU runtime calls
// `ray_trace` (kernel/ray_trace.h) once per block of the grid, and one call
// traces all of the block's pixels with the selected kernel variant.
#pragma once

#include <span>

struct SceneView;

// A kernel variant: how one block (blockIdx and blockDim set for it) is
// traced, and how many pixels one call of the trace computes.  A new
// variant is one function and one row of the table in block_trace.cpp.
struct CpuKernel {
  const char* name;
  const char* description;  // for --help, a few words
  void (*trace_block)(const SceneView& scene, unsigned int* pixels, int width, int height);
  int lanes;
};

// The variants, the default first.
std::span<const CpuKernel> cpu_kernels();

// The variant later launches use; one of cpu_kernels().
void select_cpu_kernel(const CpuKernel& kernel);
const CpuKernel& selected_cpu_kernel();
