#include "lanes/counting_lanes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "kernel/host_scene.h"
#include "kernel/trace.h"
#include "scene/initial_scene_data.h"

namespace lanes {
// How a failed comparison prints the tallies.
void PrintTo(const OpCounts& c, std::ostream* os) {
  *os << "{divisions " << c.divisions << ", square roots " << c.square_roots << ", powers " << c.powers
      << ", other " << c.other << ", compares " << c.compares << ", selects " << c.selects << ", mask ops "
      << c.mask_ops << ", conversions " << c.conversions << "}";
}
}  // namespace lanes

namespace {

using lanes::Counted;
using lanes::CountedInt;
using lanes::CountedMask;
using lanes::OpCounts;

// The tallies of one piece of work, counted by hand below.
template <class Work>
OpCounts count(Work work) {
  const OpCounts before = lanes::counted_ops;
  work();
  return lanes::counted_ops - before;
}

// Tallies with only the named classes set, for readable expectations.
OpCounts only(std::uint64_t OpCounts::*field, std::uint64_t n) {
  OpCounts c;
  c.*field = n;
  return c;
}

// Each lane operation of the vocabulary, alone, and the tally it moves.
// Operands come through volatile reads so that nothing is folded away.
TEST(CountingLanes, EachOperationCountsInItsClass) {
  volatile float a_in = 2.0f, b_in = 3.0f;
  volatile int i_in = 1, j_in = 2;
  volatile bool m_in = true, n_in = false;
  const Counted a(a_in), b(b_in);
  const CountedInt i(i_in), j(j_in);
  const CountedMask m(m_in), n(n_in);
  using O = OpCounts;
  struct Case {
    const char* what;
    std::function<void()> work;
    OpCounts expected;
  };
  const Case cases[] = {
      {"a + b", [&] { (void)(a + b); }, only(&O::other, 1)},
      {"a - b", [&] { (void)(a - b); }, only(&O::other, 1)},
      {"a * b", [&] { (void)(a * b); }, only(&O::other, 1)},
      {"-a", [&] { (void)(-a); }, only(&O::other, 1)},
      {"min", [&] { (void)lanes::min(a, b); }, only(&O::other, 1)},
      {"index + index", [&] { (void)(i + j); }, only(&O::other, 1)},
      {"int - plain int", [&] { (void)(i - 4); }, only(&O::other, 1)},
      {"a / b", [&] { (void)(a / b); }, only(&O::divisions, 1)},
      {"sqrt", [&] { (void)lanes::sqrt(a); }, only(&O::square_roots, 1)},
      {"pow", [&] { (void)lanes::pow(a, b); }, only(&O::powers, 1)},
      {"a < b", [&] { (void)(a < b); }, only(&O::compares, 1)},
      {"a >= constant", [&] { (void)(a >= 0.0f); }, only(&O::compares, 1)},
      {"a == b", [&] { (void)(a == b); }, only(&O::compares, 1)},
      {"index == index", [&] { (void)(i == j); }, only(&O::compares, 1)},
      {"select of floats", [&] { (void)lanes::select(m, a, b); }, only(&O::selects, 1)},
      {"select of indices", [&] { (void)lanes::select(m, i, j); }, only(&O::selects, 1)},
      {"select of words", [&] { (void)lanes::select(m, 1u, 2u); }, only(&O::selects, 1)},
      {"m && n", [&] { (void)(m && n); }, only(&O::mask_ops, 1)},
      {"m || n", [&] { (void)(m || n); }, only(&O::mask_ops, 1)},
      {"!m", [&] { (void)(!m); }, only(&O::mask_ops, 1)},
      {"m == n", [&] { (void)(m == n); }, only(&O::mask_ops, 1)},
      {"any", [&] { (void)lanes::any(m); }, only(&O::mask_ops, 1)},
      {"all", [&] { (void)lanes::all(m); }, only(&O::mask_ops, 1)},
      {"first_set_lane", [&] { (void)lanes::first_set_lane(i, m); }, only(&O::mask_ops, 1)},
      {"first_lane", [&] { (void)lanes::first_lane(i); }, OpCounts{}},
      {"to_float", [&] { (void)lanes::to_float(i); }, only(&O::conversions, 1)},
      {"truncate_to_uint", [&] { (void)lanes::truncate_to_uint(a); }, only(&O::conversions, 1)},
      // The range test (two compares and an and), the round trip through
      // int32 and the equality.
      {"is_integer in range", [&] { (void)lanes::is_integer(a); }, O{0, 0, 0, 0, 3, 0, 1, 2}},
      // The range test, then v == v and v - v == 0 and their and.
      {"is_integer beyond 2^24", [&] { (void)lanes::is_integer(a * 1e30f); }, O{0, 0, 0, 2, 4, 0, 2, 0}},
      // Both operands of && and || are evaluated, as a pack evaluates them.
      {"b > a || index == index", [&] { (void)(b > a || i == j); }, O{0, 0, 0, 0, 2, 0, 1, 0}},
      // The first lane's index equals itself: one compare, a not, an and,
      // and the any that finds no other index to read.
      {"read_once_per_index",
       [&] {
         (void)lanes::read_once_per_index(
             i, CountedMask(true), [](int k) { return Counted(static_cast<float>(k)); },
             [](const CountedMask& here, Counted x, Counted y) { return lanes::select(here, x, y); });
       },
       O{0, 0, 0, 0, 1, 0, 3, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(count(c.work), c.expected) << c.what;
  }
}

// The counted is_integer takes its own branches: it must still answer as
// the scalar one does, at the edges of its range and for NaN and infinity.
TEST(CountingLanes, IsIntegerAnswersAsTheScalarOne) {
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {3.0f,         3.5f,          -0.0f, -16777216.0f, 16777216.0f, 16777218.0f,
                          -16777218.0f, 1e30f,         inf,   -inf,         std::numeric_limits<float>::quiet_NaN(),
                          0.49999997f,  2147483648.0f, -7.0f};
  for (const float v : values) {
    EXPECT_EQ(lanes::is_integer(Counted(v)).value(), lanes::is_integer(v)) << v;
  }
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

// The counted trace computes what the scalar trace computes: every pixel
// word of the initial scene and of a few moments of the animation.
TEST(CountingLanes, TraceGivesTheScalarTracesWords) {
  const int width = 320, height = 240;
  std::vector<SceneRecords> scenes = {initial_scene()};
  for (const float clock : {1.0f, 2.6f, 4.2f, 5.8f}) scenes.push_back(scene_at_clock(clock));
  std::vector<std::uint32_t> scalar(static_cast<std::size_t>(width) * height);
  for (std::size_t s = 0; s < scenes.size(); ++s) {
    const HostScene scene(scenes[s]);
    trace_frame_scalar(scene.view(), width, height, scalar.data());
    const TracedSpheres<Counted> traced = traced_spheres<Counted>(scene.view());
    int differing = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        differing += trace_pixel<Counted>(scene.view(), traced, x, y, width, height) != scalar[y * width + x];
      }
    }
    EXPECT_EQ(differing, 0) << "scene " << s;
  }
}

}  // namespace
