#include "shading/shading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

void expect_vec(const Vec4& v, float x, float y, float z, float w, float tolerance = 1e-6f) {
  auto near = [&](float actual, float expected, const char* name) {
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(actual)) << name;
    } else if (std::isinf(expected)) {
      EXPECT_EQ(actual, expected) << name;
    } else {
      EXPECT_NEAR(actual, expected, tolerance) << name;
    }
  };
  near(v.x, x, "x");
  near(v.y, y, "y");
  near(v.z, z, "z");
  EXPECT_EQ(v.w, w) << "w";
}

TEST(VectorMath, ReadOnlyXyzAndFollowTheWRule) {
  EXPECT_EQ(vec_dot(Vec4(1, 2, 3, 5), Vec4(1, 1, 1, 7)), 6.0f);
  expect_vec(vec_sub(Vec4(1, 2, 3, 9), Vec4(1, 1, 1, 5)), 0, 1, 2, 1);
  expect_vec(vec_add(Vec4(1, 2, 3, 9), Vec4(1, 1, 1, 5)), 2, 3, 4, 1);
  expect_vec(vec_scale(Vec4(1, 2, 3, 0), 2.0f), 2, 4, 6, 1);

  Vec4 dst;  // w = 1
  vec_assign(dst, Vec4(1, 2, 3, 0));
  expect_vec(dst, 1, 2, 3, 1);

  Vec4 v(3, 4, 0, 7);
  vec_normalize(v);
  expect_vec(v, 0.6f, 0.8f, 0.0f, 7);
  EXPECT_EQ(vec_length(Vec4(3, 4, 12, 0)), 13.0f);
}

TEST(VectorMath, DivisionByZeroGivesNaNAndInfinitiesWithoutFailing) {
  Vec4 zero(0, 0, 0, 1);
  vec_normalize(zero);
  expect_vec(zero, kNaN, kNaN, kNaN, 1);

  Vec4 v(2, -3, 0, 4);
  vec_div_assign(v, 0.0f);
  expect_vec(v, kInf, -kInf, kNaN, 4);
}

TEST(VectorMath, Reflect) {
  struct Case {
    Vec4 i, n;
    Vec4 expected;
  };
  const float r2 = 1.0f / std::sqrt(2.0f), r50 = 1.0f / std::sqrt(50.0f);
  const Case cases[] = {
      {Vec4(1, -1, 0, 0), Vec4(0, 1, 0, 0), Vec4(r2, r2, 0)},
      // n is not normalised: temp = (0, 8, 0), sum (1, 7, 0)
      {Vec4(1, -1, 0, 0), Vec4(0, 2, 0, 0), Vec4(r50, 7 * r50, 0)},
      // along the normal: reversed
      {Vec4(0, 1, 0, 0), Vec4(0, 1, 0, 0), Vec4(0, -1, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "i = (" << c.i.x << ", " << c.i.y << ", " << c.i.z
                                    << "), n = (" << c.n.x << ", " << c.n.y << ", " << c.n.z
                                    << ")");
    expect_vec(vec_reflect(c.i, c.n), c.expected.x, c.expected.y, c.expected.z, 1);
  }
}

// A ray in static storage: zero-initialised, then default-constructed.
Ray static_ray;

TEST(CameraRays, DefaultRaySetsOnlyBothW) {
  const Ray zero_x_y_z{Vec4(0, 0, 0, 1), Vec4(0, 0, 0, 1)};
  EXPECT_EQ(std::memcmp(&static_ray, &zero_x_y_z, sizeof(Ray)), 0);
}

TEST(CameraRays, PrimaryRay) {
  struct Case {
    int x, y, w, h;
    Vec4 unnormalised;
  };
  const Case cases[] = {
      {320, 240, 640, 480, Vec4(0, 0, -772.54834f)},
      {0, 0, 640, 480, Vec4(-320, -240, -772.54834f)},
      {639, 479, 640, 480, Vec4(319, 239, -772.54834f)},  // one pixel more on the negative side
      {0, 0, 641, 480, Vec4(-320, -240, -773.75543f)},    // odd width: x - 320, but z from 320.5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "pixel (" << c.x << ", " << c.y << ") of " << c.w << " x "
                                    << c.h);
    const Ray ray = primary_ray<float>(c.x, c.y, c.w, c.h);
    expect_vec(ray.origin, 0, 0, 0, 1);
    const float length = std::sqrt(c.unnormalised.x * c.unnormalised.x +
                                   c.unnormalised.y * c.unnormalised.y +
                                   c.unnormalised.z * c.unnormalised.z);
    expect_vec(ray.direction, c.unnormalised.x / length, c.unnormalised.y / length,
               c.unnormalised.z / length, 1);
  }
  // The centre pixel looks exactly down -z.
  const Ray centre = primary_ray<float>(320, 240, 640, 480);
  EXPECT_EQ(centre.direction.z, -1.0f);
  EXPECT_EQ(lanes::tan(kFieldOfView / 2.0f), 0.41421357f);
}

