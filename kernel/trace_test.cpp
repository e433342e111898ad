#include "kernel/trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "kernel/host_scene.h"
#include "lanes/simd_lanes.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

struct Rgb {
  unsigned r, g, b;
  bool operator==(const Rgb&) const = default;
};

Rgb rgb_of(std::uint32_t word) { return {word & 0xffu, (word >> 8) & 0xffu, (word >> 16) & 0xffu}; }

std::ostream& operator<<(std::ostream& os, const Rgb& c) {
  return os << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}

TEST(TracePixel, InitialSceneProbePixels) {
  const HostScene scene(initial_scene());
  struct Case {
    int x, y;
    Rgb expected;
  };
  const Case cases[] = {
      {320, 240, {10, 10, 10}},  // through the transparent sphere
      {100, 400, {52, 0, 0}},    //
      {160, 300, {60, 49, 49}},  // red sphere
      {480, 300, {20, 48, 20}},  // green sphere
      {320, 60, {70, 70, 70}},   // floor
      {320, 100, {0, 0, 0}},     // floor, in the transparent sphere's shadow
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rgb_of(trace_pixel<float>(scene.view(), c.x, c.y, kFrameWidth, kFrameHeight)), c.expected)
        << "pixel (" << c.x << ", " << c.y << ")";
  }
}

}  // namespace

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A scene of four spheres placed by the test; spheres it does not place sit
// far off to the side, where no test ray goes.
class SmallScene {
 public:
  SmallScene() {
    for (int i = 0; i < 4; ++i) place(i, Vec4(1000.0f + 10.0f * static_cast<float>(i), 1000.0f, 0.0f), 1.0f, 0);
    materials_[0].color = Vec4(1, 1, 1);
    scene_.set_materials(materials_, 4);
    scene_.light_position = Vec4(0, 3, 0);
  }

  void place(int i, Vec4 center, float radius_sq, std::uint8_t material) {
    spheres_[i].center = center;
    spheres_[i].radius = std::sqrt(radius_sq);
    spheres_[i].radius_sq = radius_sq;
    spheres_[i].material = material;
    scene_.set_spheres(spheres_, 4);
  }

  Material& material(int i) { return materials_[i]; }
  void commit_materials() { scene_.set_materials(materials_, 4); }
  void light_at(Vec4 p) { scene_.light_position = p; }
  SceneView view() const { return scene_.view(); }

 private:
  // Every coefficient a test does not set is zero.
  Sphere spheres_[4];
  Material materials_[4];
  HostScene scene_;
};

Ray ray_from(Vec4 origin, Vec4 direction) {
  Ray r;
  r.origin = origin;
  r.direction = direction;
  return r;
}

const Ray kDownMinusZ = ray_from(Vec4(0, 0, 0), Vec4(0, 0, -1));

TEST(FindNearestHit, SphereTests) {
  struct Case {
    const char* what;
    Vec4 center;
    float radius_sq;
    bool hit;
  };
  const Case cases[] = {
      {"in front", Vec4(0, 0, -5), 1.0f, true},
      {"behind the origin (b > 0)", Vec4(0, 0, 5), 1.0f, false},
      {"origin inside (c < 0)", Vec4(0, 0, -0.5f), 1.0f, false},
      {"beside the ray (disc < 0)", Vec4(3, 0, -5), 1.0f, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallScene scene;
    scene.place(1, c.center, c.radius_sq, 2);
    HitRecord record;
    EXPECT_EQ(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, record), c.hit);
    if (c.hit) {
      EXPECT_EQ(record.point.z, -4.0f);
      EXPECT_EQ(record.normal.z, 1.0f);
      EXPECT_EQ(record.point.w, 1.0f);
      EXPECT_EQ(record.sphere_index, 1);
      EXPECT_EQ(record.material, 2);
      EXPECT_TRUE(record.hit);
    } else {
      EXPECT_EQ(record.sphere_index, -1);
    }
  }
}

TEST(FindNearestHit, NearestWinsAndTiesKeepTheLowerIndex) {
  SmallScene scene;
  scene.place(0, Vec4(0, 0, -9), 1.0f, 0);
  scene.place(2, Vec4(0, 0, -5), 1.0f, 0);
  scene.place(3, Vec4(0, 0, -5), 1.0f, 0);
  HitRecord record;
  ASSERT_TRUE(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, record));
  EXPECT_EQ(record.sphere_index, 2);
}

