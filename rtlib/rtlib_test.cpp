#include "rtlib/rtlib.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cpu_backend/block_trace.h"
#include "cpu_runtime/test_hooks.h"
#include "cutil/test_hooks.h"
#include "runtime/backend_controls.h"
#include "kernel/host_scene.h"
#include "kernel/ray_trace.h"
#include "scene/animation.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

using cpurt::test_hooks::Op;
using cutil_test_hooks::TimerOp;

constexpr int kWidth = kFrameWidth;
constexpr int kHeight = kFrameHeight;

// The initial scene, with spheres 1 and 3 placed for an animation clock
// when one is given.
struct TestScene {
  SceneRecords records;

  explicit TestScene(std::optional<float> clock)
      : records(clock ? scene_at_clock(*clock) : initial_scene()) {}

  void upload() const {
    ASSERT_EQ(upload_scene(records), 0);
  }

  // The frame the host computes, one pixel at a time.
  std::vector<std::uint32_t> reference_frame(int width, int height) const {
    const HostScene host(records);
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(width) * height);
    trace_frame_scalar(host.view(), width, height, frame.data());
    return frame;
  }
};

// Fails with the count of differing words and the first of them, rather
// than one failure per pixel.
::testing::AssertionResult same_frame(const std::vector<std::uint32_t>& got,
                                      const std::vector<std::uint32_t>& want, int width) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "sizes differ";
  std::size_t differing = 0;
  std::size_t first = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (got[i] != want[i] && differing++ == 0) first = i;
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << differing << " words differ; first at (" << first % width << ", " << first / width
         << "): 0x" << std::hex << got[first] << " instead of 0x" << want[first];
}

// Each test starts from an unfailing runtime and sets up its own frame;
// the kernel's constant stores are given back as the test found them.
class HostLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    cpurt::test_hooks::reset();
    cutil_test_hooks::reset();
    std::memcpy(saved_materials_, materials_dump, sizeof(saved_materials_));
    std::memcpy(saved_lights_, point_lights_dump, sizeof(saved_lights_));
  }
  void TearDown() override {
    if (initialised_) gpu_release();
    cpurt::test_hooks::reset();
    set_backend_kernel("simd");
    set_backend_threads(0);
    std::memcpy(materials_dump, saved_materials_, sizeof(saved_materials_));
    std::memcpy(point_lights_dump, saved_lights_, sizeof(saved_lights_));
  }
  void init(int width, int height) {
    ASSERT_EQ(gpu_init(width, height), 0);
    initialised_ = true;
  }
  // One frame through render_frame, its console line captured.
  std::vector<std::uint32_t> render(int width, int height, std::uint32_t fill = 0,
                                    std::string* console = nullptr) {
    std::vector<std::uint32_t> frame(static_cast<std::size_t>(width) * height, fill);
    ::testing::internal::CaptureStdout();
    const int result = render_frame(frame.data());
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 0);
    if (console != nullptr) *console = out;
    return frame;
  }

 private:
  bool initialised_ = false;
  unsigned char saved_materials_[kMaterialStoreBytes];
  unsigned char saved_lights_[kLightStoreBytes];
};

// ------------------------------------------------------------ whole frames

using RenderFrame = HostLayer;

TEST_F(RenderFrame, EqualsTheHostTraceWordForWord) {
  init(kWidth, kHeight);
  const std::optional<float> clocks[] = {std::nullopt, 1.0f, Animation{}.step(60.0f),
                                         2.5f, 4.0f, 5.75f};
  for (const std::optional<float>& clock : clocks) {
    const TestScene scene(clock);
    scene.upload();
    const std::vector<std::uint32_t> want = scene.reference_frame(kWidth, kHeight);
    for (const KernelChoice& kernel : backend_kernels()) {
      ASSERT_TRUE(set_backend_kernel(kernel.name));
      EXPECT_TRUE(same_frame(render(kWidth, kHeight), want, kWidth))
          << kernel.name << " kernel, clock " << (clock ? std::to_string(*clock) : "initial");
    }
  }
}

TEST_F(RenderFrame, SameFrameOnOneThreadAndOnAll) {
  init(kWidth, kHeight);
  const TestScene scene(2.0f);
  scene.upload();
  ASSERT_TRUE(set_backend_threads(1));
  const std::vector<std::uint32_t> one = render(kWidth, kHeight);
  ASSERT_TRUE(set_backend_threads(0));
  EXPECT_TRUE(same_frame(render(kWidth, kHeight), one, kWidth));
}

