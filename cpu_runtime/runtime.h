// Velmora's CPU runtime: the GPU runtime calls that the host layer and the
// kernel module make, with the semantics they rely on, carried out on the
// host's cores.
//
// The names, types and numeric codes are the GPU runtime's, in the global
// namespace, so that the host layer and the kernel module compile unchanged against either runtime.
// Only the operations Velmora uses exist.  Our own additions (module
// registration, thread count, the texture view the kernel reads) live in
// namespace cpurt.
//
// Memory: host memory is device memory.  cudaMalloc returns aligned host
// blocks, copies are memcpy, and a registered symbol's device storage is its
// host object itself.  The runtime still keeps the bookkeeping a device
// would enforce: copies must stay inside an allocation or a symbol, and
// unknown pointers, symbols, textures and kernels are refused.
//
// Launch: the grid's blocks run on a oneTBB arena of cpurt::thread_count()
// threads.  The kernel function is called once per block, with the
// thread-local blockIdx, blockDim and gridDim set for that block, and runs
// all of the block's threads itself.  The launch returns when every block has
// run; a failed launch is reported by its return value and by the next
// cudaGetLastError, as on a GPU.
//
// Errors: every failing call returns its code and also records it as the
// calling thread's last error, which cudaGetLastError returns and clears.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// ------------------------------------------------------------------ errors

// The numeric values are those of the GPU runtime.
enum cudaError : int {
  cudaSuccess = 0,
  cudaErrorInvalidValue = 1,
  cudaErrorMemoryAllocation = 2,
  cudaErrorInitializationError = 3,
  cudaErrorInvalidConfiguration = 9,
  cudaErrorInvalidSymbol = 13,
  cudaErrorInvalidDevicePointer = 17,
  cudaErrorInvalidTexture = 18,
  cudaErrorInvalidChannelDescriptor = 20,
  cudaErrorInvalidMemcpyDirection = 21,
  cudaErrorInsufficientDriver = 35,
  cudaErrorInvalidDeviceFunction = 98,
  cudaErrorNoDevice = 100,
  cudaErrorInvalidDevice = 101,
  cudaErrorInvalidResourceHandle = 400,
  cudaErrorLaunchOutOfResources = 701,
  cudaErrorLaunchFailure = 719,
  cudaErrorNotSupported = 801,
  cudaErrorUnknown = 999,
};
using cudaError_t = cudaError;

// The text of an error code; "unrecognized error code" for a value that is
// not one of the codes above.
const char* cudaGetErrorString(cudaError_t error);

// Returns the calling thread's last error and resets it to cudaSuccess.
cudaError_t cudaGetLastError();

// ----------------------------------------------------------------- devices

// The one device: the host CPU.
struct cudaDeviceProp {
  char name[256];             // the CPU's model name
  std::size_t totalGlobalMem; // physical memory of the host
  int warpSize;               // 1: every thread is its own lane of work
  int maxThreadsPerBlock;     // 1024
  int maxThreadsDim[3];       // 1024, 1024, 64
  int maxGridSize[3];         // 2^31 - 1, 65535, 65535
  int major;                  // compute capability 1.0
  int minor;
  int multiProcessorCount;    // cpurt::thread_count()
};

cudaError_t cudaGetDeviceCount(int* count);
cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int device);
cudaError_t cudaSetDevice(int device);

// Waits for earlier device work.  Launches are synchronous here, so this
// only reports a failure left pending.
cudaError_t cudaDeviceSynchronize();

// ------------------------------------------------------------------ memory

enum cudaMemcpyKind : int {
  cudaMemcpyHostToHost = 0,
  cudaMemcpyHostToDevice = 1,
  cudaMemcpyDeviceToHost = 2,
  cudaMemcpyDeviceToDevice = 3,
};

// Device blocks are host blocks aligned to 256 bytes, as device allocations
// are.  A request of 0 bytes succeeds with a null pointer.
cudaError_t cudaMalloc(void** dev_ptr, std::size_t size);
template <class T>
cudaError_t cudaMalloc(T** dev_ptr, std::size_t size) {
  return cudaMalloc(reinterpret_cast<void**>(dev_ptr), size);
}

