#include "scene/animation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

// The first frame's step from the state before it: clock 1.0, 60 fps.
TEST(AnimateScene, FirstStepMovesSpheresOneAndThree) {
  write_initial_spheres(spheres);
  Sphere before[4];
  std::memcpy(static_cast<void*>(before), spheres, sizeof(before));
  anim_time = 1.0f;
  fps = 60.0f;

  animate_scene();

  EXPECT_EQ(anim_time, 1.0f + 0.5f / 60.0f);
  EXPECT_NEAR(anim_time, 1.0083333, 1e-7);
  EXPECT_NEAR(spheres[1].center.x, 1.691888, 1e-6);
  EXPECT_NEAR(spheres[1].center.z, -4.466729, 1e-6);
  EXPECT_NEAR(spheres[3].center.x, 0.266636, 1e-6);
  EXPECT_NEAR(spheres[3].center.y, 0.766636, 1e-6);

  // Everything else keeps its bytes: spheres 0 and 2 whole, and the fields
  // of spheres 1 and 3 that the motion does not write.
  Sphere expected[4];
  std::memcpy(static_cast<void*>(expected), before, sizeof(expected));
  expected[1].center.x = spheres[1].center.x;
  expected[1].center.z = spheres[1].center.z;
  expected[3].center.x = spheres[3].center.x;
  expected[3].center.y = spheres[3].center.y;
  EXPECT_EQ(std::memcmp(static_cast<const void*>(spheres), expected, sizeof(expected)), 0);
}

}  // namespace
