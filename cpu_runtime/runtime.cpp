#include "cpu_runtime/runtime.h"

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tbb/task_scheduler_observer.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cpu_runtime/test_hooks.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

thread_local constinit uint3 blockIdx{0, 0, 0};
thread_local constinit dim3 blockDim{1, 1, 1};
thread_local constinit dim3 gridDim{1, 1, 1};

struct cpurt::Module {
  std::string ident;
};

namespace {

using cpurt::test_hooks::Op;

constexpr std::size_t kAllocationAlignment = 256;
constexpr unsigned kMaxThreadsPerBlock = 1024;
constexpr unsigned kMaxBlockDim[3] = {1024, 1024, 64};
constexpr unsigned kMaxGridDim[3] = {0x7fffffffu, 65535, 65535};

struct Kernel {
  cpurt::Module* module;
  void (*function)();
  cpurt::KernelInvoker invoke;
  std::size_t parameter_count;
};

struct Variable {
  cpurt::Module* module;
  void* storage;  // the host object: on this runtime it is the device storage
  std::size_t bytes;
};

struct Texture {
  const void* base;
  std::size_t bytes;
};

struct InjectedFailure {
  Op op;
  cudaError_t code;
  int skip;
};

// ThreadSanitizer cannot see oneTBB's synchronisation: it happens inside
// the uninstrumented library.  So in a ThreadSanitizer build the scheduler's
// own work is hidden from the sanitizer (worker threads while they are in
// the arena, the host while it waits for a launch), the launch bodies alone
// are checked, and the two orderings oneTBB guarantees are stated
// explicitly: what the host did before the launch happens before every
// body, and every body happens before the launch returns.  Two blocks
// writing the same word are still reported.  Elsewhere all of this
// compiles to nothing.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
void stop_checking() { __tsan_ignore_thread_begin(); }
void resume_checking() { __tsan_ignore_thread_end(); }
void happens_before(void* edge) { __tsan_release(edge); }
void happens_after(void* edge) { __tsan_acquire(edge); }

class WorkersUnchecked : public tbb::task_scheduler_observer {
 public:
  explicit WorkersUnchecked(tbb::task_arena& arena) : tbb::task_scheduler_observer(arena) {
    observe(true);
  }
  ~WorkersUnchecked() override { observe(false); }
  void on_scheduler_entry(bool is_worker) override {
    if (is_worker) stop_checking();
  }
  void on_scheduler_exit(bool is_worker) override {
    if (is_worker) resume_checking();
  }
};
#else
void stop_checking() {}
void resume_checking() {}
void happens_before(void*) {}
void happens_after(void*) {}
class WorkersUnchecked {
 public:
  explicit WorkersUnchecked(tbb::task_arena&) {}
};
#endif

struct State {
  std::mutex mutex;  // guards everything below but the launch members
  std::map<std::uintptr_t, std::size_t> allocations;  // base address -> size
  std::size_t allocated_bytes = 0;
  std::unordered_map<const void*, Kernel> kernels;
  std::unordered_map<const void*, Variable> variables;
  std::unordered_map<cudaTextureObject_t, Texture> textures;
  cudaTextureObject_t next_texture = 1;
  int device_count = 1;
  int device_major = 1;
  int allocation_fill = -1;
  bool failure_armed = false;
  InjectedFailure failure{};
  // A launch that failed while running, reported by the next synchronise.
  cudaError_t pending = cudaSuccess;

  // One launch at a time, and the arena is replaced only between launches.
  std::mutex launch_mutex;
  std::unique_ptr<tbb::task_arena> arena;
  std::unique_ptr<WorkersUnchecked> arena_observer;
  // Raises oneTBB's limit on worker threads when more threads than cores
  // are asked for.
  std::unique_ptr<tbb::global_control> parallelism;
};

// Never destroyed: the kernel module is unregistered after every static
// destructor has run, and the allocations it still holds stay reachable.
// Constant-initialised, so usable by static initialisers of any order.
constinit cpurt::test_hooks::ModuleObserver module_observer = nullptr;

State& state() {
  static State* const s = [] {
    auto* created = new State;
    created->arena = std::make_unique<tbb::task_arena>(tbb::info::default_concurrency());
    created->arena_observer = std::make_unique<WorkersUnchecked>(*created->arena);
    return created;
  }();
  return *s;
}

thread_local cudaError_t last_error = cudaSuccess;

cudaError_t result(cudaError_t code) {
  if (code != cudaSuccess) last_error = code;
  return code;
}

// Whether the test hooks have armed a failure for this call of `op`.
bool injected(Op op, cudaError_t* code) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  if (!st.failure_armed || st.failure.op != op) return false;
  if (st.failure.skip > 0) {
    --st.failure.skip;
    return false;
  }
  st.failure_armed = false;
  *code = st.failure.code;
  return true;
}