TEST(CameraRays, RayBetween) {
  const Ray ray = ray_between(Vec4(1, 2, 3, 0), Vec4(1, 2, 5, 0));
  expect_vec(ray.origin, 1, 2, 3, 1);
  expect_vec(ray.direction, 0, 0, 1, 1);

  const Ray degenerate = ray_between(Vec4(1, 2, 3), Vec4(1, 2, 3));
  expect_vec(degenerate.direction, kNaN, kNaN, kNaN, 1);
}

// A hit at P = (0, 0, -5) facing the eye, on material `m`.
HitRecord hit_facing_eye() {
  HitRecord hit;
  hit.point = Vec4(0, 0, -5);
  hit.normal = Vec4(0, 0, 1);
  hit.material = 0;
  hit.hit = true;
  hit.sphere_index = 0;
  return hit;
}

// The hit above shaded with `material`, read as the trace reads it.
Vec4 shade_hit_facing_eye(const Vec4& light, const Material& material) {
  const HitRecord hit = hit_facing_eye();
  return shade_point_light(hit, light, load_material<float>(&material, hit.material));
}

Material test_material(float ambient, float diffuse, float specular, float shininess) {
  Material m{};
  m.color = Vec4(1.0f, 0.5f, 0.0f);
  m.ambient = ambient;
  m.diffuse = diffuse;
  m.specular = specular;
  m.shininess = shininess;
  return m;
}

TEST(PointLightShading, TermsAndAttenuation) {
  struct Case {
    const char* what;
    Vec4 light;
    Material material;
    float factor;
  };
  const Case cases[] = {
      // d = 10, base of the power -1, even exponent: S = 0.55; (0.05 + 0.4 + 0.55) / 2.5
      {"light in front", Vec4(0, 0, 5), test_material(0.05f, 0.4f, 0.55f, 80), 0.4f},
      // odd exponent on the mirror direction: the specular term is negative
      {"odd exponent", Vec4(0, 0, 5), test_material(0.05f, 0.4f, 0.55f, 3), (0.45f - 0.55f) / 2.5f},
      // behind the surface: D <= 0, so D = S = 0 and only the ambient term is left
      {"light behind", Vec4(0, 0, -15), test_material(0.05f, 0.4f, 0.55f, 80), 0.05f / 2.5f},
      // no diffuse term, no specular term either
      {"no diffuse", Vec4(0, 0, 5), test_material(0.05f, 0.0f, 0.55f, 80), 0.05f / 2.5f},
      // d = 20: attenuation 1 + 1 + 4
      {"far light", Vec4(0, 0, 15), test_material(0.6f, 0.0f, 0.0f, 80), 0.1f},
      // light at the hit point: d = 0, l NaN, the diffuse test fails, attenuation 1
      {"light at the point", Vec4(0, 0, -5), test_material(0.05f, 0.4f, 0.55f, 80), 0.05f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Vec4 color = shade_hit_facing_eye(c.light, c.material);
    expect_vec(color, 1.0f * c.factor, 0.5f * c.factor, 0.0f, 1);
  }
}

TEST(PointLightShading, ColourWIsNotRead) {
  Material m = test_material(0.05f, 0.4f, 0.55f, 80);
  m.color.w = 0.2f;
  const Vec4 a = shade_hit_facing_eye(Vec4(0, 0, 5), m);
  m.color.w = 1.0f;
  const Vec4 b = shade_hit_facing_eye(Vec4(0, 0, 5), m);
  EXPECT_EQ(a.x, b.x);
  EXPECT_EQ(a.w, 1.0f);
}

// Wherever the shading skips the power, adding the real specular term to
// A + D would have given A + D exactly: the skip changes no bit.  Sampled
// densely near every edge of the rule: |base| at either cutoff (0.7, 0.77),
// exponent 80, |specular| at 1 and 2048, A + D = 1/16 and other powers of
// two, whose lower neighbour is closest.
TEST(PointLightShading, SkippedSpecularTermNeverChangesTheSum) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  const float sums[] = {0.0625f, 0.125f, 0.25f, 0.5f, 1.0f, 2.0f, 64.0f};
  const float exponents[] = {80.0f, 81.0f, 97.0f, 1000.0f, 16777216.0f};
  const float speculars[] = {1.0f, 2048.0f, 0.55f, 1.0001f};
  long skipped[2] = {0, 0};  // by cutoff: 0.7, 0.77
  for (int i = 0; i < 400000; ++i) {
    const float exponent = exponents[i % 5];
    const float specular = speculars[i % 4] * (i % 3 == 0 ? unit(rng) : 1.0f) * (i % 2 == 0 ? 1.0f : -1.0f);
    const float cutoff = highlight_cutoff(exponent, specular);
    const float edge = cutoff > 0.0f ? cutoff : 0.77f;
    const float base = (unit(rng) * 2.0f - 1.0f) * edge * (i % 5 == 0 ? 1.0f : 0.999f + 0.001f * unit(rng));
    const float sum = i % 2 == 0 ? sums[i % 7] : 0.0625f + unit(rng) * 4.0f;
    if (!specular_vanishes(base, cutoff, sum)) continue;
    ++skipped[cutoff > 0.75f];
    ASSERT_EQ(sum + lanes::pow(base, exponent) * specular, sum)
        << "base " << base << " exponent " << exponent << " specular " << specular;
  }
  EXPECT_GT(skipped[0], 20000);
  EXPECT_GT(skipped[1], 20000);

  struct Case {
    float base, exponent, specular, sum;
  };
  const Case kept[] = {
      {0.7001f, 80.0f, 2.0f, 1.0f},     // base above the cutoff for |specular| up to 2048
      {0.7701f, 80.0f, 1.0f, 1.0f},     // base above the cutoff for |specular| up to 1
      {-0.7701f, 80.0f, -1.0f, 1.0f},   // the same, negative
      {0.5f, 79.0f, 1.0f, 1.0f},        // exponent too small
      {-0.5f, 80.5f, 1.0f, 1.0f},       // fractional exponent: the power is NaN
      {0.5f, 80.0f, 2049.0f, 1.0f},     // specular too large
      {0.5f, 80.0f, 1.0f, 0.0624f},     // sum too small
      {kNaN, 80.0f, 1.0f, 1.0f},        // NaN base
      {0.5f, kInf, 1.0f, 1.0f},         // infinite exponent
      {0.0f, kNaN, 1.0f, 1.0f},         // NaN exponent
      {0.0f, 80.0f, kNaN, 1.0f},        // NaN specular
  };
  for (const Case& c : kept) {
    EXPECT_FALSE(specular_vanishes(c.base, highlight_cutoff(c.exponent, c.specular), c.sum))
        << c.base << " " << c.exponent << " " << c.specular << " " << c.sum;
  }
}

