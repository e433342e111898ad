// The kernel's CPU launch, block by block: the CPU runtime calls
// `ray_trace` (kernel/ray_trace.h) once per block of the grid, and one call
// traces all of the block's threads, as packs of SIMD lanes over square
// sub-tiles of the block or one pixel at a time.
#pragma once

// How one block's threads are traced: as packs of SIMD lanes (the default),
// or one pixel per call, the scalar path the CUDA kernel takes, kept for
// comparison and testing.
enum class CpuKernel { simd, scalar };
void ray_trace_set_cpu_kernel(CpuKernel kernel);
CpuKernel ray_trace_cpu_kernel();

// Number of pixels the packed path traces per call.
int ray_trace_simd_lanes();