// Only whole 8 x 8 blocks are launched (80 x 60 of them for 640 x 480):
// the columns and rows past them keep what the device buffer held, and the
// whole buffer is still copied back.
TEST_F(RenderFrame, PartialBlocksAreLeftUntouchedButCopiedBack) {
  constexpr int kW = 644;
  constexpr int kH = 484;
  constexpr std::uint32_t kDevicePattern = 0x5a5a5a5au;
  cpurt::test_hooks::fill_new_allocations(0x5a);
  init(kW, kH);
  const TestScene scene(std::nullopt);
  scene.upload();
  const std::vector<std::uint32_t> want = scene.reference_frame(kW, kH);
  const std::vector<std::uint32_t> got = render(kW, kH, /*fill=*/0);
  std::size_t traced = 0;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * kW + x;
      if (x < kW / 8 * 8 && y < kH / 8 * 8) {
        ASSERT_EQ(got[i], want[i]) << "pixel (" << x << ", " << y << ")";
        ++traced;
      } else {
        ASSERT_EQ(got[i], kDevicePattern) << "pixel (" << x << ", " << y << ")";
      }
    }
  }
  EXPECT_EQ(traced, 80u * 8 * 60 * 8);
}

TEST_F(RenderFrame, PrintsOneProcessingTimeLinePerFrame) {
  init(64, 48);
  TestScene(std::nullopt).upload();
  std::vector<std::uint32_t> frame(64 * 48);
  ::testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(render_frame(frame.data()), 0);
  std::fflush(stdout);
  const std::string console = ::testing::internal::GetCapturedStdout();
  const std::string line = R"(Processing time: [0-9]+\.[0-9]{6} \(ms\) )" "\n";
  const ::testing::Matcher<const std::string&> three_lines =
      ::testing::MatchesRegex("(" + line + "){3}");
  EXPECT_TRUE(three_lines.Matches(console)) << "[" << console << "]";
}

TEST_F(RenderFrame, TimedFramesReturnTheirTimesInsteadOfPrinting) {
  init(kWidth, kHeight);
  const TestScene scene(std::nullopt);
  scene.upload();
  std::vector<std::uint32_t> timed(static_cast<std::size_t>(kWidth) * kHeight);
  LaunchTimes times{-1.0f, -1.0f, -1.0f};
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(render_frame_timed(timed.data(), &times), 0);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_GT(times.kernel_ms, 0.0f);
  EXPECT_GE(times.readback_ms, 0.0f);
  EXPECT_GE(times.total_ms, times.kernel_ms + times.readback_ms);
  EXPECT_TRUE(same_frame(timed, scene.reference_frame(kWidth, kHeight), kWidth));
}

// --------------------------------------------------------- buffers, stores

using Uploads = HostLayer;

TEST_F(Uploads, InitAllocatesBothBuffersAndBindsTheTextureOverTheSpheres) {
  const cpurt::AllocationStats before = cpurt::allocation_stats();
  init(kWidth, kHeight);
  const cpurt::AllocationStats after_init = cpurt::allocation_stats();
  EXPECT_EQ(after_init.count, before.count + 2);
  EXPECT_EQ(after_init.bytes, before.bytes + 1228800 + 1024);
  const cpurt::TextureMemory spheres = cpurt::texture_memory(spheres_texture);
  ASSERT_NE(spheres.base, nullptr);
  EXPECT_EQ(spheres.bytes, 1024u);

  ASSERT_EQ(gpu_release(), 0);
  const cpurt::AllocationStats after_release = cpurt::allocation_stats();
  EXPECT_EQ(after_release.count, after_init.count - 1) << "the sphere buffer is kept";
  EXPECT_EQ(after_release.bytes, after_init.bytes - 1228800);
  EXPECT_EQ(cpurt::texture_memory(spheres_texture).base, nullptr) << "texture unbound";
  ASSERT_EQ(gpu_init(kWidth, kHeight), 0);  // for TearDown's release
}