// The test made before r and -P are brought to unit length vouches only for
// bases that the cutoff then passes.  Random directions, many of them at an
// angle whose cosine lies just either side of the vouched bound, at lengths
// from 1e-6 to 1e6.
TEST(PointLightShading, SurelySmallBaseIsSmallOnceNormalised) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_real_distribution<float> exponent(-6.0f, 6.0f);
  const float cutoffs[] = {highlight_cutoff(80.0f, 0.55f), highlight_cutoff(80.0f, 100.0f)};
  ASSERT_EQ(cutoffs[0], 0.77f);
  ASSERT_EQ(cutoffs[1], 0.7f);
  long vouched = 0;
  for (int i = 0; i < 200000; ++i) {
    const float cutoff = cutoffs[i % 2];
    const float surely = surely_below_cutoff(cutoff);
    Vec4 P(unit(rng), unit(rng), unit(rng));
    Vec4 r(unit(rng), unit(rng), unit(rng));
    if (i % 4 != 0) {
      // r at a cosine near the bound with -P's direction: a unit u along -P
      // and a unit w across it, mixed.
      Vec4 u = vec_scale(P, -1.0f);
      vec_normalize(u);
      Vec4 w = vec_sub(r, vec_scale(u, vec_dot(r, u)));
      vec_normalize(w);
      const float cosine = std::sqrt(surely) + 0.002f * unit(rng);
      const float sine = std::sqrt(std::max(0.0f, 1.0f - cosine * cosine));
      r = vec_add(vec_scale(u, (i % 8 < 4 ? 1.0f : -1.0f) * cosine), vec_scale(w, sine));
    }
    r = vec_scale(r, std::pow(10.0f, exponent(rng)));
    P = vec_scale(P, std::pow(10.0f, exponent(rng)));
    if (!base_surely_small(r, P, surely)) continue;
    ++vouched;
    Vec4 rn = r;
    vec_normalize(rn);
    Vec4 v = vec_scale(P, -1.0f);
    vec_normalize(v);
    const float base = vec_dot(rn, v);
    ASSERT_TRUE(base_small(base, cutoff)) << "base " << base << " cutoff " << cutoff;
  }
  EXPECT_GT(vouched, 50000);
  // No cutoff: nothing is vouched for.
  EXPECT_FALSE(base_surely_small(Vec4(1, 0, 0), Vec4(0, 1, 0), surely_below_cutoff(-1.0f)));
}

}  // namespace
