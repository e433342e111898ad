#include "cpu_runtime/runtime.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "cpu_runtime/test_hooks.h"

namespace {

using cpurt::test_hooks::Op;

// ------------------------------------------------------------ a test module

struct BlockRecord {
  unsigned runs;
  uint3 index;
  dim3 block;
  dim3 grid;
  int tag;
  std::uint64_t launch;
};

// Each block writes only its own record, so a block run twice or run
// concurrently with itself shows up as runs != 1 (or as a race under TSan).
void record_blocks(BlockRecord* records, int tag) {
  const unsigned linear = blockIdx.x + gridDim.x * (blockIdx.y + gridDim.y * blockIdx.z);
  BlockRecord& r = records[linear];
  ++r.runs;
  r.index = blockIdx;
  r.block = blockDim;
  r.grid = gridDim;
  r.tag = tag;
  r.launch = cpurt::launch_serial();
}

void failing_kernel() { throw std::runtime_error("fault while running"); }

void short_lived_kernel(int) {}

alignas(16) unsigned char test_store[64];
alignas(16) unsigned char unregistered_store[64];

cpurt::Module* register_test_module() {
  cpurt::Module* module = cpurt::register_module("runtime_test.cpp");
  cpurt::register_kernel(module, record_blocks, "record_blocks");
  cpurt::register_kernel(module, failing_kernel, "failing_kernel");
  cpurt::register_variable(module, test_store, "test_store", sizeof(test_store), true);
  return module;
}

cpurt::Module* const test_module = register_test_module();

class RuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cpurt::test_hooks::reset();
    (void)cudaGetLastError();
  }
  void TearDown() override { cpurt::test_hooks::reset(); }
};

// ----------------------------------------------------------------- devices

using RuntimeDevice = RuntimeTest;

TEST_F(RuntimeDevice, OneCapableDeviceNamedAfterTheCpu) {
  int count = -1;
  ASSERT_EQ(cudaGetDeviceCount(&count), cudaSuccess);
  EXPECT_EQ(count, 1);

  cudaDeviceProp prop;
  ASSERT_EQ(cudaGetDeviceProperties(&prop, 0), cudaSuccess);
  EXPECT_GE(prop.major, 1);
  EXPECT_EQ(prop.multiProcessorCount, cpurt::thread_count());
  EXPECT_GT(prop.totalGlobalMem, 0u);

  std::ifstream cpuinfo("/proc/cpuinfo");
  const std::string text((std::istreambuf_iterator<char>(cpuinfo)), std::istreambuf_iterator<char>());
  EXPECT_EQ(std::string(prop.name), cpurt::cpu_model_name(text));

  EXPECT_EQ(cudaSetDevice(0), cudaSuccess);
}

TEST(CpuModelName, TheFirstModelNameLineWithAValue) {
  struct Case {
    const char* what;
    const char* cpuinfo;
    const char* name;
  };
  const Case cases[] = {
      {"x86 layout",
       "processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel name\t: AMD EPYC 9R14 96-Core Processor\n"
       "\nprocessor\t: 1\nmodel name\t: AMD EPYC 9R14 96-Core Processor\n",
       "AMD EPYC 9R14 96-Core Processor"},
      {"first of two names", "model name\t: First\nmodel name\t: Second\n", "First"},
      {"no blank after the colon", "model name:Plain\n", "Plain"},
      {"empty value skipped", "model name\t:  \t\nmodel name\t: Second\n", "Second"},
      {"last line without newline", "cpu MHz\t: 2600\nmodel name\t: Last", "Last"},
      {"no model name line", "processor\t: 0\nBogoMIPS\t: 50.00\n", "CPU"},
      {"empty text", "", "CPU"},
      {"a model name line without a colon", "model name\nmodel name\t: Later\n", "CPU"},
      {"not at the start of the line", "cpu model name\t: X\n", "CPU"},
  };
  for (const Case& c : cases) EXPECT_EQ(cpurt::cpu_model_name(c.cpuinfo), c.name) << c.what;
}

