#include "kernel/culling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "kernel/host_scene.h"
#include "kernel/trace.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

// A scene whose sphere 0 is the one under test; the others sit far behind
// the eye, where no camera ray goes.
HostScene scene_with_sphere(Vec4 center, float radius) {
  constexpr int kSpheres = 4;
  Sphere spheres[kSpheres];
  for (int i = 0; i < kSpheres; ++i) {
    spheres[i].center = Vec4(0.0f, 0.0f, 1000.0f + 10.0f * static_cast<float>(i));
    spheres[i].radius = 1.0f;
    spheres[i].radius_sq = 1.0f;
  }
  spheres[0].center = center;
  spheres[0].radius = radius;
  spheres[0].radius_sq = radius * radius;
  HostScene scene;
  scene.set_spheres(spheres, kSpheres);
  return scene;
}

struct Rect {
  int x0, y0, x1, y1;
};

bool sphere_zero_is_candidate(const HostScene& scene, Rect r) {
  return (camera_candidates(camera_culling(scene.view()), r.x0, r.y0, r.x1, r.y1, kWidth, kHeight) & 1u) != 0;
}

// Whether any camera ray through the rectangle hits sphere 0 in the trace's
// own single-precision test.
bool any_ray_hits_sphere_zero(const HostScene& scene, Rect r) {
  const TracedSpheres<float> traced = traced_spheres<float>(scene.view());
  for (int y = r.y0; y <= r.y1; ++y) {
    for (int x = r.x0; x <= r.x1; ++x) {
      const Ray ray = primary_ray<float>(x, y, kWidth, kHeight);
      HitRecord record;
      if (find_camera_hit(traced, ray, record, /*candidates=*/1u)) return true;
    }
  }
  return false;
}

// The unit direction of the camera ray through (x, y), in double precision.
Vec4 camera_direction(double x, double y) {
  const double f = kWidth / 2.0 / std::tan(3.14159265358979 / 8.0);
  const double dx = x - kWidth / 2, dy = y - kHeight / 2, dz = -f;
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  return Vec4(static_cast<float>(dx / length), static_cast<float>(dy / length), static_cast<float>(dz / length));
}

Vec4 scaled(Vec4 v, double s) {
  return Vec4(static_cast<float>(v.x * s), static_cast<float>(v.y * s), static_cast<float>(v.z * s));
}

TEST(CameraCulling, KeepsWhatTheRaysMayHitAndCullsWhatLiesOutside) {
  const Rect block{320, 240, 327, 247};  // just above and right of straight ahead
  const Vec4 ahead = camera_direction(323.5, 243.5);
  struct Case {
    const char* what;
    Vec4 center;
    float radius;
    bool candidate;
  };
  const Case cases[] = {
      {"on the block's central ray", scaled(ahead, 10.0), 0.5f, true},
      {"huge, reaching into the pyramid from below", Vec4(0.0f, -100.4f, 0.0f), 100.0f, true},
      {"containing the eye", Vec4(0.1f, 0.0f, 0.0f), 1.0f, true},
      {"far to the left", Vec4(-10.0f, 0.2f, -10.0f), 1.0f, false},
      {"far to the right", Vec4(10.0f, 0.2f, -10.0f), 1.0f, false},
      {"above", Vec4(0.1f, 8.0f, -10.0f), 1.0f, false},
      {"below", Vec4(0.1f, -8.0f, -10.0f), 1.0f, false},
      {"behind the eye", Vec4(0.1f, 0.1f, 10.0f), 1.0f, false},
      {"touching the eye's plane from behind", Vec4(0.1f, 0.1f, 1.0f), 1.0f, true},
  };
  for (const Case& c : cases) {
    const HostScene scene = scene_with_sphere(c.center, c.radius);
    EXPECT_EQ(sphere_zero_is_candidate(scene, block), c.candidate) << c.what;
    // Whatever the test keeps, every sphere it culls must be missed.
    if (!c.candidate) {
      EXPECT_FALSE(any_ray_hits_sphere_zero(scene, block)) << c.what;
    }
  }
}