// Frees a block from cudaMalloc; null is accepted, any other pointer is
// refused with cudaErrorInvalidValue.
cudaError_t cudaFree(void* dev_ptr);

// Host-to-device, device-to-host and device-to-device copies.  The device
// side must lie inside one allocation (cudaErrorInvalidValue otherwise); the
// host side is taken as given.
cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind);

// Copies into a registered variable of the kernel module, named by its host
// object.  Unknown symbols give cudaErrorInvalidSymbol; a copy that would end
// past the variable's registered size gives cudaErrorInvalidValue.
cudaError_t cudaMemcpyToSymbol(const void* symbol, const void* src, std::size_t count,
                               std::size_t offset = 0,
                               cudaMemcpyKind kind = cudaMemcpyHostToDevice);
template <class T>
cudaError_t cudaMemcpyToSymbol(const T& symbol, const void* src, std::size_t count,
                               std::size_t offset = 0,
                               cudaMemcpyKind kind = cudaMemcpyHostToDevice) {
  return cudaMemcpyToSymbol(static_cast<const void*>(&symbol), src, count, offset, kind);
}

// ---------------------------------------------------------------- textures

enum cudaChannelFormatKind {
  cudaChannelFormatKindSigned = 0,
  cudaChannelFormatKindUnsigned = 1,
  cudaChannelFormatKindFloat = 2,
  cudaChannelFormatKindNone = 3,
};

struct cudaChannelFormatDesc {
  int x;
  int y;
  int z;
  int w;
  cudaChannelFormatKind f;
};

cudaChannelFormatDesc cudaCreateChannelDesc(int x, int y, int z, int w, cudaChannelFormatKind f);

enum cudaResourceType {
  cudaResourceTypeArray = 0,
  cudaResourceTypeMipmappedArray = 1,
  cudaResourceTypeLinear = 2,
  cudaResourceTypePitch2D = 3,
};

struct cudaResourceDesc {
  cudaResourceType resType;
  union {
    struct {
      void* devPtr;
      cudaChannelFormatDesc desc;
      std::size_t sizeInBytes;
    } linear;
    struct {
      int reserved[32];
    } reserved;
  } res;
};

enum cudaTextureAddressMode {
  cudaAddressModeWrap = 0,
  cudaAddressModeClamp = 1,
  cudaAddressModeMirror = 2,
  cudaAddressModeBorder = 3,
};

enum cudaTextureFilterMode {
  cudaFilterModePoint = 0,
  cudaFilterModeLinear = 1,
};

enum cudaTextureReadMode {
  cudaReadModeElementType = 0,
  cudaReadModeNormalizedFloat = 1,
};

struct cudaTextureDesc {
  cudaTextureAddressMode addressMode[3];
  cudaTextureFilterMode filterMode;
  cudaTextureReadMode readMode;
  int normalizedCoords;
};

// Views are not offered; the argument must be null.
struct cudaResourceViewDesc;

using cudaTextureObject_t = unsigned long long;

// A texture over linear device memory, read by integer index with point
// filtering and clamped addressing, the texel bits as they are.  Anything
// else (another resource type, a channel format other than four 32-bit
// unsigned channels, linear filtering, normalised coordinates or reads,
// memory outside one allocation) is refused with cudaErrorInvalidValue or
// cudaErrorInvalidChannelDescriptor.
cudaError_t cudaCreateTextureObject(cudaTextureObject_t* tex, const cudaResourceDesc* res,
                                    const cudaTextureDesc* desc,
                                    const cudaResourceViewDesc* view);
cudaError_t cudaDestroyTextureObject(cudaTextureObject_t tex);

struct uint4 {
  unsigned int x;
  unsigned int y;
  unsigned int z;
  unsigned int w;
};

// Texel i of a texture, the index clamped to the texture.  An unknown
// texture reads as zeros.
template <class T>
T tex1Dfetch(cudaTextureObject_t tex, int i);
template <>
uint4 tex1Dfetch<uint4>(cudaTextureObject_t tex, int i);

// ------------------------------------------------------------------ launch

struct uint3 {
  unsigned int x;
  unsigned int y;
  unsigned int z;
};