TEST_F(RuntimeDevice, BadDeviceNumbersAreRefusedAndRecorded) {
  cudaDeviceProp prop;
  EXPECT_EQ(cudaGetDeviceProperties(&prop, 1), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaSetDevice(-1), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidDevice);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess) << "reading the last error clears it";
}

TEST_F(RuntimeDevice, TestHooksSimulateMissingDevices) {
  cpurt::test_hooks::set_device_count(0);
  int count = -1;
  EXPECT_EQ(cudaGetDeviceCount(&count), cudaSuccess);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(cudaSetDevice(0), cudaErrorInvalidDevice);

  cpurt::test_hooks::set_device_count(1);
  cpurt::test_hooks::set_device_major(0);
  cudaDeviceProp prop;
  ASSERT_EQ(cudaGetDeviceProperties(&prop, 0), cudaSuccess);
  EXPECT_EQ(prop.major, 0);
}

TEST_F(RuntimeDevice, InjectedFailureHitsTheChosenCallOnly) {
  cpurt::test_hooks::fail_next(Op::synchronize, cudaErrorLaunchFailure, 2);
  EXPECT_EQ(cudaSetDevice(0), cudaSuccess) << "another operation is not affected";
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaErrorLaunchFailure);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess) << "the failure fires once";
  EXPECT_EQ(cudaGetLastError(), cudaErrorLaunchFailure);
}

// ------------------------------------------------------------------ errors

TEST(RuntimeErrors, CodesAndTextsAreTheGpuRuntimes) {
  struct Case {
    cudaError_t code;
    int value;
    const char* text;
  };
  const Case cases[] = {
      {cudaSuccess, 0, "no error"},
      {cudaErrorInvalidValue, 1, "invalid argument"},
      {cudaErrorMemoryAllocation, 2, "out of memory"},
      {cudaErrorInvalidConfiguration, 9, "invalid configuration argument"},
      {cudaErrorInvalidSymbol, 13, "invalid device symbol"},
      {cudaErrorInvalidMemcpyDirection, 21, "invalid copy direction for memcpy"},
      {cudaErrorInvalidDeviceFunction, 98, "invalid device function"},
      {cudaErrorNoDevice, 100, "no CUDA-capable device is detected"},
      {cudaErrorInvalidDevice, 101, "invalid device ordinal"},
      {cudaErrorLaunchFailure, 719, "unspecified launch failure"},
      {static_cast<cudaError_t>(12345), 12345, "unrecognized error code"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(static_cast<int>(c.code), c.value);
    EXPECT_STREQ(cudaGetErrorString(c.code), c.text) << c.value;
  }
}

// ------------------------------------------------------------------ memory

using RuntimeMemory = RuntimeTest;

TEST_F(RuntimeMemory, AllocationsAreAlignedCountedAndFreedOnce) {
  const cpurt::AllocationStats before = cpurt::allocation_stats();
  void* a = nullptr;
  float* b = nullptr;
  ASSERT_EQ(cudaMalloc(&a, 1000), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&b, 24), cudaSuccess);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a) % 256, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 256, 0u);
  cpurt::AllocationStats during = cpurt::allocation_stats();
  EXPECT_EQ(during.count, before.count + 2);
  EXPECT_EQ(during.bytes, before.bytes + 1024);

  EXPECT_EQ(cudaFree(a), cudaSuccess);
  EXPECT_EQ(cudaFree(a), cudaErrorInvalidValue) << "a block is freed once";
  EXPECT_EQ(cudaFree(static_cast<char*>(static_cast<void*>(b)) + 4), cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(b), cudaSuccess);
  EXPECT_EQ(cudaFree(nullptr), cudaSuccess);
  during = cpurt::allocation_stats();
  EXPECT_EQ(during.count, before.count);
  EXPECT_EQ(during.bytes, before.bytes);

  void* empty = &empty;
  EXPECT_EQ(cudaMalloc(&empty, 0), cudaSuccess);
  EXPECT_EQ(empty, nullptr);
  EXPECT_EQ(cudaMalloc(&empty, SIZE_MAX), cudaErrorMemoryAllocation);
  EXPECT_STREQ(cudaGetErrorString(cudaGetLastError()), "out of memory");
}

