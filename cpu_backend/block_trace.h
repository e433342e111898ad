// The kernel's CPU launch, block by block: the CPU runtime calls
// `ray_trace` (kernel/ray_trace.h) once per block of the grid, and one call
// traces all of the block's threads: as packs of SIMD lanes over square
// sub-tiles of the block, as packs of live rays stage by stage, or one pixel
// at a time.
#pragma once

// How one block's threads are traced: as packs of SIMD lanes, each through
// the whole bounce loop (the default); as packs of live rays, stage by
// stage (cpu_backend/stage_trace.h); or one pixel per call, the scalar path
// the CUDA kernel takes, kept for comparison and testing.
enum class CpuKernel { simd, stages, scalar };
void ray_trace_set_cpu_kernel(CpuKernel kernel);
CpuKernel ray_trace_cpu_kernel();

// Number of lanes in a pack of the packed paths.
int ray_trace_simd_lanes();