// The kernel reads the sphere buffer through the texture that gpu_init
// binds: by integer texel index, each 16-byte texel's four words as they
// are (whatever floats they hold), indices outside the 64 texels clamped.
TEST_F(Uploads, TheTextureFetchesTheSphereBufferTexelByTexel) {
  init(kWidth, kHeight);
  constexpr int kTexels = kSphereBufferBytes / sizeof(SphereTexel);
  std::uint32_t words[kTexels * 4];
  for (std::uint32_t i = 0; i < std::size(words); ++i) words[i] = 0x9e3779b9u * (i + 1);
  words[5] = 0x7fc00001u;  // a NaN with a payload
  words[6] = 0xff800000u;  // minus infinity
  Sphere records[kMaxSpheres];
  std::memcpy(static_cast<void*>(records), words, sizeof(words));
  ASSERT_EQ(upload_spheres(records, kMaxSpheres), 0);

  const auto texel = [&](int i) {
    return std::vector<std::uint32_t>(words + 4 * i, words + 4 * i + 4);
  };
  const auto fetch = [](int i) {
    const uint4 t = tex1Dfetch<uint4>(spheres_texture, i);
    return std::vector<std::uint32_t>{t.x, t.y, t.z, t.w};
  };
  for (int i = 0; i < kTexels; ++i) EXPECT_EQ(fetch(i), texel(i)) << "texel " << i;
  EXPECT_EQ(fetch(-1), texel(0));
  EXPECT_EQ(fetch(-1000000), texel(0));
  EXPECT_EQ(fetch(kTexels), texel(kTexels - 1));
  EXPECT_EQ(fetch(1 << 30), texel(kTexels - 1));
}

TEST_F(Uploads, TheModuleIsRegisteredWithItsStoreSizes) {
  struct Case {
    const char* name;
    void* symbol;
    std::size_t bytes;
  };
  const Case cases[] = {{"materials_dump", materials_dump, 1536},
                        {"point_lights_dump", point_lights_dump, 512},
                        {"spheres_texture", &spheres_texture, sizeof(cudaTextureObject_t)}};
  static unsigned char source[2048];
  for (const Case& c : cases) {
    std::vector<unsigned char> saved(static_cast<unsigned char*>(c.symbol),
                                     static_cast<unsigned char*>(c.symbol) + c.bytes);
    EXPECT_EQ(cudaMemcpyToSymbol(static_cast<const void*>(c.symbol), source, c.bytes), cudaSuccess)
        << c.name;
    EXPECT_EQ(cudaMemcpyToSymbol(static_cast<const void*>(c.symbol), source, c.bytes + 1),
              cudaErrorInvalidValue)
        << c.name;
    std::memcpy(c.symbol, saved.data(), c.bytes);
  }
  (void)cudaGetLastError();
}

// Each store takes up to its capacity of records, byte for byte from byte
// 0, and leaves the rest alone; one record more is refused with -1 and
// copies nothing.
TEST_F(Uploads, EachStoreTakesUpToItsCapacityAndRefusesMore) {
  cpurt::test_hooks::fill_new_allocations(0xee);
  init(kWidth, kHeight);
  alignas(16) static unsigned char records[33 * 64];
  struct Store {
    const char* name;
    std::size_t store_bytes;
    std::size_t record_bytes;
    int capacity;
    int (*upload)(const void*, int);
    const unsigned char* (*bytes)();
  };
  const Store stores[] = {
      {"spheres", 1024, sizeof(Sphere), 32,
       [](const void* r, int n) { return upload_spheres(static_cast<const Sphere*>(r), n); },
       [] { return static_cast<const unsigned char*>(cpurt::texture_memory(spheres_texture).base); }},
      {"materials", 1536, sizeof(Material), 32,
       [](const void* r, int n) { return upload_materials(static_cast<const Material*>(r), n); },
       [] { return static_cast<const unsigned char*>(materials_dump); }},
      {"lights", 512, sizeof(PointLight), 8,
       [](const void* r, int n) { return upload_lights(static_cast<const PointLight*>(r), n); },
       [] { return static_cast<const unsigned char*>(point_lights_dump); }},
  };
  for (const Store& s : stores) {
    const std::size_t store_bytes = s.store_bytes;
    ASSERT_EQ(store_bytes, s.record_bytes * static_cast<std::size_t>(s.capacity)) << s.name;
    unsigned char* store = const_cast<unsigned char*>(s.bytes());
    std::memset(store, 0xee, store_bytes);

    struct Step {
      int count;
      int expected;
      unsigned char pattern;
    };
    // 4, then 0, then the capacity, then one too many.
    const Step steps[] = {{4, 0, 0x11}, {0, 0, 0x22}, {s.capacity, 0, 0x33}, {s.capacity + 1, -1, 0x44}};
    std::vector<unsigned char> want(store, store + store_bytes);
    for (const Step& step : steps) {
      std::memset(records, step.pattern, sizeof(records));
      EXPECT_EQ(s.upload(records, step.count), step.expected) << s.name << " x" << step.count;
      if (step.expected == 0) {
        std::memset(want.data(), step.pattern, s.record_bytes * static_cast<std::size_t>(step.count));
      }
      ASSERT_EQ(std::memcmp(s.bytes(), want.data(), store_bytes), 0) << s.name << " x" << step.count;
    }
  }
}