struct dim3 {
  unsigned int x;
  unsigned int y;
  unsigned int z;
  constexpr dim3(unsigned int vx = 1, unsigned int vy = 1, unsigned int vz = 1)
      : x(vx), y(vy), z(vz) {}
};

// The launch values of the block being run on this thread.  (There is no
// threadIdx: one call of the kernel runs every thread of its block.)
extern thread_local constinit uint3 blockIdx;
extern thread_local constinit dim3 blockDim;
extern thread_local constinit dim3 gridDim;

struct CUstream_st;
using cudaStream_t = CUstream_st*;

// Runs `func`, a registered kernel named by its host address, over grid x
// block threads; `args` points to each argument in order.  Only the default
// stream exists and dynamic shared memory is not offered (a non-zero request
// is refused).  Unknown kernels give cudaErrorInvalidDeviceFunction; empty
// or oversized shapes give cudaErrorInvalidConfiguration; a null `args` for
// a kernel with parameters gives cudaErrorInvalidValue.
cudaError_t cudaLaunchKernel(const void* func, dim3 grid, dim3 block, void** args,
                             std::size_t shared_mem = 0, cudaStream_t stream = nullptr);
template <class... Args>
cudaError_t cudaLaunchKernel(void (*func)(Args...), dim3 grid, dim3 block, void** args,
                             std::size_t shared_mem = 0, cudaStream_t stream = nullptr) {
  return cudaLaunchKernel(reinterpret_cast<const void*>(func), grid, block, args, shared_mem,
                          stream);
}

// -------------------------------------------------- Velmora's own extensions

namespace cpurt {

// Threads that run a launch's blocks: every core by default.
// set_thread_count(n) uses n threads (n <= 0: every core again); it must not
// be called while a launch runs on another thread.
int thread_count();
void set_thread_count(int n);

// The memory a texture object reads; {nullptr, 0} for an unknown texture.
// This is how the kernel's CPU build reaches the sphere texels directly.
struct TextureMemory {
  const void* base;
  std::size_t bytes;
};
TextureMemory texture_memory(cudaTextureObject_t tex);

// The serial number of the launch whose blocks this thread is running: a
// new one for each launch, 0 outside any.  No copy to the stores overlaps
// a launch, so what a kernel works out from the stores alone holds for
// every block of the launch that worked it out.
std::uint64_t launch_serial();

// The CPU's model name as the device's name: the value of the first
// "model name" line of a /proc/cpuinfo text, or "CPU" when there is none.
std::string cpu_model_name(std::string_view cpuinfo);

// Device allocations currently live, and their total size in bytes.
struct AllocationStats {
  std::size_t count;
  std::size_t bytes;
};
AllocationStats allocation_stats();

// ------------------------------------------------------ module registration
//
// A kernel module names its kernels and variables by their host addresses.
// The CPU build registers its module before main and unregisters it at
// exit, as the GPU toolchain's generated code does for the CUDA build.

struct Module;

Module* register_module(const char* ident);
void unregister_module(Module* module);

// Calls a kernel with the arguments that `args` points to.
using KernelInvoker = void (*)(void (*kernel)(), void** args);

void register_kernel(Module* module, void (*kernel)(), KernelInvoker invoke,
                     std::size_t parameter_count, const char* name);

namespace detail {
template <class... Args, std::size_t... I>
void invoke_with(void (*kernel)(Args...), void** args, std::index_sequence<I...>) {
  kernel(*static_cast<std::remove_cv_t<std::remove_reference_t<Args>>*>(args[I])...);
}

template <class... Args>
void invoke(void (*erased)(), void** args) {
  invoke_with(reinterpret_cast<void (*)(Args...)>(erased), args,
              std::index_sequence_for<Args...>{});
}
}  // namespace detail

// Registers `kernel` under `name` (its mangled device name).
template <class... Args>
void register_kernel(Module* module, void (*kernel)(Args...), const char* name) {
  register_kernel(module, reinterpret_cast<void (*)()>(kernel), &detail::invoke<Args...>,
                  sizeof...(Args), name);
}

// Registers a module variable of `bytes` bytes whose host object is at
// `host_object`; `constant` marks the constant store.
void register_variable(Module* module, void* host_object, const char* name, std::size_t bytes,
                       bool constant);

}  // namespace cpurt