// Whether [p, p + bytes) lies inside one live allocation.  Caller holds the lock.
bool inside_allocation(const State& st, const void* p, std::size_t bytes) {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  auto it = st.allocations.upper_bound(address);
  if (it == st.allocations.begin()) return false;
  --it;
  const std::uintptr_t offset = address - it->first;
  return offset <= it->second && bytes <= it->second - offset;
}

std::string cpu_model_name() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  const std::string text((std::istreambuf_iterator<char>(cpuinfo)), std::istreambuf_iterator<char>());
  return cpurt::cpu_model_name(text);
}

bool valid_launch_shape(dim3 grid, dim3 block) {
  const unsigned g[3] = {grid.x, grid.y, grid.z};
  const unsigned b[3] = {block.x, block.y, block.z};
  for (int i = 0; i < 3; ++i) {
    if (g[i] == 0 || g[i] > kMaxGridDim[i] || b[i] == 0 || b[i] > kMaxBlockDim[i]) return false;
  }
  return std::uint64_t{block.x} * block.y * block.z <= kMaxThreadsPerBlock;
}

// The textures as they stood when the running launch began, which the
// launch's bodies read without taking the state's lock: every block looks
// its textures up, and two threads taking one lock thousands of times a
// frame would pass its cache line back and forth.  A texture stays readable
// to the launch that saw it, as a kernel on a device keeps its descriptor.
using TextureSnapshot = std::vector<std::pair<cudaTextureObject_t, Texture>>;
thread_local const TextureSnapshot* launch_textures = nullptr;

class LaunchTextures {
 public:
  explicit LaunchTextures(const TextureSnapshot& textures) : saved_(launch_textures) {
    launch_textures = &textures;
  }
  ~LaunchTextures() { launch_textures = saved_; }
  LaunchTextures(const LaunchTextures&) = delete;
  LaunchTextures& operator=(const LaunchTextures&) = delete;

 private:
  const TextureSnapshot* saved_;
};

// One launch body's stretch of checked work, on whichever thread runs it.
class CheckedBody {
 public:
  CheckedBody(void* launched, void* finished) : finished_(finished) {
    resume_checking();
    happens_after(launched);
  }
  ~CheckedBody() {
    happens_before(finished_);
    stop_checking();
  }
  CheckedBody(const CheckedBody&) = delete;
  CheckedBody& operator=(const CheckedBody&) = delete;

 private:
  void* finished_;
};

// Runs every block of the grid on the arena, x fastest, then y, then z.
void run_grid(State& st, const Kernel& kernel, dim3 grid, dim3 block, void** args) {
  const std::uint64_t per_layer = std::uint64_t{grid.x} * grid.y;
  const std::uint64_t blocks = per_layer * grid.z;
  std::lock_guard launch(st.launch_mutex);
  TextureSnapshot textures;
  {
    std::lock_guard lock(st.mutex);
    textures.assign(st.textures.begin(), st.textures.end());
  }
  int launched = 0;
  int finished = 0;
  happens_before(&launched);
  stop_checking();
  try {
    st.arena->execute([&] {
      tbb::parallel_for(tbb::blocked_range<std::uint64_t>(0, blocks),
                        [&](const tbb::blocked_range<std::uint64_t>& range) {
                          const CheckedBody checked(&launched, &finished);
                          const LaunchTextures bound(textures);
                          blockDim = block;
                          gridDim = grid;
                          for (std::uint64_t i = range.begin(); i != range.end(); ++i) {
                            blockIdx = uint3{static_cast<unsigned>(i % grid.x),
                                             static_cast<unsigned>(i % per_layer / grid.x),
                                             static_cast<unsigned>(i / per_layer)};
                            kernel.invoke(kernel.function, args);
                          }
                        });
    });
  } catch (...) {
    resume_checking();
    happens_after(&finished);
    throw;
  }
  resume_checking();
  happens_after(&finished);
}

}  // namespace

// ------------------------------------------------------------------ errors

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

// ----------------------------------------------------------------- devices