// Spheres placed just outside or just inside a side of a block's pyramid,
// at every scale from small and near to huge and far: every sphere the test
// culls is one that each camera ray of the block misses in single
// precision, so culling it changes no pixel.  A few in each side's batch
// are culled, so the margin is exercised and not merely never reached.
TEST(CameraCulling, ACulledSphereIsMissedByEveryRayOfTheBlock) {
  std::mt19937 random(20261210);
  std::uniform_int_distribution<int> block_column(0, kWidth / 8 - 1), block_row(0, kHeight / 8 - 1), side(0, 3);
  std::uniform_real_distribution<double> log_radius(-2.0, 2.0), depth_in_radii(1.5, 40.0), margins(-4.0, 3.0);
  int culled = 0, kept = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const int x0 = block_column(random) * 8, y0 = block_row(random) * 8;
    const Rect r{x0, y0, x0 + 7, y0 + 7};
    // A point on the chosen side's plane (the ray through the middle of that
    // edge), and the side's outward direction across the plane.
    const int s = side(random);
    const double edge_x = s == 0 ? r.x0 : (s == 1 ? r.x1 : (r.x0 + r.x1) / 2.0);
    const double edge_y = s == 2 ? r.y0 : (s == 3 ? r.y1 : (r.y0 + r.y1) / 2.0);
    const Vec4 along_edge = camera_direction(edge_x, edge_y);
    const Vec4 inward = camera_direction((r.x0 + r.x1) / 2.0, (r.y0 + r.y1) / 2.0);
    // The component of (inward - along_edge) across the plane points in.
    const double ix = inward.x - along_edge.x, iy = inward.y - along_edge.y, iz = inward.z - along_edge.z;
    const double along = ix * along_edge.x + iy * along_edge.y + iz * along_edge.z;
    double nx = ix - along * along_edge.x, ny = iy - along * along_edge.y, nz = iz - along * along_edge.z;
    const double n = std::sqrt(nx * nx + ny * ny + nz * nz);
    nx /= n, ny /= n, nz /= n;
    const double radius = std::pow(10.0, log_radius(random));
    const double depth = radius * depth_in_radii(random);
    // Centre outside the plane by the radius and between -4 and 3 times the
    // culling margin: from spheres that reach into the pyramid to ones
    // beyond where culling begins.
    const double out = radius + margins(random) * kCullingMargin * (depth + radius);
    const Vec4 center(static_cast<float>(along_edge.x * depth - nx * out),
                      static_cast<float>(along_edge.y * depth - ny * out),
                      static_cast<float>(along_edge.z * depth - nz * out));
    const HostScene scene = scene_with_sphere(center, static_cast<float>(radius));
    if (sphere_zero_is_candidate(scene, r)) {
      ++kept;
    } else {
      ++culled;
      EXPECT_FALSE(any_ray_hits_sphere_zero(scene, r))
          << "block (" << r.x0 << ", " << r.y0 << "), side " << s << ", radius " << radius << ", depth " << depth;
    }
  }
  EXPECT_GT(culled, 30);
  EXPECT_GT(kept, 30);
}

// Two spheres and a light along a line through the light that touches
// sphere 0 at P and passes sphere 1, between the light and P, at its radius
// times 1 + gap.  Sphere 1 lies across the line from sphere 0, so the two
// spheres' cones from the light are apart by about the gap: at the
// smallest gaps, whether the shadow ray from P (rounded to single
// precision) meets sphere 1 is rounding's choice, and culling sphere 1 for
// sphere 0 is only right with a margin for that rounding.
struct GrazingShadow {
  HostScene scene;
  Vec4 light, point;
};

GrazingShadow grazing_shadow(std::mt19937& random, double gap) {
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0), log_size(-1.0, 1.0), share(0.2, 0.8);
  // Unit u along the line, unit w across it.
  double u[3], w[3];
  for (double& c : u) c = coordinate(random);
  for (double& c : w) c = coordinate(random);
  const double u_length = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  for (double& c : u) c /= u_length;
  const double along = w[0] * u[0] + w[1] * u[1] + w[2] * u[2];
  for (int k = 0; k < 3; ++k) w[k] -= along * u[k];
  const double w_length = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  for (double& c : w) c /= w_length;
  const double light[3] = {4.0 * coordinate(random), 4.0 * coordinate(random), -5.0 + 4.0 * coordinate(random)};
  const double to_point = 10.0 * std::pow(10.0, log_size(random));
  const double to_blocker = to_point * share(random);
  const double radius_0 = to_point * 0.1 * std::pow(10.0, log_size(random));
  const double radius_1 = to_blocker * 0.1 * std::pow(10.0, log_size(random));
  const auto at = [&](double t, double across) {
    return Vec4(static_cast<float>(light[0] + t * u[0] + across * w[0]),
                static_cast<float>(light[1] + t * u[1] + across * w[1]),
                static_cast<float>(light[2] + t * u[2] + across * w[2]));
  };
  Sphere spheres[2];
  spheres[0].center = at(to_point, -radius_0);
  spheres[0].radius = static_cast<float>(radius_0);
  spheres[1].center = at(to_blocker, radius_1 * (1.0 + gap));
  spheres[1].radius = static_cast<float>(radius_1);
  for (Sphere& sphere : spheres) sphere.radius_sq = sphere.radius * sphere.radius;
  GrazingShadow shadow;
  shadow.scene.set_spheres(spheres, 2);
  shadow.light = at(0.0, 0.0);
  shadow.scene.light_position = shadow.light;
  shadow.point = at(to_point, 0.0);
  return shadow;
}

// Whether the single-precision search of a shadow ray from `point`, on
// sphere 0, meets sphere 1.
bool shadow_ray_meets_sphere_one(const GrazingShadow& shadow, Vec4 point) {
  HitRecord record;
  record.sphere_index = 0;
  Ray ray;
  ray.origin = point;
  ray.direction = path_to_light(point, shadow.light).direction;
  find_nearest_hit<float, /*kWithSurface=*/false>(traced_spheres<float>(shadow.scene.view()), ray, record);
  return record.sphere_index == 1;
}

