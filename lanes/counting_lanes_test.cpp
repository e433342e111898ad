#include "lanes/counting_lanes.h"

#include <gtest/gtest.h>

#include <functional>

#include "kernel/host_scene.h"
#include "kernel/trace.h"

namespace lanes {
// How a failed comparison prints the tallies.
void PrintTo(const OpCounts& c, std::ostream* os) {
  *os << "{divisions " << c.divisions << ", square roots " << c.square_roots << ", powers "
      << c.powers << ", other " << c.other << "}";
}
}  // namespace lanes

namespace {

using lanes::Counted;
using lanes::OpCounts;

// The tallies of one piece of work, counted by hand below.
template <class Work>
OpCounts count(Work work) {
  const OpCounts before = lanes::counted_ops;
  work();
  return lanes::counted_ops - before;
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

TEST(CountingLanes, HandCountedWork) {
  const HostScene scene = empty_view();
  const SceneView view = scene.view();
  struct Case {
    const char* what;
    std::function<void()> work;
    OpCounts expected;
  };
  const Case cases[] = {
      // |v| = sqrt(x*x + (y*y + z*z)): 3 products, 2 sums, a root; then 3 quotients.
      {"normalise a vector",
       [] {
         Vec4T<Counted> v(1.0f, 2.0f, 3.0f);
         vec_normalize(v);
       },
       {3, 1, 0, 5}},
      // The camera ray's normalisation (5 other), then per sphere b (5),
      // the failing b > 0 test (1), b*b - c (2) and the disc < 0 test that
      // settles the miss (1): 9 each, oc and c being the sphere's terms for
      // the eye, made once with the spheres; the miss test (1); and three
      // channels of scale, sign test, minimum and truncation (12).
      {"camera ray that misses every sphere",
       [&] { (void)trace_pixel<Counted>(view, 320, 240, 640, 480); },
       {3, 1, 0, 5 + 4 * 9 + 1 + 12}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(count(c.work), c.expected) << c.what;
  }
}

// The power is evaluated where the highlight can change the colour and
// skipped where the exact test shows it cannot.  With the eye at the light,
// a hit straight ahead has base -1 (the brightest highlight); 3 units to the
// side the base is (9 - 25) / 34, small enough for an exponent of 80.
TEST(CountingLanes, PowersOnlyWhereTheHighlightCounts) {
  const HostScene scene = empty_view();
  EXPECT_EQ(count([&] { shade(scene.view(), 0.0f); }).powers, 1u);
  EXPECT_EQ(count([&] { shade(scene.view(), 3.0f); }).powers, 0u);
}

}  // namespace