cudaError_t cudaGetDeviceCount(int* count) {
  cudaError_t code;
  if (injected(Op::get_device_count, &code)) return result(code);
  if (count == nullptr) return result(cudaErrorInvalidValue);
  State& st = state();
  std::lock_guard lock(st.mutex);
  *count = st.device_count;
  return cudaSuccess;
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int device) {
  cudaError_t code;
  if (injected(Op::get_device_properties, &code)) return result(code);
  if (prop == nullptr) return result(cudaErrorInvalidValue);
  State& st = state();
  int major;
  {
    std::lock_guard lock(st.mutex);
    if (device < 0 || device >= st.device_count) return result(cudaErrorInvalidDevice);
    major = st.device_major;
  }
  static const std::string name = cpu_model_name();
  *prop = cudaDeviceProp{};
  std::strncpy(prop->name, name.c_str(), sizeof(prop->name) - 1);
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  prop->totalGlobalMem =
      pages > 0 && page_size > 0 ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size) : 0;
  prop->warpSize = 1;
  prop->maxThreadsPerBlock = static_cast<int>(kMaxThreadsPerBlock);
  for (int i = 0; i < 3; ++i) {
    prop->maxThreadsDim[i] = static_cast<int>(kMaxBlockDim[i]);
    prop->maxGridSize[i] = static_cast<int>(kMaxGridDim[i]);
  }
  prop->major = major;
  prop->minor = 0;
  prop->multiProcessorCount = cpurt::thread_count();
  return cudaSuccess;
}

cudaError_t cudaSetDevice(int device) {
  cudaError_t code;
  if (injected(Op::set_device, &code)) return result(code);
  State& st = state();
  std::lock_guard lock(st.mutex);
  if (device < 0 || device >= st.device_count) return result(cudaErrorInvalidDevice);
  return cudaSuccess;
}

cudaError_t cudaDeviceSynchronize() {
  cudaError_t code;
  if (injected(Op::synchronize, &code)) return result(code);
  State& st = state();
  std::lock_guard lock(st.mutex);
  code = st.pending;
  st.pending = cudaSuccess;
  return result(code);
}

// ------------------------------------------------------------------ memory

cudaError_t cudaMalloc(void** dev_ptr, std::size_t size) {
  cudaError_t code;
  if (injected(Op::malloc, &code)) return result(code);
  if (dev_ptr == nullptr) return result(cudaErrorInvalidValue);
  if (size == 0) {
    *dev_ptr = nullptr;
    return cudaSuccess;
  }
  if (size > SIZE_MAX - kAllocationAlignment) return result(cudaErrorMemoryAllocation);
  const std::size_t rounded = (size + kAllocationAlignment - 1) / kAllocationAlignment * kAllocationAlignment;
  void* block = std::aligned_alloc(kAllocationAlignment, rounded);
  if (block == nullptr) return result(cudaErrorMemoryAllocation);
  State& st = state();
  std::lock_guard lock(st.mutex);
  if (st.allocation_fill >= 0) std::memset(block, st.allocation_fill, size);
  st.allocations.emplace(reinterpret_cast<std::uintptr_t>(block), size);
  st.allocated_bytes += size;
  *dev_ptr = block;
  return cudaSuccess;
}

cudaError_t cudaFree(void* dev_ptr) {
  cudaError_t code;
  if (injected(Op::free, &code)) return result(code);
  if (dev_ptr == nullptr) return cudaSuccess;
  State& st = state();
  {
    std::lock_guard lock(st.mutex);
    const auto it = st.allocations.find(reinterpret_cast<std::uintptr_t>(dev_ptr));
    if (it == st.allocations.end()) return result(cudaErrorInvalidValue);
    st.allocated_bytes -= it->second;
    st.allocations.erase(it);
  }
  std::free(dev_ptr);
  return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind) {
  cudaError_t code;
  if (injected(Op::memcpy, &code)) return result(code);
  const bool dst_on_device = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice;
  const bool src_on_device = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice;
  if (kind != cudaMemcpyHostToHost && !dst_on_device && !src_on_device) {
    return result(cudaErrorInvalidMemcpyDirection);
  }
  if (count == 0) return cudaSuccess;
  if (dst == nullptr || src == nullptr) return result(cudaErrorInvalidValue);
  {
    State& st = state();
    std::lock_guard lock(st.mutex);
    if ((dst_on_device && !inside_allocation(st, dst, count)) ||
        (src_on_device && !inside_allocation(st, src, count))) {
      return result(cudaErrorInvalidValue);
    }
  }
  std::memmove(dst, src, count);
  return cudaSuccess;
}