TEST_F(RuntimeMemory, CopiesMustStayInsideOneAllocation) {
  unsigned char* device = nullptr;
  unsigned char* other = nullptr;
  ASSERT_EQ(cudaMalloc(&device, 256), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&other, 256), cudaSuccess);
  std::vector<unsigned char> host(512, 7);
  struct Case {
    const char* what;
    void* dst;
    const void* src;
    std::size_t count;
    cudaMemcpyKind kind;
    cudaError_t expected;
  };
  const Case cases[] = {
      {"whole block in", device, host.data(), 256, cudaMemcpyHostToDevice, cudaSuccess},
      {"last byte in", device + 255, host.data(), 1, cudaMemcpyHostToDevice, cudaSuccess},
      {"one byte past the end", device + 1, host.data(), 256, cudaMemcpyHostToDevice,
       cudaErrorInvalidValue},
      {"more than the block", device, host.data(), 257, cudaMemcpyHostToDevice,
       cudaErrorInvalidValue},
      {"host memory as device", host.data(), host.data() + 256, 16, cudaMemcpyHostToDevice,
       cudaErrorInvalidValue},
      {"tail out", host.data(), device + 128, 128, cudaMemcpyDeviceToHost, cudaSuccess},
      {"tail and beyond out", host.data(), device + 128, 129, cudaMemcpyDeviceToHost,
       cudaErrorInvalidValue},
      {"device to device", other, device, 256, cudaMemcpyDeviceToDevice, cudaSuccess},
      {"nothing from nowhere", nullptr, nullptr, 0, cudaMemcpyHostToDevice, cudaSuccess},
      {"unknown direction", device, host.data(), 1, static_cast<cudaMemcpyKind>(7),
       cudaErrorInvalidMemcpyDirection},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cudaMemcpy(c.dst, c.src, c.count, c.kind), c.expected) << c.what;
  }
  EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidMemcpyDirection);
  EXPECT_EQ(other[0], 7);
  EXPECT_EQ(other[255], 7);
  EXPECT_EQ(cudaFree(device), cudaSuccess);
  EXPECT_EQ(cudaFree(other), cudaSuccess);
}