TEST(FindNearestHit, SkipsThePreviousSphereUnlessALowerOneWasStoredFirst) {
  SmallScene scene;
  scene.place(2, Vec4(0, 0, -5), 1.0f, 0);
  HitRecord record;
  record.sphere_index = 2;
  EXPECT_FALSE(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, record));

  // Sphere 0, farther along the ray, is stored first; sphere 2 is then
  // tested like any other and, being nearer, wins.
  scene.place(0, Vec4(0, 0, -9), 1.0f, 0);
  record.sphere_index = 2;
  ASSERT_TRUE(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, record));
  EXPECT_EQ(record.sphere_index, 2);
  EXPECT_EQ(record.point.z, -4.0f);
}

TEST(FindNearestHit, NaNRayFindsNothing) {
  SmallScene scene;
  scene.place(0, Vec4(0, 0, -5), 1.0f, 0);
  HitRecord record;
  EXPECT_FALSE(find_nearest_hit(traced_spheres(scene.view()), ray_from(Vec4(0, 0, 0), Vec4(kNaN, kNaN, kNaN)),
                                record));
}

TEST(InShadow, ComparesDistancesFromTheLightWithTolerance) {
  // P at the origin, the light one unit down -z; the occluder's near point
  // Q is as far from the light as P (shadow), then a little farther (lit).
  struct Case {
    float center_z;
    bool shadowed;
  };
  const Case cases[] = {{-3.0f, true}, {-3.0000005f, false}, {-2.5f, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.center_z);
    SmallScene scene;
    scene.place(0, Vec4(0, 0, c.center_z), 1.0f, 0);
    const HitRecord trace_hit;
    const Vec4 P(0, 0, 0), L(0, 0, -1);
    EXPECT_EQ(in_shadow(traced_spheres(scene.view()), P, L, path_to_light(P, L), trace_hit), c.shadowed);
  }
}

TEST(InShadow, ShadowRayIgnoresThePointsOwnSphere) {
  SmallScene scene;
  scene.place(1, Vec4(0, 0, -5), 1.0f, 0);
  HitRecord trace_hit;
  ASSERT_TRUE(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, trace_hit));
  // The light is behind the sphere: the shadow ray starts on sphere 1 and
  // would hit its far side, but sphere 1 is skipped.
  const Vec4 L(0, 0, -10);
  EXPECT_FALSE(in_shadow(traced_spheres(scene.view()), trace_hit.point, L, path_to_light(trace_hit.point, L), trace_hit));
}

// The byte that pack_pixel makes of one channel value.
unsigned red_byte(float channel) { return pack_pixel(Vec4(channel, 0, 0)) & 0xffu; }

TEST(PackPixel, ChannelBytes) {
  struct Case {
    float channel;
    unsigned byte;
  };
  const Case cases[] = {{1.0f, 255},  {0.999f, 254}, {0.5625f, 143}, {0.0f, 0},
                        {1.1f, 255},  // saturates rather than wrapping to 24
                        {256.0f, 255}, {kInf, 255},    {-0.5f, 0},     {-kInf, 0},
                        {kNaN, 0}};
  for (const Case& c : cases) EXPECT_EQ(red_byte(c.channel), c.byte) << c.channel;
}

TEST(PackPixel, ChannelOrderAndAlpha) {
  const std::uint32_t word = pack_pixel(Vec4(1.0f, 0.5f, 0.0f));
  EXPECT_EQ(word & 0xffffffu, 255u + 127u * 256u);
  EXPECT_EQ(word >> 24, 255u);
}

// Shading with the ambient term only: the colour of a hit at distance d from
// the light is ambient / (1 + 0.05 d + 0.01 d^2).
double ambient_only(double ambient, double d) { return ambient / (1.0 + 0.05 * d + 0.01 * d * d); }

Material ambient_material(float ambient, float reflection, float transparency, float index) {
  Material m{};
  m.color = Vec4(1, 1, 1);
  m.ambient = ambient;
  m.reflection = reflection;
  m.transparency = transparency;
  m.refraction_index = index;
  return m;
}

TEST(TracePixel, ReflectionWeightsAndFourRaysAtMost) {
  // Two mirrors facing each other along z, the eye between them: the camera
  // ray bounces between them (each ray skips the mirror it left) until the
  // fourth ray, weights 1, 0.75, 0.5625, 0.421875.
  SmallScene scene;
  scene.material(0) = ambient_material(0.25f, 0.75f, 0.0f, -1.0f);
  scene.commit_materials();
  scene.place(0, Vec4(0, 0, -6), 1.0f, 0);
  scene.place(1, Vec4(0, 0, 6), 1.0f, 0);
  scene.light_at(Vec4(0, 3, 0));
  const double k = ambient_only(0.25, std::sqrt(34.0));  // every hit is sqrt(9 + 25) from the light
  const double sum = k * (1 + 0.75 + 0.5625 + 0.421875);
  const std::uint32_t word = trace_pixel<float>(scene.view(), kFrameWidth / 2, kFrameHeight / 2, kFrameWidth, kFrameHeight);
  EXPECT_EQ(word & 0xffu, static_cast<unsigned>(sum * 255.0));
}