// The count store holds the count of the last sphere upload the store
// took, though an upload of an unchanged count does not copy it again;
// after gpu_init the first upload writes it whatever it was.
TEST_F(Uploads, TheSphereCountIsTheLastAcceptedUploads) {
  init(kWidth, kHeight);
  static Sphere records[kMaxSpheres + 1];
  struct Step {
    int count;
    int expected_store;
  };
  const Step steps[] = {{4, 4}, {4, 4}, {0, 0}, {kMaxSpheres, kMaxSpheres}, {kMaxSpheres + 1, kMaxSpheres}, {1, 1}};
  for (const Step& step : steps) {
    upload_spheres(records, step.count);
    EXPECT_EQ(sphere_count, step.expected_store) << "after an upload of " << step.count;
  }
  ASSERT_EQ(gpu_release(), 0);
  sphere_count = 99;
  ASSERT_EQ(gpu_init(kWidth, kHeight), 0);
  ASSERT_EQ(upload_spheres(records, 1), 0);
  EXPECT_EQ(sphere_count, 1) << "the first upload after gpu_init";
}

// A scene with any part above its store's capacity is refused whole: no
// store changes, not even those whose part would fit.
TEST_F(Uploads, SceneWithAnyPartAboveItsCapacityIsRefusedWhole) {
  init(kWidth, kHeight);
  const SceneRecords scene = initial_scene();
  ASSERT_EQ(upload_scene(scene), 0);
  const auto sphere_bytes = [] { return static_cast<const unsigned char*>(cpurt::texture_memory(spheres_texture).base); };
  const std::vector<unsigned char> spheres_before(sphere_bytes(), sphere_bytes() + kSphereBufferBytes);
  const std::vector<unsigned char> materials_before(materials_dump, materials_dump + kMaterialStoreBytes);
  const std::vector<unsigned char> lights_before(point_lights_dump, point_lights_dump + kLightStoreBytes);

  static Sphere too_many_spheres[kMaxSpheres + 1];
  static PointLight too_many_lights[kMaxLights + 1];
  static Material too_many_materials[kMaxMaterials + 1];
  EXPECT_EQ(upload_scene(too_many_spheres, scene.lights, scene.materials), -1);
  EXPECT_EQ(upload_scene(scene.spheres, too_many_lights, scene.materials), -1);
  EXPECT_EQ(upload_scene(scene.spheres, scene.lights, too_many_materials), -1);

  EXPECT_EQ(std::memcmp(sphere_bytes(), spheres_before.data(), spheres_before.size()), 0);
  EXPECT_EQ(std::memcmp(materials_dump, materials_before.data(), materials_before.size()), 0);
  EXPECT_EQ(std::memcmp(point_lights_dump, lights_before.data(), lights_before.size()), 0);
}

TEST_F(Uploads, BackendControlsReachTheCpuRuntimeAndKernel) {
  BackendInfo info = backend_info();
  EXPECT_EQ(info.backend, "cpu");
  cudaDeviceProp prop;
  ASSERT_EQ(cudaGetDeviceProperties(&prop, 0), cudaSuccess);
  EXPECT_EQ(info.device_name, prop.name);
  EXPECT_EQ(info.kernel, "simd");
  EXPECT_EQ(info.lanes, lanes::LaneTypes<lanes::NativePack>::width);

  EXPECT_TRUE(set_backend_threads(1));
  EXPECT_TRUE(set_backend_kernel("scalar"));
  info = backend_info();
  EXPECT_EQ(info.threads, 1);
  EXPECT_EQ(info.kernel, "scalar");
  EXPECT_EQ(info.lanes, 1);

  EXPECT_FALSE(set_backend_threads(-1));
  EXPECT_FALSE(set_backend_kernel("vector"));
  info = backend_info();
  EXPECT_EQ(info.threads, 1);
  EXPECT_EQ(info.kernel, "scalar");
}

// ---------------------------------------------------------- failure paths