TEST_F(RuntimeMemory, SymbolCopiesStopAtTheRegisteredSize) {
  struct Case {
    std::size_t count;
    std::size_t offset;
    cudaError_t expected;
  };
  const Case cases[] = {
      {64, 0, cudaSuccess},         {65, 0, cudaErrorInvalidValue}, {16, 48, cudaSuccess},
      {17, 48, cudaErrorInvalidValue}, {0, 64, cudaSuccess},       {1, 64, cudaErrorInvalidValue},
      {1, 65, cudaErrorInvalidValue},
  };
  unsigned char source[80];
  for (const Case& c : cases) {
    std::memset(test_store, 0xAA, sizeof(test_store));
    for (std::size_t i = 0; i < sizeof(source); ++i) source[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(cudaMemcpyToSymbol(test_store, source, c.count, c.offset), c.expected)
        << c.count << " bytes at offset " << c.offset;
    // The symbol's storage is the host object itself.
    for (std::size_t i = 0; i < sizeof(test_store); ++i) {
      const bool copied = c.expected == cudaSuccess && i >= c.offset && i < c.offset + c.count;
      const unsigned expected = copied ? static_cast<unsigned>(i - c.offset) : 0xAAu;
      ASSERT_EQ(test_store[i], expected) << "byte " << i << " after " << c.count << " at "
                                         << c.offset;
    }
  }
  EXPECT_EQ(cudaMemcpyToSymbol(unregistered_store, source, 1), cudaErrorInvalidSymbol);
  EXPECT_EQ(cudaMemcpyToSymbol(test_store, source, 1, 0, cudaMemcpyDeviceToHost),
            cudaErrorInvalidMemcpyDirection);
}

TEST_F(RuntimeMemory, UnregisteringAModuleForgetsItsKernelsAndSymbols) {
  static unsigned char store[8];
  cpurt::Module* module = cpurt::register_module("short-lived");
  cpurt::register_kernel(module, short_lived_kernel, "short_lived_kernel");
  cpurt::register_variable(module, store, "store", sizeof(store), true);
  const unsigned char byte = 1;
  EXPECT_EQ(cudaMemcpyToSymbol(store, &byte, 1), cudaSuccess);
  int arg = 0;
  void* args[] = {&arg};
  EXPECT_EQ(cudaLaunchKernel(short_lived_kernel, dim3(1), dim3(1), args), cudaSuccess);

  cpurt::unregister_module(module);
  EXPECT_EQ(cudaMemcpyToSymbol(store, &byte, 1), cudaErrorInvalidSymbol);
  EXPECT_EQ(cudaLaunchKernel(short_lived_kernel, dim3(1), dim3(1), args),
            cudaErrorInvalidDeviceFunction);
  EXPECT_EQ(cudaMemcpyToSymbol(test_store, &byte, 1), cudaSuccess) << "other modules stay";
}

// ---------------------------------------------------------------- textures

using RuntimeTexture = RuntimeTest;

cudaResourceDesc linear_resource(void* base, std::size_t bytes,
                                 cudaChannelFormatDesc channel = cudaCreateChannelDesc(
                                     32, 32, 32, 32, cudaChannelFormatKindUnsigned)) {
  cudaResourceDesc res{};
  res.resType = cudaResourceTypeLinear;
  res.res.linear.devPtr = base;
  res.res.linear.desc = channel;
  res.res.linear.sizeInBytes = bytes;
  return res;
}

cudaTextureDesc point_clamp() {
  cudaTextureDesc desc{};
  desc.addressMode[0] = cudaAddressModeClamp;
  desc.addressMode[1] = cudaAddressModeClamp;
  desc.filterMode = cudaFilterModePoint;
  desc.readMode = cudaReadModeElementType;
  desc.normalizedCoords = 0;
  return desc;
}

TEST_F(RuntimeTexture, IntegerFetchesAreClampedToTheTexture) {
  uint4* texels = nullptr;
  ASSERT_EQ(cudaMalloc(&texels, 4 * sizeof(uint4)), cudaSuccess);
  const uint4 host[4] = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}, {13, 14, 15, 0xffffffffu}};
  ASSERT_EQ(cudaMemcpy(texels, host, sizeof(host), cudaMemcpyHostToDevice), cudaSuccess);

  const cudaResourceDesc res = linear_resource(texels, sizeof(host));
  const cudaTextureDesc desc = point_clamp();
  cudaTextureObject_t tex = 0;
  ASSERT_EQ(cudaCreateTextureObject(&tex, &res, &desc, nullptr), cudaSuccess);
  EXPECT_NE(tex, 0u);

  const struct {
    int index;
    int texel;
  } cases[] = {{0, 0}, {2, 2}, {3, 3}, {4, 3}, {1000, 3}, {-1, 0}, {-1000, 0}};
  for (const auto& c : cases) {
    const uint4 t = tex1Dfetch<uint4>(tex, c.index);
    const uint4& e = host[c.texel];
    EXPECT_TRUE(t.x == e.x && t.y == e.y && t.z == e.z && t.w == e.w) << "index " << c.index;
  }
  const cpurt::TextureMemory memory = cpurt::texture_memory(tex);
  EXPECT_EQ(memory.base, texels);
  EXPECT_EQ(memory.bytes, sizeof(host));

  ASSERT_EQ(cudaDestroyTextureObject(tex), cudaSuccess);
  EXPECT_EQ(cpurt::texture_memory(tex).base, nullptr);
  EXPECT_EQ(tex1Dfetch<uint4>(tex, 0).x, 0u) << "a destroyed texture reads zeros";
  EXPECT_EQ(cudaDestroyTextureObject(tex), cudaErrorInvalidValue);
  EXPECT_EQ(cudaFree(texels), cudaSuccess);
}

