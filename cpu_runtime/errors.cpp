// Error texts and the calling thread's last error.
#include "cpu_runtime/runtime_state.h"

namespace {
thread_local cudaError_t last_error = cudaSuccess;
}  // namespace

cudaError_t cpurt::internal::result(cudaError_t code) {
  if (code != cudaSuccess) last_error = code;
  return code;
}

const char* cudaGetErrorString(cudaError_t error) {
  switch (error) {
    case cudaSuccess: return "no error";
    case cudaErrorInvalidValue: return "invalid argument";
    case cudaErrorMemoryAllocation: return "out of memory";
    case cudaErrorInitializationError: return "initialization error";
    case cudaErrorInvalidConfiguration: return "invalid configuration argument";
    case cudaErrorInvalidSymbol: return "invalid device symbol";
    case cudaErrorInvalidDevicePointer: return "invalid device pointer";
    case cudaErrorInvalidTexture: return "invalid texture reference";
    case cudaErrorInvalidChannelDescriptor: return "invalid channel descriptor";
    case cudaErrorInvalidMemcpyDirection: return "invalid copy direction for memcpy";
    case cudaErrorInsufficientDriver:
      return "CUDA driver version is insufficient for CUDA runtime version";
    case cudaErrorInvalidDeviceFunction: return "invalid device function";
    case cudaErrorNoDevice: return "no CUDA-capable device is detected";
    case cudaErrorInvalidDevice: return "invalid device ordinal";
    case cudaErrorInvalidResourceHandle: return "invalid resource handle";
    case cudaErrorLaunchOutOfResources: return "too many resources requested for launch";
    case cudaErrorLaunchFailure: return "unspecified launch failure";
    case cudaErrorNotSupported: return "operation not supported";
    case cudaErrorUnknown: return "unknown error";
  }
  return "unrecognized error code";
}

cudaError_t cudaGetLastError() {
  const cudaError_t error = last_error;
  last_error = cudaSuccess;
  return error;
}
