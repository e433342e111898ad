#include "scene/animation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

// The first frame's step from the state before it: clock 1.0, 60 fps.
TEST(AnimateScene, FirstStepMovesSpheresOneAndThree) {
  const SceneRecords initial = initial_scene();
  std::memcpy(static_cast<void*>(spheres), initial.spheres, sizeof(spheres));
  Sphere before[4];
  std::memcpy(static_cast<void*>(before), spheres, sizeof(before));
  animation = Animation{};
  fps = kStartFrameRate;

  animate_scene();

  EXPECT_NEAR(animation.clock, 1.0083333, 1e-7);
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

// The clock after N steps, against sums worked out by hand: where the step
// is a power of two the float sum is exact; at 60 frames a second it rounds
// a little every step.
TEST(Animation, ClockAfterStepsIsTheSumOfTheSteps) {
  struct Case {
    float rate;
    int steps;
    float want;
    float tolerance;
  };
  const Case cases[] = {
      {2.0f, 4, 2.0f, 0.0f},            // 1 + 4 * 0.25
      {8.0f, 16, 2.0f, 0.0f},           // 1 + 16 * 0.0625
      {0.5f, 3, 4.0f, 0.0f},            // 1 + 3 * 1
      {60.0f, 1, 1.0083333f, 1e-7f},    // 1 + 1/120
      {60.0f, 600, 6.0f, 1e-4f},        // 1 + 600/120, ten seconds of frames
      {20.0f, 40, 2.0f, 1e-6f},         // 1 + 40 * 0.025
  };
  for (const Case& c : cases) {
    Animation a;
    for (int i = 0; i < c.steps; ++i) a.step(c.rate);
    EXPECT_NEAR(a.clock, c.want, c.tolerance) << c.steps << " steps at " << c.rate << " frames a second";
  }
  // Another speed scales every step.
  Animation fast{1.0f, 2.0f};
  EXPECT_EQ(fast.step(4.0f), 1.5f);
}

// Sphere 1 at (2 sin t, 0.5, cos t - 5), sphere 3 at (0.5 cos t, 0.5 +
// 0.5 cos t, -3): the two ends of the motion.
TEST(PlaceAnimatedSpheres, PositionsAtZeroAndPi) {
  struct Case {
    float t;
    Vec4 sphere_1;
    Vec4 sphere_3;
  };
  const Case cases[] = {
      {0.0f, Vec4(0.0f, 0.5f, -4.0f), Vec4(0.5f, 1.0f, -3.0f)},
      {3.14159265f, Vec4(0.0f, 0.5f, -6.0f), Vec4(-0.5f, 0.0f, -3.0f)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "t = " << c.t);
    const SceneRecords scene = scene_at_clock(c.t);
    const Vec4 got[] = {scene.spheres[1].center, scene.spheres[3].center};
    const Vec4 want[] = {c.sphere_1, c.sphere_3};
    for (int i = 0; i < 2; ++i) {
      EXPECT_NEAR(got[i].x, want[i].x, 1e-6f);
      EXPECT_NEAR(got[i].y, want[i].y, 1e-6f);
      EXPECT_NEAR(got[i].z, want[i].z, 1e-6f);
      EXPECT_EQ(got[i].w, 1.0f);
    }
    // The other spheres do not move.
    const SceneRecords initial = initial_scene();
    EXPECT_EQ(std::memcmp(&scene.spheres[0], &initial.spheres[0], sizeof(Sphere)), 0);
    EXPECT_EQ(std::memcmp(&scene.spheres[2], &initial.spheres[2], sizeof(Sphere)), 0);
  }
}

}  // namespace
