// The CPU runtime's shared state and the steps every runtime call shares,
// for the runtime's own files only: the host layer and the kernel see
// runtime.h alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include <mutex>
#include <unordered_map>

#include "cpu_runtime/runtime.h"
#include "cpu_runtime/test_hooks.h"

struct cpurt::Module {
  std::string ident;
};

namespace cpurt::internal {

struct Kernel {
  Module* module;
  void (*function)();
  KernelInvoker invoke;
  std::size_t parameter_count;
};

struct Variable {
  Module* module;
  void* storage;  // the host object: on this runtime it is the device storage
  std::size_t bytes;
};

struct Texture {
  const void* base;
  std::size_t bytes;
};

// What the runtime's calls look up and change, guarded by one lock.  The
// launch's own arena and the armed test failure are kept by their files.
struct State {
  std::mutex mutex;
  std::map<std::uintptr_t, std::size_t> allocations;  // base address -> size
  std::size_t allocated_bytes = 0;
  std::unordered_map<const void*, Kernel> kernels;
  std::unordered_map<const void*, Variable> variables;
  std::unordered_map<cudaTextureObject_t, Texture> textures;
  cudaTextureObject_t next_texture = 1;
  int device_count = 1;
  int device_major = 1;
  int allocation_fill = -1;
  // A launch that failed while running, reported by the next synchronise.
  cudaError_t pending = cudaSuccess;
};

// Never destroyed: the kernel module is unregistered after every static
// destructor has run, and the allocations it still holds stay reachable.
State& state();

// Whether [p, p + bytes) lies inside one live allocation.  Caller holds the lock.
bool inside_allocation(const State& st, const void* p, std::size_t bytes);

// The limits of a launch's shape, which the device properties report too.
constexpr unsigned kMaxThreadsPerBlock = 1024;
constexpr unsigned kMaxBlockDim[3] = {1024, 1024, 64};
constexpr unsigned kMaxGridDim[3] = {0x7fffffffu, 65535, 65535};

// The textures as they stood when a launch began, which its bodies read
// without taking the state's lock.
using TextureSnapshot = std::vector<std::pair<cudaTextureObject_t, Texture>>;
TextureSnapshot snapshot_textures();

// Makes `textures` what texture_memory answers from on this thread while it
// lives: one launch body's stretch of work.
class LaunchTextures {
 public:
  explicit LaunchTextures(const TextureSnapshot& textures);
  ~LaunchTextures();
  LaunchTextures(const LaunchTextures&) = delete;
  LaunchTextures& operator=(const LaunchTextures&) = delete;

 private:
  const TextureSnapshot* saved_;
};

// Tells the test hooks' module observer, if one is set, of `event`.
void observe_module_event(const char* event);

// Records a failure as the calling thread's last error; success leaves the
// last error as it was.
cudaError_t result(cudaError_t code);

// Whether the test hooks have armed a failure for this call of `op`; if so
// `*code` is the failure to return.
bool injected(test_hooks::Op op, cudaError_t* code);

// Every runtime call that can fail: the armed test failure first, in place
// of the call's work, then the call's own result, which a failure also
// leaves as the last error.
template <class Body>
cudaError_t runtime_call(test_hooks::Op op, Body&& body) {
  cudaError_t code;
  if (injected(op, &code)) return result(code);
  return result(body());
}

}  // namespace cpurt::internal
