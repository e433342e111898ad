// Marking macros for code that is compiled both by nvcc (host and device
// passes) and by a plain C++ compiler for the CPU back-end.
//
//   VELMORA_HOST_DEVICE  a function callable from host code and from the kernel
//   VELMORA_DEVICE_CODE  1 only in nvcc's device pass, 0 everywhere else
//   VELMORA_CUDA_BUILD   1 when the translation unit is compiled by nvcc
//   VELMORA_ROLLED_LOOP  before a loop that the CPU build keeps rolled
//   VELMORA_UNROLLED_LOOP(n)  before a loop of at most n turns that the CPU
//                        build unrolls
//
// For g++ the markings expand to nothing, so every shared header is ordinary
// C++.  Where host and device need different code, the difference is an #if
// on these flags inside one function, never two copies of the function.
#pragma once

#if defined(__CUDACC__)
#define VELMORA_CUDA_BUILD 1
#define VELMORA_HOST_DEVICE __host__ __device__ __forceinline__
#else
#define VELMORA_CUDA_BUILD 0
#define VELMORA_HOST_DEVICE inline
#endif

#if defined(__CUDA_ARCH__)
#define VELMORA_DEVICE_CODE 1
#else
#define VELMORA_DEVICE_CODE 0
#endif

// A short loop over packs whose body the CPU build keeps as a loop: unrolled
// inside the flattened packed trace, its values outnumber the vector
// registers and are kept on the stack instead; rolled, the loop's few values
// stay in registers.  The GPU compiler unrolls as it sees fit.
#if defined(__CUDACC__)
#define VELMORA_ROLLED_LOOP
#define VELMORA_UNROLLED_LOOP(n)
#else
#define VELMORA_ROLLED_LOOP _Pragma("GCC unroll 1")
#define VELMORA_UNROLL_PRAGMA(text) _Pragma(#text)
#define VELMORA_UNROLLED_LOOP(n) VELMORA_UNROLL_PRAGMA(GCC unroll n)
#endif