TEST(TracePixel, TransparentSphereHeadOn) {
  // A black glass sphere in front of a white ambient-only sphere: the ray
  // refracts straight through, and the back sphere is weighted 0.75^2.
  SmallScene scene;
  scene.material(1) = ambient_material(0.05f, 0.0f, 0.75f, 1.05f);
  scene.material(1).color = Vec4(0, 0, 0);
  scene.material(2) = ambient_material(0.5f, 0.0f, 0.0f, -1.0f);
  scene.commit_materials();
  scene.place(0, Vec4(0, 0, -5), 1.0f, 1);
  scene.place(1, Vec4(0, 0, -10), 1.0f, 2);
  scene.light_at(Vec4(0, 3, -8));
  const double k = ambient_only(0.5, std::sqrt(10.0));  // back hit (0, 0, -9)
  const std::uint32_t word = trace_pixel<float>(scene.view(), kFrameWidth / 2, kFrameHeight / 2, kFrameWidth, kFrameHeight);
  EXPECT_EQ(word & 0xffu, static_cast<unsigned>(0.5625 * k * 255.0));

  // The refracted ray itself: straight on, starting just inside the sphere.
  HitRecord hit;
  ASSERT_TRUE(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, hit));
  const Ray next = transparent_continuation(traced_spheres(scene.view()), kDownMinusZ, hit, 1.0f / 1.05f, true);
  EXPECT_NEAR(next.origin.z, -4.00001f, 1e-6f);
  EXPECT_EQ(next.direction.x, 0.0f);
  EXPECT_EQ(next.direction.z, -1.0f);
}

TEST(TracePixel, TotalInternalReflectionEndsTheRayQuietly) {
  // An index below 1 makes eta = 2 > 1; at the grazing hit (x = 0.9 off the
  // sphere's axis) k = 1 - 4 (1 - cos^2) < 0, so the refracted ray is NaN,
  // finds nothing and adds nothing: the pixel is the first hit's ambient
  // term alone, with weight 1.
  SmallScene scene;
  scene.material(1) = ambient_material(0.5f, 0.0f, 0.75f, 0.5f);
  scene.commit_materials();
  scene.place(0, Vec4(0.9f, 0, -5), 1.0f, 1);
  const double hit_z = -5.0 + std::sqrt(1.0 - 0.81);
  const double k = ambient_only(0.5, std::sqrt(9.0 + hit_z * hit_z));  // light at (0, 3, 0)
  const auto grey = static_cast<std::uint32_t>(k * 255.0);
  ASSERT_EQ(grey, 81u);
  const std::uint32_t word = trace_pixel<float>(scene.view(), kFrameWidth / 2, kFrameHeight / 2, kFrameWidth, kFrameHeight);
  EXPECT_EQ(word, 0xff000000u | grey << 16 | grey << 8 | grey);
}

TEST(TracePixel, ShadowedPointGetsNoAmbientAndTransparentSpheresCastShadows) {
  // The light sits behind a glass sphere as seen from the floor point.
  SmallScene scene;
  scene.material(0) = ambient_material(0.5f, 0.0f, 0.0f, -1.0f);
  scene.material(1) = ambient_material(0.5f, 0.0f, 0.75f, 1.05f);
  scene.commit_materials();
  scene.place(0, Vec4(0, 0, -6), 1.0f, 0);         // the centre pixel sees (0, 0, -5)
  scene.place(1, Vec4(0, 1.5f, -4.0f), 0.25f, 1);  // off the camera ray, on the shadow ray
  scene.light_at(Vec4(0, 4.5f, -2.0f));  // P -> L passes through the glass sphere
  HitRecord trace_hit;
  ASSERT_TRUE(find_nearest_hit(traced_spheres(scene.view()), kDownMinusZ, trace_hit));
  ASSERT_EQ(trace_hit.sphere_index, 0);
  const Vec4 L(0, 4.5f, -2.0f);
  EXPECT_TRUE(in_shadow(traced_spheres(scene.view()), trace_hit.point, L, path_to_light(trace_hit.point, L), trace_hit));
  EXPECT_EQ(trace_pixel<float>(scene.view(), kFrameWidth / 2, kFrameHeight / 2, kFrameWidth, kFrameHeight) & 0xffffffu, 0u);
}

}  // namespace
