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

}  // namespace
