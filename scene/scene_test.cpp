#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gpu/rtlib.h"
#include "kernel/ray_trace.h"

namespace {

// After init_scene the storage and the kernel's stores hold the initial
// scene byte for byte: spheres and lights in the storage, materials and
// both lights in the constant stores, and nothing past them.
TEST(InitScene, FillsTheStorageAndTheStoresWithTheInitialScene) {
  init_scene();
  const SceneRecords want = initial_scene();

  EXPECT_EQ(std::memcmp(spheres, want.spheres, sizeof(spheres)), 0);
  EXPECT_EQ(std::memcmp(lights, want.lights, sizeof(lights)), 0);
  EXPECT_EQ(std::memcmp(materials_dump, want.materials, sizeof(want.materials)), 0);
  EXPECT_EQ(std::memcmp(point_lights_dump, want.lights, sizeof(want.lights)), 0);
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

// What the rest of the system relies on: the light positions at their byte
// offsets, the material bytes at offset 24, radius_sq the square of radius,
// and material 3 used by no sphere.
TEST(InitialScene, KeepsWhatTheRendererReliesOn) {
  const SceneRecords scene = initial_scene();
  const auto* light_bytes = reinterpret_cast<const unsigned char*>(scene.lights);
  const float light_0[4] = {-1.5f, 2.0f, -4.0f, 1.0f};
  const float light_1[4] = {0.0f, 0.0f, 0.0f, 1.0f};
  EXPECT_EQ(std::memcmp(light_bytes + 48, light_0, 16), 0);
  EXPECT_EQ(std::memcmp(light_bytes + 112, light_1, 16), 0);

  const unsigned char materials[] = {2, 1, 0, 4};
  for (int i = 0; i < 4; ++i) {
    const Sphere& s = scene.spheres[i];
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&s)[24], materials[i]) << "sphere " << i;
    EXPECT_EQ(s.radius_sq, s.radius * s.radius) << "sphere " << i;
  }
}

TEST(InitScene, FrameBufferThatCannotBeAllocatedEndsWithCode1) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(allocate_pixel_buffer(1228800, [](std::size_t) -> void* { return nullptr; }),
              testing::ExitedWithCode(1), "^Cannot allocate the 1228800-byte frame buffer\\.\n$");
}

}  // namespace