TEST_F(RuntimeTexture, OnlyPointClampedFourChannelUnsignedLinearTexturesAreMade) {
  unsigned char* base = nullptr;
  ASSERT_EQ(cudaMalloc(&base, 1024), cudaSuccess);
  unsigned char host[1024];
  struct Case {
    const char* what;
    cudaResourceDesc res;
    cudaTextureDesc desc;
    cudaError_t expected;
  };
  std::vector<Case> cases;
  cases.push_back({"the sphere texture", linear_resource(base, 1024), point_clamp(), cudaSuccess});
  cases.push_back({"float channels",
                   linear_resource(base, 1024,
                                   cudaCreateChannelDesc(32, 32, 32, 32, cudaChannelFormatKindFloat)),
                   point_clamp(), cudaErrorInvalidChannelDescriptor});
  cases.push_back({"two channels",
                   linear_resource(base, 1024,
                                   cudaCreateChannelDesc(32, 32, 0, 0, cudaChannelFormatKindUnsigned)),
                   point_clamp(), cudaErrorInvalidChannelDescriptor});
  cases.push_back({"past the allocation", linear_resource(base + 16, 1024), point_clamp(),
                   cudaErrorInvalidValue});
  cases.push_back({"over host memory", linear_resource(host, 1024), point_clamp(),
                   cudaErrorInvalidValue});
  cases.push_back({"partial texel", linear_resource(base, 1000), point_clamp(),
                   cudaErrorInvalidValue});
  cudaTextureDesc linear = point_clamp();
  linear.filterMode = cudaFilterModeLinear;
  cases.push_back({"linear filtering", linear_resource(base, 1024), linear, cudaErrorInvalidValue});
  cudaTextureDesc normalized = point_clamp();
  normalized.normalizedCoords = 1;
  cases.push_back({"normalised coordinates", linear_resource(base, 1024), normalized,
                   cudaErrorInvalidValue});
  for (const Case& c : cases) {
    cudaTextureObject_t tex = 0;
    EXPECT_EQ(cudaCreateTextureObject(&tex, &c.res, &c.desc, nullptr), c.expected) << c.what;
    if (c.expected == cudaSuccess) {
      EXPECT_EQ(cudaDestroyTextureObject(tex), cudaSuccess);
    }
  }
  EXPECT_EQ(cudaFree(base), cudaSuccess);
}

// ------------------------------------------------------------------ launch

class LaunchTest : public RuntimeTest {
 protected:
  void TearDown() override {
    cpurt::set_thread_count(0);
    RuntimeTest::TearDown();
  }
};

// Every block sees its launch's values, and the launch's serial number:
// one for all of its blocks, a new one for every launch, and 0 on the
// calling thread once the launch is over.
TEST_F(LaunchTest, EveryBlockRunsOnceWithItsLaunchValues) {
  std::uint64_t previous_launch = 0;
  for (const int threads : {1, 2, 3}) {
    cpurt::set_thread_count(threads);
    EXPECT_EQ(cpurt::thread_count(), threads);
    const dim3 grid(7, 5, 3);
    const dim3 block(8, 4, 2);
    std::vector<BlockRecord> records(grid.x * grid.y * grid.z, BlockRecord{});
    BlockRecord* out = records.data();
    int tag = 42 + threads;
    void* args[] = {&out, &tag};
    ASSERT_EQ(cudaLaunchKernel(record_blocks, grid, block, args), cudaSuccess);
    ASSERT_EQ(cudaGetLastError(), cudaSuccess);
    for (unsigned z = 0; z < grid.z; ++z) {
      for (unsigned y = 0; y < grid.y; ++y) {
        for (unsigned x = 0; x < grid.x; ++x) {
          const BlockRecord& r = records[x + grid.x * (y + grid.y * z)];
          ASSERT_EQ(r.runs, 1u) << x << "," << y << "," << z << " on " << threads;
          EXPECT_TRUE(r.index.x == x && r.index.y == y && r.index.z == z);
          EXPECT_TRUE(r.block.x == 8 && r.block.y == 4 && r.block.z == 2);
          EXPECT_TRUE(r.grid.x == 7 && r.grid.y == 5 && r.grid.z == 3);
          EXPECT_EQ(r.tag, tag);
          EXPECT_EQ(r.launch, records[0].launch);
        }
      }
    }
    EXPECT_GT(records[0].launch, previous_launch);
    previous_launch = records[0].launch;
    EXPECT_EQ(cpurt::launch_serial(), 0u);
  }
}