std::string regex_escaped(const std::string& text) {
  static const std::string special = R"(.[]{}()\*+?^$|)";
  std::string out;
  for (const char c : text) {
    if (special.find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

std::string cuda_error(int line, cudaError_t code) {
  return "Cuda error in file 'rtlib.cu' in line " + std::to_string(line) + " : " +
         cudaGetErrorString(code) + ".\n";
}

std::string kernel_error(cudaError_t code) {
  return std::string("Cuda error: Kernel execution failed in file 'rtlib.cu' in line 111 : ") +
         cudaGetErrorString(code) + ".\n";
}

std::string timer_error(int line) {
  return "Cut error in file 'rtlib.cu' in line " + std::to_string(line) + ".\n";
}

enum class Call { gpu_init, upload_spheres, upload_materials, upload_lights, gpu_release, render_frame };

struct FailureCase {
  const char* name;
  Call call;
  std::optional<Op> op;  // the runtime operation made to fail
  int skip;              // calls of it that succeed first
  cudaError_t code;
  std::optional<TimerOp> timer_op;
  int device_count;  // what the runtime reports
  int device_major;
  std::string message;  // the whole of standard error
  bool prints_time;     // the frame's line comes before the failure
  int width = 64;
  int height = 48;
};

// Test names and failure reports show the case's name, not its bytes.
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

FailureCase runtime_fails(const char* name, Call call, Op op, int skip, cudaError_t code,
                          std::string message) {
  return {name, call, op, skip, code, std::nullopt, 1, 1, std::move(message), false};
}

FailureCase timer_fails(const char* name, TimerOp op, int line, bool prints_time = false) {
  return {name, Call::render_frame, std::nullopt, 0, cudaSuccess, op, 1, 1,
          timer_error(line), prints_time};
}

std::vector<FailureCase> failure_cases() {
  const cudaError_t oom = cudaErrorMemoryAllocation;
  const cudaError_t bad = cudaErrorInvalidValue;
  const cudaError_t lost = cudaErrorLaunchFailure;
  std::vector<FailureCase> cases = {
      runtime_fails("frame_alloc", Call::gpu_init, Op::malloc, 0, oom, cuda_error(37, oom)),
      runtime_fails("frame_alloc_sync", Call::gpu_init, Op::synchronize, 0, lost, cuda_error(37, lost)),
      runtime_fails("sphere_alloc", Call::gpu_init, Op::malloc, 1, oom, cuda_error(39, oom)),
      runtime_fails("sphere_alloc_sync", Call::gpu_init, Op::synchronize, 1, lost, cuda_error(39, lost)),
      runtime_fails("texture_create", Call::gpu_init, Op::create_texture_object, 0, bad, cuda_error(40, bad)),
      runtime_fails("texture_create_sync", Call::gpu_init, Op::synchronize, 2, lost, cuda_error(40, lost)),
      runtime_fails("texture_symbol", Call::gpu_init, Op::memcpy_to_symbol, 0, bad, cuda_error(40, bad)),
      runtime_fails("texture_symbol_sync", Call::gpu_init, Op::synchronize, 3, lost, cuda_error(40, lost)),
      runtime_fails("spheres_copy", Call::upload_spheres, Op::memcpy, 0, bad, cuda_error(52, bad)),
      runtime_fails("spheres_copy_sync", Call::upload_spheres, Op::synchronize, 0, lost, cuda_error(52, lost)),
      runtime_fails("materials_copy", Call::upload_materials, Op::memcpy_to_symbol, 0, bad, cuda_error(62, bad)),
      runtime_fails("materials_copy_sync", Call::upload_materials, Op::synchronize, 0, lost, cuda_error(62, lost)),
      runtime_fails("lights_copy", Call::upload_lights, Op::memcpy_to_symbol, 0, bad, cuda_error(72, bad)),
      runtime_fails("lights_copy_sync", Call::upload_lights, Op::synchronize, 0, lost, cuda_error(72, lost)),
      runtime_fails("texture_destroy", Call::gpu_release, Op::destroy_texture_object, 0, bad, cuda_error(80, bad)),
      runtime_fails("texture_destroy_sync", Call::gpu_release, Op::synchronize, 0, lost, cuda_error(80, lost)),
      runtime_fails("frame_free", Call::gpu_release, Op::free, 0, bad, cuda_error(81, bad)),
      runtime_fails("frame_free_sync", Call::gpu_release, Op::synchronize, 1, lost, cuda_error(81, lost)),
      runtime_fails("device_count", Call::render_frame, Op::get_device_count, 0, cudaErrorNoDevice,
                    cuda_error(88, cudaErrorNoDevice)),
      runtime_fails("device_properties", Call::render_frame, Op::get_device_properties, 0,
                    cudaErrorInvalidDevice, cuda_error(88, cudaErrorInvalidDevice)),
      runtime_fails("set_device", Call::render_frame, Op::set_device, 0, cudaErrorInvalidDevice,
                    cuda_error(88, cudaErrorInvalidDevice)),
      runtime_fails("set_device_sync", Call::render_frame, Op::synchronize, 0, lost, cuda_error(88, lost)),
      timer_fails("timer_create", TimerOp::create, 100),
      timer_fails("timer_start", TimerOp::start, 101),
      runtime_fails("launch", Call::render_frame, Op::launch, 0, lost, kernel_error(lost)),
      runtime_fails("kernel_sync", Call::render_frame, Op::synchronize, 1, lost, kernel_error(lost)),
      runtime_fails("frame_copy", Call::render_frame, Op::memcpy, 0, bad, cuda_error(114, bad)),
      runtime_fails("frame_copy_sync", Call::render_frame, Op::synchronize, 2, lost, cuda_error(114, lost)),
      timer_fails("timer_stop", TimerOp::stop, 117),
      timer_fails("timer_delete", TimerOp::destroy, 119, /*prints_time=*/true),
  };
  FailureCase no_device{"no_device", Call::render_frame, std::nullopt, 0, cudaSuccess,
                        std::nullopt, 0, 1, "There is no device.\n", false};
  FailureCase no_capable{"no_capable_device", Call::render_frame, std::nullopt, 0, cudaSuccess,
                         std::nullopt, 1, 0, "There is no device supporting CUDA.\n", false};
  // Not injected: a frame narrower than one block launches an empty grid,
  // which the runtime refuses.
  FailureCase empty_grid{"empty_grid", Call::render_frame, std::nullopt, 0, cudaSuccess,
                         std::nullopt, 1, 1, kernel_error(cudaErrorInvalidConfiguration), false};
  empty_grid.width = 4;
  empty_grid.height = 4;
  cases.push_back(no_device);
  cases.push_back(no_capable);
  cases.push_back(empty_grid);
  return cases;
}

// Runs in the death test's child: standard output is sent to standard
// error, so that the expected text is the whole of what the child printed
// on either stream.
void run_failing(const FailureCase& c) {
  std::fflush(stdout);  // what the test program printed before this test stays on stdout
  dup2(STDERR_FILENO, STDOUT_FILENO);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // keep the two streams' lines in order
  static const TestScene scene(std::nullopt);
  if (c.call != Call::gpu_init) {
    // The kernel reads the spheres' material bytes as table indices, so the
    // scene is in place before any frame, as the program puts it there.
    gpu_init(c.width, c.height);
    scene.upload();
  }
  cpurt::test_hooks::set_device_count(c.device_count);
  cpurt::test_hooks::set_device_major(c.device_major);
  if (c.op) cpurt::test_hooks::fail_next(*c.op, c.code, c.skip);
  if (c.timer_op) cutil_test_hooks::fail_next(*c.timer_op);
  std::vector<unsigned int> frame(static_cast<std::size_t>(c.width) * c.height);
  switch (c.call) {
    case Call::gpu_init: gpu_init(c.width, c.height); break;
    case Call::upload_spheres: upload_spheres(scene.records.spheres, 4); break;
    case Call::upload_materials: upload_materials(scene.records.materials, 5); break;
    case Call::upload_lights: upload_lights(scene.records.lights, 2); break;
    case Call::gpu_release: gpu_release(); break;
    case Call::render_frame: render_frame(frame.data()); break;
  }
  std::fflush(stdout);
  std::exit(0);  // the failure did not end the process
}

class HostLayerErrors : public ::testing::TestWithParam<FailureCase> {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_P(HostLayerErrors, PrintOneLineAndExitWithCode1) {
  const FailureCase& c = GetParam();
  std::string expected = regex_escaped(c.message);
  if (c.prints_time) expected = R"(Processing time: [0-9]+\.[0-9]{6} \(ms\) )" "\n" + expected;
  EXPECT_EXIT(run_failing(c), ::testing::ExitedWithCode(1), ::testing::MatchesRegex(expected));
}

INSTANTIATE_TEST_SUITE_P(LineTable, HostLayerErrors, ::testing::ValuesIn(failure_cases()),
                         [](const ::testing::TestParamInfo<FailureCase>& param) {
                           return std::string(param.param.name);
                         });

}  // namespace
