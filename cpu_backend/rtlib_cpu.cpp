// The host layer and kernel module for the CPU runtime: the same source
// that nvcc builds for the GPU, compiled here as C++.
#include "gpu/rtlib.cu"
