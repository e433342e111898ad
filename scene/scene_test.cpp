#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>


namespace {

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