cudaError_t cudaMemcpyToSymbol(const void* symbol, const void* src, std::size_t count,
                               std::size_t offset, cudaMemcpyKind kind) {
  cudaError_t code;
  if (injected(Op::memcpy_to_symbol, &code)) return result(code);
  if (kind != cudaMemcpyHostToDevice && kind != cudaMemcpyDeviceToDevice) {
    return result(cudaErrorInvalidMemcpyDirection);
  }
  State& st = state();
  void* storage;
  {
    std::lock_guard lock(st.mutex);
    const auto it = st.variables.find(symbol);
    if (it == st.variables.end()) return result(cudaErrorInvalidSymbol);
    const Variable& var = it->second;
    if (offset > var.bytes || count > var.bytes - offset) return result(cudaErrorInvalidValue);
    if (count == 0) return cudaSuccess;
    if (src == nullptr) return result(cudaErrorInvalidValue);
    if (kind == cudaMemcpyDeviceToDevice && !inside_allocation(st, src, count)) {
      return result(cudaErrorInvalidValue);
    }
    storage = static_cast<unsigned char*>(var.storage) + offset;
  }
  std::memmove(storage, src, count);
  return cudaSuccess;
}

// ---------------------------------------------------------------- textures

cudaChannelFormatDesc cudaCreateChannelDesc(int x, int y, int z, int w, cudaChannelFormatKind f) {
  return cudaChannelFormatDesc{x, y, z, w, f};
}

cudaError_t cudaCreateTextureObject(cudaTextureObject_t* tex, const cudaResourceDesc* res,
                                    const cudaTextureDesc* desc,
                                    const cudaResourceViewDesc* view) {
  cudaError_t code;
  if (injected(Op::create_texture_object, &code)) return result(code);
  if (tex == nullptr || res == nullptr || desc == nullptr || view != nullptr ||
      res->resType != cudaResourceTypeLinear) {
    return result(cudaErrorInvalidValue);
  }
  const cudaChannelFormatDesc& channel = res->res.linear.desc;
  if (channel.x != 32 || channel.y != 32 || channel.z != 32 || channel.w != 32 ||
      channel.f != cudaChannelFormatKindUnsigned) {
    return result(cudaErrorInvalidChannelDescriptor);
  }
  const std::size_t bytes = res->res.linear.sizeInBytes;
  if (bytes == 0 || bytes % sizeof(uint4) != 0 || desc->filterMode != cudaFilterModePoint ||
      desc->readMode != cudaReadModeElementType || desc->normalizedCoords != 0 ||
      desc->addressMode[0] != cudaAddressModeClamp) {
    return result(cudaErrorInvalidValue);
  }
  State& st = state();
  std::lock_guard lock(st.mutex);
  if (!inside_allocation(st, res->res.linear.devPtr, bytes)) return result(cudaErrorInvalidValue);
  const cudaTextureObject_t handle = st.next_texture++;
  st.textures.emplace(handle, Texture{res->res.linear.devPtr, bytes});
  *tex = handle;
  return cudaSuccess;
}

cudaError_t cudaDestroyTextureObject(cudaTextureObject_t tex) {
  cudaError_t code;
  if (injected(Op::destroy_texture_object, &code)) return result(code);
  State& st = state();
  std::lock_guard lock(st.mutex);
  if (st.textures.erase(tex) == 0) return result(cudaErrorInvalidValue);
  return cudaSuccess;
}

template <>
uint4 tex1Dfetch<uint4>(cudaTextureObject_t tex, int i) {
  const cpurt::TextureMemory memory = cpurt::texture_memory(tex);
  const int texels = static_cast<int>(memory.bytes / sizeof(uint4));
  uint4 texel{0, 0, 0, 0};
  if (texels == 0) return texel;
  const int clamped = std::clamp(i, 0, texels - 1);
  std::memcpy(&texel, static_cast<const unsigned char*>(memory.base) + clamped * sizeof(uint4),
              sizeof(uint4));
  return texel;
}

// ------------------------------------------------------------------ launch

cudaError_t cudaLaunchKernel(const void* func, dim3 grid, dim3 block, void** args,
                             std::size_t shared_mem, cudaStream_t stream) {
  cudaError_t code;
  if (injected(Op::launch, &code)) return result(code);
  State& st = state();
  Kernel kernel;
  {
    std::lock_guard lock(st.mutex);
    const auto it = st.kernels.find(func);
    if (it == st.kernels.end()) return result(cudaErrorInvalidDeviceFunction);
    kernel = it->second;
  }
  if (!valid_launch_shape(grid, block)) return result(cudaErrorInvalidConfiguration);
  if (shared_mem != 0) return result(cudaErrorInvalidValue);
  if (stream != nullptr) return result(cudaErrorInvalidResourceHandle);
  if (args == nullptr && kernel.parameter_count != 0) return result(cudaErrorInvalidValue);
  try {
    run_grid(st, kernel, grid, block, args);
  } catch (...) {
    // A kernel that failed while running: as on a GPU, the launch itself
    // returns success and the next synchronise reports the failure.
    std::lock_guard lock(st.mutex);
    st.pending = cudaErrorLaunchFailure;
  }
  return cudaSuccess;
}

