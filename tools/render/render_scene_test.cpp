#include "tools/render/render_scene.h"

#include <gtest/gtest.h>

#include <cstring>

namespace render_tool {
namespace {

TEST(RenderScene, InitialRecordsAreTheStartUpScene) {
  const SceneRecords s = initial_scene();
  for (const Sphere& sphere : s.spheres) {
    EXPECT_EQ(sphere.center.w, 1.0f);
    for (std::uint8_t b : sphere.reserved) EXPECT_EQ(b, 0);
  }
  EXPECT_EQ(s.spheres[1].center.x, 1.0f);  // the animation has not moved it
  EXPECT_EQ(s.spheres[3].center.y, 0.25f);
  for (const Material& m : s.materials) EXPECT_EQ(m.reserved, 0u);

  // Light 0 placed, light 1 left at its defaults; the parameter blocks are
  // those of a default-constructed light over zeroed storage.
  EXPECT_EQ(s.lights[0].position.x, -1.5f);
  EXPECT_EQ(s.lights[0].position.y, 2.0f);
  EXPECT_EQ(s.lights[0].position.z, -4.0f);
  EXPECT_EQ(s.lights[1].position.x, 0.0f);
  EXPECT_EQ(s.lights[1].position.w, 1.0f);
  const float params[12] = {0, 0, 0, 1, 1, 0, 0, 0, 1, 0.05f, 0.001f, 0};
  for (const PointLight& light : s.lights) EXPECT_EQ(std::memcmp(light.params, params, sizeof params), 0);
}

TEST(RenderScene, FirstViewerFramePosesTheMovingSpheres) {
  EXPECT_EQ(first_viewer_clock(), 1.0f + 0.5f / 60.0f);
  const SceneRecords s = scene_at_clock(first_viewer_clock());
  EXPECT_NEAR(s.spheres[1].center.x, 1.691888f, 1e-6f);
  EXPECT_EQ(s.spheres[1].center.y, 0.5f);
  EXPECT_NEAR(s.spheres[1].center.z, -4.466729f, 1e-6f);
  EXPECT_NEAR(s.spheres[3].center.x, 0.266636f, 1e-6f);
  EXPECT_NEAR(s.spheres[3].center.y, 0.766636f, 1e-6f);
  EXPECT_EQ(s.spheres[3].center.z, -3.0f);
  // The other spheres stay where start-up put them.
  const SceneRecords initial = initial_scene();
  EXPECT_EQ(std::memcmp(&s.spheres[0], &initial.spheres[0], sizeof(Sphere)), 0);
  EXPECT_EQ(std::memcmp(&s.spheres[2], &initial.spheres[2], sizeof(Sphere)), 0);
}

TEST(RenderScene, AnimationClocksStepByHalfOverRate) {
  for (const float rate : {60.0f, 24.0f, 144.0f}) {
    const std::vector<float> clocks = animation_clocks(5, rate);
    ASSERT_EQ(clocks.size(), 5u);
    // The first frame is already one step on, as in the viewer.
    EXPECT_EQ(clocks[0], 0.5f / rate + 1.0f) << rate;
    for (std::size_t i = 1; i < clocks.size(); ++i) {
      EXPECT_EQ(clocks[i], 0.5f / rate + clocks[i - 1]) << rate << " frame " << i;
      EXPECT_NEAR(clocks[i] - clocks[i - 1], 0.5f / rate, 1e-6f);
    }
  }
  EXPECT_EQ(animation_clocks(1, 60.0f).front(), first_viewer_clock());
  EXPECT_TRUE(animation_clocks(0, 60.0f).empty());
}

}  // namespace
}  // namespace render_tool
