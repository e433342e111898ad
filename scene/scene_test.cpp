#include "scene/scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gpu/rtlib.h"
#include "kernel/ray_trace.h"

namespace {

// The 44 bytes of a material the start-up writes; the reserved word after
// them is left as the default construction left it.
struct MaterialRow {
  float color[4];
  float ambient, diffuse, specular, shininess, reflection, transparency, refraction_index;
};
static_assert(sizeof(MaterialRow) == 44);

TEST(InitScene, FillsTheStoresAndTheSpheres) {
  init_scene();

  const MaterialRow expected_materials[5] = {
      {{1.0f, 1.0f, 1.0f, 1.0f}, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
      {{0.0f, 1.0f, 0.0f, 1.0f}, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
      {{1.0f, 0.0f, 0.0f, 1.0f}, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
      {{1.0f, 1.0f, 1.0f, 0.2f}, 0.05f, 0.4f, 0.55f, 80.0f, 0.75f, 0.0f, -1.0f},
      {{1.0f, 1.0f, 1.0f, 1.0f}, 0.05f, 0.4f, 0.55f, 80.0f, 0.0f, 0.75f, 1.05f},
  };
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(std::memcmp(materials_dump + 48 * i, &expected_materials[i], 44), 0)
        << "material " << i;
  }
  // Nothing beyond the five records was written.
  const std::vector<unsigned char> zeros(kMaterialStoreBytes - 240, 0);
  EXPECT_EQ(std::memcmp(materials_dump + 240, zeros.data(), zeros.size()), 0);

  // Both lights, whole: the constructor's defaults, light 0 placed, light 1
  // at its default position.
  float expected_lights[32] = {};
  for (int light = 0; light < 2; ++light) {
    float* p = expected_lights + 16 * light;
    p[3] = 1.0f;
    p[4] = 1.0f;
    p[8] = 1.0f;
    p[9] = 0.05f;
    p[10] = 0.001f;
    p[15] = 1.0f;
  }
  expected_lights[12] = -1.5f;
  expected_lights[13] = 2.0f;
  expected_lights[14] = -4.0f;
  EXPECT_EQ(std::memcmp(point_lights_dump, expected_lights, sizeof(expected_lights)), 0);

  struct SphereRow {
    float x, y, z, radius, radius_sq;
    unsigned char material;
  };
  const SphereRow expected_spheres[4] = {
      {-1.0f, 0.5f, -5.0f, 1.0f, 1.0f, 2},
      {1.0f, 0.5f, -6.0f, 1.0f, 1.0f, 1},
      {0.0f, -100.4f, 0.0f, 100.0f, 10000.0f, 0},
      {0.0f, 0.25f, -3.0f, 0.5f, 0.25f, 4},
  };
  const unsigned char no_reserved[7] = {};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(testing::Message() << "sphere " << i);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&spheres[i]);
    const SphereRow& e = expected_spheres[i];
    EXPECT_EQ(spheres[i].center.x, e.x);
    EXPECT_EQ(spheres[i].center.y, e.y);
    EXPECT_EQ(spheres[i].center.z, e.z);
    EXPECT_EQ(spheres[i].center.w, 1.0f);
    EXPECT_EQ(spheres[i].radius, e.radius);
    EXPECT_EQ(spheres[i].radius_sq, e.radius_sq);
    EXPECT_EQ(bytes[24], e.material);
    EXPECT_EQ(std::memcmp(bytes + 25, no_reserved, 7), 0);
  }

  // The frame buffer holds the whole 640 x 480 frame (a sanitizer build
  // reports a shorter block here).
  ASSERT_NE(pixel_buffer, nullptr);
  std::memset(pixel_buffer, 0, 640u * 480u * 4u);

  gpu_release();
  std::free(pixel_buffer);
  pixel_buffer = nullptr;
}

TEST(InitScene, FrameBufferThatCannotBeAllocatedEndsWithCode1) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(allocate_pixel_buffer(1228800, [](std::size_t) -> void* { return nullptr; }),
              testing::ExitedWithCode(1), "^Cannot allocate the 1228800-byte frame buffer\\.\n$");
}

}  // namespace
