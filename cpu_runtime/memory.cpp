// Allocations, copies and the kernel module's symbols.  Host memory is
// device memory; what this file keeps is the bookkeeping a device would
// enforce.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cpu_runtime/runtime_state.h"

using namespace cpurt::internal;
using cpurt::test_hooks::Op;

namespace {
constexpr std::size_t kAllocationAlignment = 256;
}  // namespace

// Made on first use, so usable by static initialisers of any order, and
// never destroyed (see runtime_state.h).
State& cpurt::internal::state() {
  static State* const s = new State;
  return *s;
}

bool cpurt::internal::inside_allocation(const State& st, const void* p, std::size_t bytes) {
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  auto it = st.allocations.upper_bound(address);
  if (it == st.allocations.begin()) return false;
  --it;
  const std::uintptr_t offset = address - it->first;
  return offset <= it->second && bytes <= it->second - offset;
}

// ------------------------------------------------------------ allocations

cudaError_t cudaMalloc(void** dev_ptr, std::size_t size) {
  return runtime_call(Op::malloc, [&] {
    if (dev_ptr == nullptr) return cudaErrorInvalidValue;
    if (size == 0) {
      *dev_ptr = nullptr;
      return cudaSuccess;
    }
    if (size > SIZE_MAX - kAllocationAlignment) return cudaErrorMemoryAllocation;
    const std::size_t rounded =
        (size + kAllocationAlignment - 1) / kAllocationAlignment * kAllocationAlignment;
    void* block = std::aligned_alloc(kAllocationAlignment, rounded);
    if (block == nullptr) return cudaErrorMemoryAllocation;
    State& st = state();
    std::lock_guard lock(st.mutex);
    if (st.allocation_fill >= 0) std::memset(block, st.allocation_fill, size);
    st.allocations.emplace(reinterpret_cast<std::uintptr_t>(block), size);
    st.allocated_bytes += size;
    *dev_ptr = block;
    return cudaSuccess;
  });
}

cudaError_t cudaFree(void* dev_ptr) {
  return runtime_call(Op::free, [&] {
    if (dev_ptr == nullptr) return cudaSuccess;
    State& st = state();
    {
      std::lock_guard lock(st.mutex);
      const auto it = st.allocations.find(reinterpret_cast<std::uintptr_t>(dev_ptr));
      if (it == st.allocations.end()) return cudaErrorInvalidValue;
      st.allocated_bytes -= it->second;
      st.allocations.erase(it);
    }
    std::free(dev_ptr);
    return cudaSuccess;
  });
}

cpurt::AllocationStats cpurt::allocation_stats() {
  State& st = state();
  std::lock_guard lock(st.mutex);
  return AllocationStats{st.allocations.size(), st.allocated_bytes};
}

// ----------------------------------------------------------------- copies

cudaError_t cudaMemcpy(void* dst, const void* src, std::size_t count, cudaMemcpyKind kind) {
  return runtime_call(Op::memcpy, [&] {
    const bool dst_on_device = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice;
    const bool src_on_device = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice;
    if (kind != cudaMemcpyHostToHost && !dst_on_device && !src_on_device) {
      return cudaErrorInvalidMemcpyDirection;
    }
    if (count == 0) return cudaSuccess;
    if (dst == nullptr || src == nullptr) return cudaErrorInvalidValue;
    {
      State& st = state();
      std::lock_guard lock(st.mutex);
      if ((dst_on_device && !inside_allocation(st, dst, count)) ||
          (src_on_device && !inside_allocation(st, src, count))) {
        return cudaErrorInvalidValue;
      }
    }
    std::memmove(dst, src, count);
    return cudaSuccess;
  });
}

cudaError_t cudaMemcpyToSymbol(const void* symbol, const void* src, std::size_t count,
                               std::size_t offset, cudaMemcpyKind kind) {
  return runtime_call(Op::memcpy_to_symbol, [&] {
    if (kind != cudaMemcpyHostToDevice && kind != cudaMemcpyDeviceToDevice) {
      return cudaErrorInvalidMemcpyDirection;
    }
    State& st = state();
    void* storage;
    {
      std::lock_guard lock(st.mutex);
      const auto it = st.variables.find(symbol);
      if (it == st.variables.end()) return cudaErrorInvalidSymbol;
      const cpurt::internal::Variable& var = it->second;
      if (offset > var.bytes || count > var.bytes - offset) return cudaErrorInvalidValue;
      if (count == 0) return cudaSuccess;
      if (src == nullptr) return cudaErrorInvalidValue;
      if (kind == cudaMemcpyDeviceToDevice && !inside_allocation(st, src, count)) {
        return cudaErrorInvalidValue;
      }
      storage = static_cast<unsigned char*>(var.storage) + offset;
    }
    std::memmove(storage, src, count);
    return cudaSuccess;
  });
}

// ---------------------------------------------------------- module symbols

namespace cpurt {

Module* register_module(const char* ident) {
  internal::observe_module_event("register");
  return new Module{ident != nullptr ? ident : ""};
}

void unregister_module(Module* module) {
  if (module == nullptr) return;
  internal::observe_module_event("unregister");
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
      internal::Kernel{module, kernel, invoke, parameter_count};
}

void register_variable(Module* module, void* host_object, const char* name, std::size_t bytes,
                       bool constant) {
  (void)name;
  (void)constant;  // constant and global stores are the same host memory here
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.variables[host_object] = internal::Variable{module, host_object, bytes};
}

}  // namespace cpurt