TEST_F(LaunchTest, TheFrameGridOf4800BlocksRunsEachBlockOnce) {
  const dim3 grid(80, 60, 1);
  std::vector<BlockRecord> records(grid.x * grid.y, BlockRecord{});
  BlockRecord* out = records.data();
  int tag = 0;
  void* args[] = {&out, &tag};
  for (int launch = 1; launch <= 3; ++launch) {
    ASSERT_EQ(cudaLaunchKernel(record_blocks, grid, dim3(8, 8, 1), args), cudaSuccess);
    for (const BlockRecord& r : records) ASSERT_EQ(r.runs, static_cast<unsigned>(launch));
  }
}

TEST_F(LaunchTest, BadShapesFailAndAreReportedByTheLastError) {
  struct Case {
    dim3 grid;
    dim3 block;
  };
  const Case cases[] = {
      {dim3(0, 1, 1), dim3(8, 8, 1)},    {dim3(1, 0, 1), dim3(8, 8, 1)},
      {dim3(1, 1, 0), dim3(8, 8, 1)},    {dim3(1, 1, 1), dim3(0, 8, 1)},
      {dim3(1, 1, 1), dim3(1025, 1, 1)}, {dim3(1, 1, 1), dim3(32, 32, 2)},
      {dim3(1, 1, 1), dim3(1, 1, 65)},   {dim3(1, 65536, 1), dim3(8, 8, 1)},
  };
  BlockRecord record{};
  BlockRecord* out = &record;
  int tag = 0;
  void* args[] = {&out, &tag};
  for (const Case& c : cases) {
    (void)cudaLaunchKernel(record_blocks, c.grid, c.block, args);
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration)
        << c.grid.x << "x" << c.grid.y << "x" << c.grid.z << " of " << c.block.x << "x"
        << c.block.y << "x" << c.block.z;
  }
  EXPECT_EQ(record.runs, 0u);
  EXPECT_EQ(cudaLaunchKernel(record_blocks, dim3(1), dim3(1), nullptr), cudaErrorInvalidValue);
  EXPECT_EQ(cudaLaunchKernel(record_blocks, dim3(1), dim3(1), args, 16), cudaErrorInvalidValue);
  EXPECT_EQ(record.runs, 0u);
}

TEST_F(LaunchTest, UnknownKernelsAreInvalidDeviceFunctions) {
  int arg = 0;
  void* args[] = {&arg};
  EXPECT_EQ(cudaLaunchKernel(short_lived_kernel, dim3(1), dim3(1), args),
            cudaErrorInvalidDeviceFunction);
  EXPECT_STREQ(cudaGetErrorString(cudaGetLastError()), "invalid device function");
}

TEST_F(LaunchTest, AKernelFailingWhileRunningIsReportedByTheSynchronise) {
  EXPECT_EQ(cudaLaunchKernel(failing_kernel, dim3(4), dim3(1), nullptr), cudaSuccess);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
  EXPECT_EQ(cudaDeviceSynchronize(), cudaErrorLaunchFailure);
  EXPECT_STREQ(cudaGetErrorString(cudaGetLastError()), "unspecified launch failure");
  EXPECT_EQ(cudaDeviceSynchronize(), cudaSuccess);
}

}  // namespace
