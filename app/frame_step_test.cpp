#include "app/frame_step.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "rtlib/rtlib.h"
#include "kernel/ray_trace.h"
#include "scene/animation.h"
#include "scene/scene.h"

namespace {

// After init_scene the storage and the kernel's stores hold the initial
// scene byte for byte: spheres and lights in the storage, spheres,
// materials and both lights in the stores, and nothing past them.
TEST(InitScene, FillsTheStorageAndTheStoresWithTheInitialScene) {
  init_scene();
  const SceneRecords want = initial_scene();

  EXPECT_EQ(std::memcmp(spheres, want.spheres, sizeof(spheres)), 0);
  EXPECT_EQ(std::memcmp(lights, want.lights, sizeof(lights)), 0);
  EXPECT_EQ(std::memcmp(materials_dump, want.materials, sizeof(want.materials)), 0);
  EXPECT_EQ(std::memcmp(point_lights_dump, want.lights, sizeof(want.lights)), 0);
  const cpurt::TextureMemory sphere_store = cpurt::texture_memory(spheres_texture);
  ASSERT_NE(sphere_store.base, nullptr);
  EXPECT_EQ(std::memcmp(sphere_store.base, want.spheres, sizeof(want.spheres)), 0);
  const std::vector<unsigned char> zeros(kMaterialStoreBytes - sizeof(want.materials), 0);
  EXPECT_EQ(std::memcmp(materials_dump + sizeof(want.materials), zeros.data(), zeros.size()), 0);

  // The frame buffer holds the whole 640 x 480 frame (a sanitizer build
  // reports a shorter block here).
  ASSERT_NE(pixel_buffer, nullptr);
  std::memset(pixel_buffer, 0, std::size_t{kFrameWidth} * kFrameHeight * 4u);

  gpu_release();
  std::free(pixel_buffer);
  pixel_buffer = nullptr;
}

// A window whose clock reads 50 ms per frame shown (a steady 20 frames per
// second from the clock's start) and which keeps the last title.
int frames_shown = 0;
std::string last_title;

std::int32_t fake_elapsed_ms() { return frames_shown * 50; }
void count_shown(const unsigned int*) { ++frames_shown; }
void keep_title(const char* title) { last_title = title; }

constexpr FrameWindow kFakeWindow = {fake_elapsed_ms, count_shown, keep_title};

// The program's state after start-up, before its first frame; the kernel's
// stores and the frame buffer are given back afterwards.
class FrameStep : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memcpy(saved_materials_, materials_dump, sizeof(saved_materials_));
    std::memcpy(saved_lights_, point_lights_dump, sizeof(saved_lights_));
    animation = Animation{};
    fps = kStartFrameRate;
    frames_shown = 0;
    last_title.clear();
    init_scene();
  }
  void TearDown() override {
    gpu_release();
    std::free(pixel_buffer);
    pixel_buffer = nullptr;
    fps = kStartFrameRate;
    std::memcpy(materials_dump, saved_materials_, sizeof(saved_materials_));
    std::memcpy(point_lights_dump, saved_lights_, sizeof(saved_lights_));
  }
  void run_frames(int n) {
    ::testing::internal::CaptureStdout();  // the frames' console lines
    for (int i = 0; i < n; ++i) run_frame(rate_window_, kFakeWindow);
    ::testing::internal::GetCapturedStdout();
  }

 private:
  FrameRateWindow rate_window_;
  unsigned char saved_materials_[kMaterialStoreBytes];
  unsigned char saved_lights_[kLightStoreBytes];
};

// The first step uses the start rate of 60; every later one the rate the
// previous frame measured, here 20.  A loop that ignored the measure would
// leave the clock at 1 + 10 * 0.5 / 60 = 1.0833.
TEST_F(FrameStep, TheMeasuredRateDrivesTheNextAnimationStep) {
  run_frames(10);

  // 1 + 0.5 / 60 + 9 * 0.5 / 20 = 1 + 0.0083333 + 0.225.
  EXPECT_NEAR(animation.clock, 1.2333333f, 1e-6f);
  EXPECT_EQ(fps, 20.0f);
  EXPECT_EQ(last_title, "FPS=20");
  EXPECT_EQ(frames_shown, 10);

  const SceneRecords placed = scene_at_clock(animation.clock);
  EXPECT_EQ(std::memcmp(spheres, placed.spheres, sizeof(spheres)), 0);
}

// Every frame uploads the spheres as the animation left them and the lights
// as they are now; the materials only start-up uploads.
TEST_F(FrameStep, UploadsSpheresAndLightsEveryFrameButNotTheMaterials) {
  std::memset(materials_dump, 0x5a, sizeof(materials_dump));
  unsigned char untouched_materials[kMaterialStoreBytes];
  std::memcpy(untouched_materials, materials_dump, sizeof(untouched_materials));

  for (int frame = 0; frame < 2; ++frame) {
    lights[0].position = Vec4(0.25f * static_cast<float>(frame), 3.0f, -2.0f);
    lights[1].params[0] = static_cast<float>(frame + 7);
    run_frames(1);

    SCOPED_TRACE(testing::Message() << "frame " << frame);
    EXPECT_EQ(std::memcmp(point_lights_dump, lights, sizeof(lights)), 0);
    const cpurt::TextureMemory sphere_store = cpurt::texture_memory(spheres_texture);
    ASSERT_NE(sphere_store.base, nullptr);
    EXPECT_EQ(std::memcmp(sphere_store.base, spheres, sizeof(spheres)), 0);
    EXPECT_EQ(std::memcmp(materials_dump, untouched_materials, sizeof(untouched_materials)), 0);
  }
  // Restore a valid light for whatever runs next in this process.
  const SceneRecords initial = initial_scene();
  std::memcpy(lights, initial.lights, sizeof(lights));
}

}  // namespace