// -------------------------------------------------- Velmora's own extensions

namespace cpurt {

int thread_count() {
  State& st = state();
  std::lock_guard launch(st.launch_mutex);
  return st.arena->max_concurrency();
}

void set_thread_count(int n) {
  State& st = state();
  std::lock_guard launch(st.launch_mutex);
  const int threads = n > 0 ? n : tbb::info::default_concurrency();
  st.arena_observer.reset();
  st.arena.reset();
  st.parallelism.reset();
  if (threads > tbb::info::default_concurrency()) {
    st.parallelism = std::make_unique<tbb::global_control>(
        tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
  }
  st.arena = std::make_unique<tbb::task_arena>(threads);
  st.arena_observer = std::make_unique<WorkersUnchecked>(*st.arena);
}

TextureMemory texture_memory(cudaTextureObject_t tex) {
  if (launch_textures != nullptr) {
    for (const auto& [handle, texture] : *launch_textures) {
      if (handle == tex) return TextureMemory{texture.base, texture.bytes};
    }
    return TextureMemory{nullptr, 0};
  }
  State& st = state();
  std::lock_guard lock(st.mutex);
  const auto it = st.textures.find(tex);
  if (it == st.textures.end()) return TextureMemory{nullptr, 0};
  return TextureMemory{it->second.base, it->second.bytes};
}

AllocationStats allocation_stats() {
  State& st = state();
  std::lock_guard lock(st.mutex);
  return AllocationStats{st.allocations.size(), st.allocated_bytes};
}

Module* register_module(const char* ident) {
  if (module_observer != nullptr) module_observer("register");
  return new Module{ident != nullptr ? ident : ""};
}

void unregister_module(Module* module) {
  if (module == nullptr) return;
  if (module_observer != nullptr) module_observer("unregister");
  State& st = state();
  {
    std::lock_guard lock(st.mutex);
    std::erase_if(st.kernels, [&](const auto& entry) { return entry.second.module == module; });
    std::erase_if(st.variables, [&](const auto& entry) { return entry.second.module == module; });
  }
  delete module;
}

void register_kernel(Module* module, void (*kernel)(), KernelInvoker invoke,
                     std::size_t parameter_count, const char* name) {
  (void)name;  // kernels are found by their host address, as launches name them
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.kernels[reinterpret_cast<const void*>(kernel)] =
      Kernel{module, kernel, invoke, parameter_count};
}

void register_variable(Module* module, void* host_object, const char* name, std::size_t bytes,
                       bool constant) {
  (void)name;
  (void)constant;  // constant and global stores are the same host memory here
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.variables[host_object] = Variable{module, host_object, bytes};
}

}  // namespace cpurt

namespace cpurt {

std::string cpu_model_name(std::string_view cpuinfo) {
  while (!cpuinfo.empty()) {
    const std::size_t end = std::min(cpuinfo.find('\n'), cpuinfo.size());
    const std::string_view line = cpuinfo.substr(0, end);
    cpuinfo.remove_prefix(std::min(end + 1, cpuinfo.size()));
    if (!line.starts_with("model name")) continue;
    const auto colon = line.find(':');
    if (colon == std::string_view::npos) break;
    const auto start = line.find_first_not_of(" \t", colon + 1);
    if (start != std::string_view::npos) return std::string(line.substr(start));
  }
  return "CPU";
}

}  // namespace cpurt

// -------------------------------------------------------------- test hooks

namespace cpurt::test_hooks {

void fail_next(Op op, cudaError_t code, int skip) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.failure_armed = true;
  st.failure = InjectedFailure{op, code, skip};
}

void set_device_count(int count) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.device_count = count;
}

void set_device_major(int major) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.device_major = major;
}

void fill_new_allocations(int byte) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.allocation_fill = byte > 255 ? 255 : byte;
}

void observe_modules(ModuleObserver observer) { module_observer = observer; }

void reset() {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.allocation_fill = -1;
  st.failure_armed = false;
  st.device_count = 1;
  st.device_major = 1;
}

}  // namespace cpurt::test_hooks

