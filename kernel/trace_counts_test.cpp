// The counting lanes over the trace: what one pixel's trace costs, as
// properties that hold whatever its operations are in detail, and the words
// the counted trace computes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kernel/host_scene.h"
#include "kernel/trace.h"
#include "lanes/counting_lanes.h"
#include "scene/initial_scene_data.h"

namespace {

using lanes::Counted;
using lanes::OpCounts;

template <class Work>
OpCounts count(Work work) {
  return lanes::ops_counted_by(work);
}

// Four spheres far off to the side (disc < 0 for the centre pixel's ray)
// and one white material with a specular term.
HostScene empty_view() {
  Sphere spheres[4]{};
  for (int i = 0; i < 4; ++i) {
    spheres[i].center = Vec4(1000.0f + 10.0f * static_cast<float>(i), 1000.0f, 0.0f);
    spheres[i].radius_sq = 1.0f;
  }
  Material material{};
  material.color = Vec4(1, 1, 1);
  material.diffuse = 0.5f;
  material.specular = 1.0f;
  material.shininess = 80.0f;
  HostScene scene;
  scene.set_spheres(spheres, 4);
  scene.set_materials(&material, 1);
  scene.light_position = Vec4(0, 0, 0);
  return scene;
}

// A hit facing the light, seen by an eye off the mirror direction by `tilt`.
Vec4T<Counted> shade(const SceneView& view, float tilt) {
  HitRecordT<Counted> hit;
  hit.point = Vec4T<Counted>(tilt, 0.0f, -5.0f);
  hit.normal = Vec4T<Counted>(0.0f, 0.0f, 1.0f);
  return shade_point_light<Counted>(hit, Vec4T<Counted>(0.0f, 0.0f, 0.0f),
                                    load_material<Counted>(view.materials, hit.material));
}

// The vector math's own counts: |v| = sqrt(x*x + (y*y + z*z)) is 3
// products, 2 sums and a root, then 3 quotients.
TEST(CountingLanes, NormalisingIsOneRootAndThreeQuotients) {
  Vec4T<Counted> v(1.0f, 2.0f, 3.0f);
  EXPECT_EQ(count([&] { vec_normalize(v); }), (OpCounts{3, 1, 0, 5}));
}

// The counts of the trace, as properties that hold whatever its operations
// are in detail.

// Every sphere straight behind the eye: each camera ray finds its centre
// behind the origin, so every pixel takes the same path through the trace.
HostScene scene_behind_the_eye() {
  HostScene scene = empty_view();
  Sphere spheres[4]{};
  for (int i = 0; i < 4; ++i) {
    spheres[i].center = Vec4(0.0f, 0.0f, 100.0f + 10.0f * static_cast<float>(i));
    spheres[i].radius_sq = 1.0f;
  }
  scene.set_spheres(spheres, 4);
  return scene;
}

// Pixels that see the same thing cost the same: a frame's counts are its
// pixel count times one pixel's, so the counts scale with the pixels.
TEST(CountingLanes, CountsScaleWithPixelsThatSeeTheSame) {
  const HostScene scene = scene_behind_the_eye();
  const SceneView view = scene.view();
  constexpr int kWidth = 16, kHeight = 8;
  const OpCounts one = count([&] { (void)trace_pixel<Counted>(view, 5, 3, kWidth, kHeight); });
  const OpCounts frame = count([&] {
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) (void)trace_pixel<Counted>(view, x, y, kWidth, kHeight);
    }
  });
  constexpr std::uint64_t n = kWidth * kHeight;
  EXPECT_EQ(frame, (OpCounts{n * one.divisions, n * one.square_roots, n * one.powers, n * one.other,
                             n * one.compares, n * one.selects, n * one.mask_ops, n * one.conversions}));
  // The camera ray itself is made and normalised, and its colour packed.
  EXPECT_GE(one.divisions, 3u);
  EXPECT_GE(one.square_roots, 1u);
  EXPECT_GT(one.conversions, 0u);
}

// A ray that hits nothing is not shaded: no power, and less of the
// arithmetic than a ray that hits a lit sphere, which is shaded, bounces
// and sends a shadow ray.
TEST(CountingLanes, AMissCostsLessThanAHitAndIsNotShaded) {
  HostScene scene = scene_behind_the_eye();
  Sphere spheres[4]{};
  for (int i = 0; i < 4; ++i) {
    spheres[i].center = Vec4(0.0f, 0.0f, i == 0 ? -10.0f : 100.0f + 10.0f * static_cast<float>(i));
    spheres[i].radius_sq = 1.0f;
  }
  scene.set_spheres(spheres, 4);
  scene.light_position = Vec4(0.0f, 0.0f, 0.0f);
  const SceneView view = scene.view();
  const OpCounts hit = count([&] { (void)trace_pixel<Counted>(view, 320, 240, 640, 480); });
  const OpCounts miss = count([&] { (void)trace_pixel<Counted>(view, 0, 0, 640, 480); });
  EXPECT_EQ(miss.powers, 0u);
  // The sphere faces the light at the eye, so its highlight is computed: by
  // squaring for the whole exponent, whose widening and narrowing count.
  EXPECT_GT(hit.conversions, miss.conversions);
  EXPECT_GT(hit.divisions, miss.divisions);
  EXPECT_GT(hit.square_roots, miss.square_roots);
  EXPECT_GT(hit.other, miss.other);
  EXPECT_GT(hit.compares, miss.compares);
  EXPECT_GT(hit.selects, miss.selects);
  EXPECT_GT(hit.mask_ops, miss.mask_ops);
}

// The power is evaluated where the highlight can change the colour and
// skipped where the exact test shows it cannot.  With the eye at the light,
// a hit straight ahead has base -1 (the brightest highlight); 3 units to the
// side the base is (9 - 25) / 34, small enough for an exponent of 80.
TEST(CountingLanes, PowersOnlyWhereTheHighlightCounts) {
  const HostScene scene = empty_view();
  // The exponent, 80, is whole: the power is taken by squaring, in double
  // precision (a conversion there and back), never by the general power.
  const lanes::OpCounts counted = count([&] { shade(scene.view(), 0.0f); });
  const lanes::OpCounts skipped = count([&] { shade(scene.view(), 3.0f); });
  EXPECT_EQ(counted.powers, 0u);
  EXPECT_EQ(counted.conversions, skipped.conversions + 2);
  EXPECT_EQ(skipped.powers, 0u);
}

}  // namespace
