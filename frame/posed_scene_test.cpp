#include "frame/posed_scene.h"

#include <gtest/gtest.h>

#include <cstring>

#include "frame/clocks.h"

namespace {

bool same_spheres(const SceneContent& a, const SceneContent& b) {
  return a.spheres.size() == b.spheres.size() &&
         std::memcmp(a.spheres.data(), b.spheres.data(), a.spheres.size() * sizeof(Sphere)) == 0;
}

TEST(PosedScene, EachPoseAndItsName) {
  const AnimatedScene& scene = built_in_scene();
  EXPECT_TRUE(same_spheres(posed_scene(scene, FramePose::initial).records, initial_scene()));
  EXPECT_EQ(posed_scene(scene, FramePose::initial).name, "initial scene");

  EXPECT_TRUE(same_spheres(posed_scene(scene, FramePose::clock, 2.5f).records, scene_at_clock(2.5f)));
  EXPECT_EQ(posed_scene(scene, FramePose::clock, 2.5f).name, "clock 2.500000");

  const PosedScene first = posed_scene(scene, FramePose::first_viewer_frame);
  EXPECT_TRUE(same_spheres(first.records, scene_at_clock(first_viewer_clock())));
  EXPECT_FALSE(same_spheres(first.records, initial_scene()));
}

}  // namespace
