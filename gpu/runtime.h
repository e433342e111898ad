// The GPU runtime the host layer and the kernel module are written against:
// the CUDA runtime when nvcc builds them, Velmora's CPU runtime otherwise.
// Both offer the same calls with the same semantics.
#pragma once

#include "common/host_device.h"

#if VELMORA_CUDA_BUILD
#include <cuda_runtime.h>
#else
#include "cpu_runtime/runtime.h"
#endif