// Every sphere that the shadow culling drops for the points of a sphere is
// one that each of their shadow rays misses in single precision, down to
// the gaps where the test's rounding decides; the culling keeps a point's
// own sphere, and it does drop spheres well apart.
TEST(ShadowCulling, ACulledSphereIsMissedByEveryShadowRayFromTheSphere) {
  std::mt19937 random(20261211);
  std::uniform_real_distribution<double> log_gap(-8.0, 0.0);
  int culled = 0, kept = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    const double gap = std::pow(10.0, log_gap(random));
    const GrazingShadow shadow = grazing_shadow(random, gap);
    const ShadowCulling culling = shadow_culling(shadow.scene.view());
    ASSERT_EQ(culling.may_block[0] & 1u, 1u);
    if ((culling.may_block[0] & 2u) != 0) {
      ++kept;
      continue;
    }
    ++culled;
    // P and its neighbours a few ulps off, as the trace's hit points lie.
    for (int step = -2; step <= 2; ++step) {
      const Vec4 p = shadow.point;
      const Vec4 nudged(std::nextafter(p.x, step < 0 ? -1e30f : 1e30f), p.y,
                        step == 0 ? p.z : std::nextafter(p.z, step % 2 == 0 ? 1e30f : -1e30f));
      EXPECT_FALSE(shadow_ray_meets_sphere_one(shadow, step == 0 ? p : nudged)) << "gap " << gap;
    }
  }
  EXPECT_GT(culled, 100);
  EXPECT_GT(kept, 100);
}

// Packs of rays from a box whose x never falls, and a sphere beside the box
// at smaller x, out of reach by its radius times a gap from a hundred-
// millionth to ten.  Lane 0 runs parallel to the box's side and passes the
// sphere at radius times 1 + gap, far down the ray, where the
// single-precision test's rounding of the squared distances decides: every
// sphere the culling drops must be missed by every lane there.
TEST(ContinuationCulling, ACulledSphereIsMissedByEveryRayOfThePack) {
  using Pack = lanes::Pack<8>;
  std::mt19937 random(20261211);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f), log_gap(-8.0f, 1.0f), log_scale(-1.0f, 2.0f);
  int culled = 0, kept = 0;
  for (int trial = 0; trial < 2000; ++trial) {
    const float scale = std::pow(10.0f, log_scale(random));
    const float radius = scale * (0.05f + unit(random));
    const float gap = std::pow(10.0f, log_gap(random));
    const Vec4 low(scale * (unit(random) - 0.5f), scale * (unit(random) - 0.5f), scale * (unit(random) - 0.5f));
    const float far = scale * (20.0f + 200.0f * unit(random));
    Sphere sphere;
    sphere.center = Vec4(low.x - radius * (1.0f + gap), low.y + scale * (unit(random) - 0.5f), low.z - far);
    sphere.radius = radius;
    sphere.radius_sq = radius * radius;
    HostScene scene;
    scene.set_spheres(&sphere, 1);

    Ray rays[8];
    for (int lane = 0; lane < 8; ++lane) {
      Ray& ray = rays[lane];
      ray.origin = lane == 0 ? low
                             : Vec4(low.x + 0.1f * scale * unit(random), low.y + 0.1f * scale * unit(random),
                                    low.z + 0.1f * scale * unit(random));
      Vec4 to = vec_sub(sphere.center, ray.origin);
      to.x = lane == 0 ? 0.0f : std::fabs(to.x) * unit(random);
      ray.direction = to;
      vec_normalize(ray.direction);
    }
    RayT<Pack> pack;
    pack.origin = Vec4T<Pack>(Pack([&](auto i) { return rays[i].origin.x; }),
                              Pack([&](auto i) { return rays[i].origin.y; }),
                              Pack([&](auto i) { return rays[i].origin.z; }));
    pack.direction = Vec4T<Pack>(Pack([&](auto i) { return rays[i].direction.x; }),
                                 Pack([&](auto i) { return rays[i].direction.y; }),
                                 Pack([&](auto i) { return rays[i].direction.z; }));
    const SphereSet candidates =
        continuation_candidates<Pack>(continuation_culling(scene.view()), pack, lanes::Mask<Pack>(true));
    if ((candidates & 1u) != 0) {
      ++kept;
      continue;
    }
    ++culled;
    const TracedSpheres<float> traced = traced_spheres<float>(scene.view());
    for (int lane = 0; lane < 8; ++lane) {
      HitRecord record;
      EXPECT_FALSE(find_nearest_hit(traced, rays[lane], record)) << "lane " << lane << ", gap " << gap;
    }
  }
  EXPECT_GT(culled, 100);
  EXPECT_GT(kept, 100);
}

}  // namespace
