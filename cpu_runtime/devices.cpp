// Device queries: one device, named for the CPU and sized by its memory and
// cores.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "cpu_runtime/runtime_state.h"

using namespace cpurt::internal;
using cpurt::test_hooks::Op;

namespace {

std::string cpu_model_name() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  const std::string text((std::istreambuf_iterator<char>(cpuinfo)), std::istreambuf_iterator<char>());
  return cpurt::cpu_model_name(text);
}

}  // namespace

cudaError_t cudaGetDeviceCount(int* count) {
  return runtime_call(Op::get_device_count, [&] {
    if (count == nullptr) return cudaErrorInvalidValue;
    State& st = state();
    std::lock_guard lock(st.mutex);
    *count = st.device_count;
    return cudaSuccess;
  });
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int device) {
  return runtime_call(Op::get_device_properties, [&] {
    if (prop == nullptr) return cudaErrorInvalidValue;
    State& st = state();
    int major;
    {
      std::lock_guard lock(st.mutex);
      if (device < 0 || device >= st.device_count) return cudaErrorInvalidDevice;
      major = st.device_major;
    }
    static const std::string name = cpu_model_name();
    *prop = cudaDeviceProp{};
    std::strncpy(prop->name, name.c_str(), sizeof(prop->name) - 1);
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    prop->totalGlobalMem = pages > 0 && page_size > 0
                               ? static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size)
                               : 0;
    prop->warpSize = 1;
    prop->maxThreadsPerBlock = static_cast<int>(cpurt::internal::kMaxThreadsPerBlock);
    for (int i = 0; i < 3; ++i) {
      prop->maxThreadsDim[i] = static_cast<int>(cpurt::internal::kMaxBlockDim[i]);
      prop->maxGridSize[i] = static_cast<int>(cpurt::internal::kMaxGridDim[i]);
    }
    prop->major = major;
    prop->minor = 0;
    prop->multiProcessorCount = cpurt::thread_count();
    return cudaSuccess;
  });
}

cudaError_t cudaSetDevice(int device) {
  return runtime_call(Op::set_device, [&] {
    State& st = state();
    std::lock_guard lock(st.mutex);
    if (device < 0 || device >= st.device_count) return cudaErrorInvalidDevice;
    return cudaSuccess;
  });
}

std::string cpurt::cpu_model_name(std::string_view cpuinfo) {
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
