// Texture objects over linear device memory, and the fetch the kernel
// makes through them.
#include <algorithm>
#include <cstring>

#include "cpu_runtime/runtime_state.h"

using namespace cpurt::internal;
using cpurt::test_hooks::Op;

namespace {

// The running launch's textures on this thread, or null outside a launch.
// Every block looks its textures up, and two threads taking the state's
// lock thousands of times a frame would pass its cache line back and forth;
// a texture stays readable to the launch that saw it, as a kernel on a
// device keeps its descriptor.
thread_local const cpurt::internal::TextureSnapshot* launch_textures = nullptr;

}  // namespace

cpurt::internal::TextureSnapshot cpurt::internal::snapshot_textures() {
  State& st = state();
  std::lock_guard lock(st.mutex);
  return TextureSnapshot(st.textures.begin(), st.textures.end());
}

cpurt::internal::LaunchTextures::LaunchTextures(const TextureSnapshot& textures)
    : saved_(launch_textures) {
  launch_textures = &textures;
}

cpurt::internal::LaunchTextures::~LaunchTextures() { launch_textures = saved_; }

cudaChannelFormatDesc cudaCreateChannelDesc(int x, int y, int z, int w, cudaChannelFormatKind f) {
  return cudaChannelFormatDesc{x, y, z, w, f};
}

cudaError_t cudaCreateTextureObject(cudaTextureObject_t* tex, const cudaResourceDesc* res,
                                    const cudaTextureDesc* desc,
                                    const cudaResourceViewDesc* view) {
  return runtime_call(Op::create_texture_object, [&] {
    if (tex == nullptr || res == nullptr || desc == nullptr || view != nullptr ||
        res->resType != cudaResourceTypeLinear) {
      return cudaErrorInvalidValue;
    }
    const cudaChannelFormatDesc& channel = res->res.linear.desc;
    if (channel.x != 32 || channel.y != 32 || channel.z != 32 || channel.w != 32 ||
        channel.f != cudaChannelFormatKindUnsigned) {
      return cudaErrorInvalidChannelDescriptor;
    }
    const std::size_t bytes = res->res.linear.sizeInBytes;
    if (bytes == 0 || bytes % sizeof(uint4) != 0 || desc->filterMode != cudaFilterModePoint ||
        desc->readMode != cudaReadModeElementType || desc->normalizedCoords != 0 ||
        desc->addressMode[0] != cudaAddressModeClamp) {
      return cudaErrorInvalidValue;
    }
    State& st = state();
    std::lock_guard lock(st.mutex);
    if (!inside_allocation(st, res->res.linear.devPtr, bytes)) return cudaErrorInvalidValue;
    const cudaTextureObject_t handle = st.next_texture++;
    st.textures.emplace(handle, cpurt::internal::Texture{res->res.linear.devPtr, bytes});
    *tex = handle;
    return cudaSuccess;
  });
}

cudaError_t cudaDestroyTextureObject(cudaTextureObject_t tex) {
  return runtime_call(Op::destroy_texture_object, [&] {
    State& st = state();
    std::lock_guard lock(st.mutex);
    if (st.textures.erase(tex) == 0) return cudaErrorInvalidValue;
    return cudaSuccess;
  });
}

cpurt::TextureMemory cpurt::texture_memory(cudaTextureObject_t tex) {
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
