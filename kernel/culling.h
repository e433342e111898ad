// Which spheres a group of camera rays can hit at all, tested once for the
// group rather than lane by lane: the packed trace then skips, for all of
// the group's packs, every sphere that none of its rays could reach.
//
// The camera rays through a rectangle of pixels fill a pyramid from the eye,
// bounded by four planes through the eye, and all of them head into -z.  A
// sphere is culled when it lies wholly outside one of those planes, or
// wholly behind the eye, by its radius and a margin of 1/256 of its
// reach from the eye.  Then every ray of the group passes it at a distance
// of more than radius plus margin, far more than the per-lane test's
// rounding can bridge (a few ulps of the squared distances, which a margin
// of sqrt(ulp), about 1/4000 of the size, already covers) and far more than
// the rounding of the test here: a sphere culled here is one that each
// lane's own test, in single precision, finds missed, so culling it changes
// no pixel.
//
// CPU builds only: the packed trace is the CPU back-end's.
#pragma once

#include <algorithm>
#include <cmath>

#include "kernel/scene_view.h"
#include "kernel/trace.h"
#include "lanes/simd_lanes.h"

inline constexpr float kCullingMargin = 1.0f / 256.0f;

// The traced spheres as the test takes them, four at a time: in a group,
// four lanes to a sphere, one for each side of the pyramid, lane 4k + j
// pairing the group's sphere k with side j (left, right, bottom, top).
// Made once per block; only the groups that hold traced spheres are filled.
struct CameraCulling {
  static constexpr int kSpheresPerGroup = 4;
  static constexpr int kGroups = kMaxSpheres / kSpheresPerGroup;
  using Lanes = lanes::Pack<4 * kSpheresPerGroup>;
  struct Group {
    Lanes center_x, center_y, center_z;
    Lanes reach_sq;  // (radius + margin) squared
  };
  int groups;  // those that hold traced spheres
  Group group[kGroups];
  // Bit i set: sphere i lies wholly behind the eye (z > 0), out of reach
  // of every camera ray.
  SphereSet behind_eye;
  SphereSet traced;  // the traced spheres
};

inline CameraCulling camera_culling(const SceneView& scene) {
  constexpr int kPerGroup = CameraCulling::kSpheresPerGroup;
  const int count = traced_sphere_count(scene);
  // Spheres past the count repeat the last one, so a group's spare lanes
  // cull nothing that matters and read nothing undefined.
  float center_x[kMaxSpheres], center_y[kMaxSpheres], center_z[kMaxSpheres], reach_sq[kMaxSpheres];
  SphereSet behind_eye = 0;
  for (int i = 0; i < count; ++i) {
    const SphereData s = fetch_sphere(scene, i);
    const float radius = std::sqrt(s.radius_sq);
    const float distance = vec_length(s.center);  // from the eye, at the origin
    const float reach = radius + kCullingMargin * (distance + radius);
    center_x[i] = s.center.x;
    center_y[i] = s.center.y;
    center_z[i] = s.center.z;
    reach_sq[i] = reach * reach;
    if (s.center.z > reach) behind_eye |= 1u << i;
  }
  CameraCulling culling;
  culling.groups = (count + kPerGroup - 1) / kPerGroup;
  culling.behind_eye = behind_eye;
  culling.traced = first_spheres(count);
  using Lanes = CameraCulling::Lanes;
  for (int g = 0; g < culling.groups; ++g) {
    const auto of_sphere = [&](const float* values) {
      return Lanes([&](auto lane) {
        const int i = g * kPerGroup + static_cast<int>(lane) / 4;
        return values[i < count ? i : count - 1];
      });
    };
    culling.group[g] = {of_sphere(center_x), of_sphere(center_y), of_sphere(center_z), of_sphere(reach_sq)};
  }
  return culling;
}

// The spheres that a camera ray through a pixel of [x0, x1] x [y0, y1] (in
// pixels, inclusive) of a width x height frame may hit.
inline SphereSet camera_candidates(const CameraCulling& spheres, int x0, int y0, int x1, int y1, int width,
                                   int height) {
  using Lanes = CameraCulling::Lanes;
  // The camera ray's unnormalised direction is (x - width/2, y - height/2,
  // -f).  Inward normals of the sides, on which every such direction of the
  // rectangle is >= 0: left (f, 0, x0'), right (-f, 0, -x1'), bottom
  // (0, f, y0'), top (0, -f, -y1'), primes measured from the frame's centre.
  // The x and y parts are f times these signs, the same for every group.
  static const Lanes sign_x([](auto lane) { return lane % 4 == 0 ? 1.0f : (lane % 4 == 1 ? -1.0f : 0.0f); });
  static const Lanes sign_y([](auto lane) { return lane % 4 == 2 ? 1.0f : (lane % 4 == 3 ? -1.0f : 0.0f); });
  const float f = focal_length(width);
  const float sides_z[4] = {static_cast<float>(x0 - width / 2), -static_cast<float>(x1 - width / 2),
                            static_cast<float>(y0 - height / 2), -static_cast<float>(y1 - height / 2)};
  // Filled through memory: built lane by lane from the four values, GCC 12
  // emits a register-to-register vmovq that valgrind 3.19 cannot decode,
  // and instruction counts of the AVX2 build come from callgrind.
  alignas(64) float lanes_z[Lanes::size()];
  for (int lane = 0; lane < static_cast<int>(Lanes::size()); ++lane) lanes_z[lane] = sides_z[lane % 4];
  const Lanes normal_z(lanes_z, lanes::stdx::vector_aligned);
  const Lanes normal_sq = Lanes(f * f) + normal_z * normal_z;
  const Lanes f_x = Lanes(f) * sign_x;
  const Lanes f_y = Lanes(f) * sign_y;
  SphereSet candidates = 0;
  for (int g = 0; g < spheres.groups; ++g) {
    const CameraCulling::Group& group = spheres.group[g];
    const Lanes along = f_x * group.center_x + f_y * group.center_y + normal_z * group.center_z;
    // along < -reach |n|, without the square root.
    const auto outside = along < 0.0f && along * along > group.reach_sq * normal_sq;
    for (int k = 0; k < CameraCulling::kSpheresPerGroup; ++k) {
      const bool culled = outside[4 * k] || outside[4 * k + 1] || outside[4 * k + 2] || outside[4 * k + 3];
      if (!culled) candidates |= 1u << (g * CameraCulling::kSpheresPerGroup + k);
    }
  }
  return candidates & spheres.traced & ~spheres.behind_eye;
}

// Which spheres a shadow ray may meet, by the sphere its point lies on.  A
// shadow ray from a point P of sphere i heads for the light L, and the
// search counts hits on either side of L, so the ray meets only spheres
// that the line through L and P meets.  The lines through L that meet a
// sphere form a double cone about the line from L to its centre, of
// half-angle asin(radius / distance); a sphere j whose cone does not meet
// sphere i's is missed by every shadow ray from sphere i.  Both radii are
// widened by 1/256 of the distances the ray's test works with (from P to
// sphere j's centre, at most |Ci - Cj| + ri), far more than the rounding
// of P, of the ray's direction and of the test in single precision (a few
// ulps of those distances squared) can bridge, so a sphere culled here is
// one that each lane's own test finds missed.
//
// Made once per scene and light: a pair test for every two spheres.
struct ShadowCulling {
  // Bit j of may_block[i]: a shadow ray from a point of sphere i may meet
  // sphere j.  Sphere i itself is always in it: the search tests a point's
  // own sphere once a sphere numbered below it has been stored.
  SphereSet may_block[kMaxSpheres];
};

inline ShadowCulling shadow_culling(const SceneView& scene) {
  struct Cone {
    double x, y, z;  // from the light to the centre
    double distance;
  };
  const int count = traced_sphere_count(scene);
  SphereData spheres[kMaxSpheres];
  Cone cones[kMaxSpheres];
  for (int i = 0; i < count; ++i) {
    spheres[i] = fetch_sphere(scene, i);
    const double x = static_cast<double>(spheres[i].center.x) - scene.light_position.x;
    const double y = static_cast<double>(spheres[i].center.y) - scene.light_position.y;
    const double z = static_cast<double>(spheres[i].center.z) - scene.light_position.z;
    cones[i] = {x, y, z, std::sqrt(x * x + y * y + z * z)};
  }
  ShadowCulling culling;
  for (int i = 0; i < count; ++i) {
    culling.may_block[i] = 1u << i;
    const double radius_i = std::sqrt(static_cast<double>(spheres[i].radius_sq));
    for (int j = 0; j < count; ++j) {
      if (j == i) continue;
      const double radius_j = std::sqrt(static_cast<double>(spheres[j].radius_sq));
      const double dx = cones[i].x - cones[j].x, dy = cones[i].y - cones[j].y, dz = cones[i].z - cones[j].z;
      const double margin = kCullingMargin * (std::sqrt(dx * dx + dy * dy + dz * dz) + radius_i + radius_j);
      const double sin_i = (radius_i + margin) / cones[i].distance;
      const double sin_j = (radius_j + margin) / cones[j].distance;
      bool may_meet = true;
      // NaN (a radius or centre beyond float range) keeps the sphere.
      if (sin_i < 1.0 && sin_j < 1.0) {
        // The cones meet where the angle between their axes' lines is no
        // more than the sum of their half-angles: cos(angle) >= cos(sum).
        const double cos_sum = std::sqrt(1.0 - sin_i * sin_i) * std::sqrt(1.0 - sin_j * sin_j) - sin_i * sin_j;
        const double cos_axes = std::fabs(cones[i].x * cones[j].x + cones[i].y * cones[j].y + cones[i].z * cones[j].z) /
                                (cones[i].distance * cones[j].distance);
        may_meet = !(cos_sum > 0.0 && cos_axes < cos_sum);
      }
      if (may_meet) culling.may_block[i] |= 1u << j;
    }
  }
  return culling;
}

// The spheres that the shadow rays of the lanes in `wanted` may meet, each
// lane's point lying on the sphere its index names: the union of their
// rows, once per distinct index.  An index outside the table (a lane that
// stored nothing) gives every sphere.
template <class Float>
SphereSet shadow_candidates(const ShadowCulling& culling, int count, const SphereIndex<Float>& sphere,
                            const lanes::Mask<Float>& wanted) {
  SphereSet candidates = 0;
  lanes::Mask<Float> rest = wanted;
  while (lanes::any(rest)) {
    const auto next = lanes::first_set_lane(sphere, rest);
    const int i = static_cast<int>(next);
    candidates |= i >= 0 && i < count ? culling.may_block[i] : ~0u;
    rest = rest && !(sphere == next);
  }
  return candidates;
}

// Which spheres a pack of rays from anywhere may meet, by the box that holds
// their origins and the signs of their directions.  Where every ray's x
// grows (or stays), no ray reaches a sphere that lies wholly at smaller x
// than the box; likewise for the other axes and signs.  A ray from the box
// heading away from a sphere that way never comes nearer to its centre than
// radius plus margin, and the margin, 1/256 of an upper bound on the
// distance from the ray's origin to the centre, is far more than the
// single-precision test's rounding can bridge (as for the camera's).
//
// The spheres, as the test takes them, sixteen to a group.
struct ContinuationCulling {
  static constexpr int kSpheresPerGroup = 16;
  static constexpr int kGroups = (kMaxSpheres + kSpheresPerGroup - 1) / kSpheresPerGroup;
  using Lanes = lanes::Pack<kSpheresPerGroup>;
  struct Group {
    Lanes center_x, center_y, center_z, radius;
  };
  int groups;
  Group group[kGroups];
};

inline ContinuationCulling continuation_culling(const SceneView& scene) {
  constexpr int kPerGroup = ContinuationCulling::kSpheresPerGroup;
  const int count = traced_sphere_count(scene);
  float center_x[kMaxSpheres], center_y[kMaxSpheres], center_z[kMaxSpheres], radius[kMaxSpheres];
  for (int i = 0; i < count; ++i) {
    const SphereData s = fetch_sphere(scene, i);
    center_x[i] = s.center.x;
    center_y[i] = s.center.y;
    center_z[i] = s.center.z;
    radius[i] = std::sqrt(s.radius_sq);
  }
  ContinuationCulling culling;
  culling.groups = (count + kPerGroup - 1) / kPerGroup;
  for (int g = 0; g < culling.groups; ++g) {
    // Lanes past the count repeat the last sphere; their bits are never read.
    const auto of_sphere = [&](const float* values) {
      alignas(64) float lanes[kPerGroup];
      for (int k = 0; k < kPerGroup; ++k) lanes[k] = values[std::min(g * kPerGroup + k, count - 1)];
      return ContinuationCulling::Lanes(lanes, lanes::stdx::vector_aligned);
    };
    culling.group[g] = {of_sphere(center_x), of_sphere(center_y), of_sphere(center_z), of_sphere(radius)};
  }
  return culling;
}

template <class Float>
SphereSet continuation_candidates(const ContinuationCulling& spheres, const RayT<Float>& ray,
                                  const lanes::Mask<Float>& wanted) {
  using Lanes = ContinuationCulling::Lanes;
  // A ray with a NaN in it stores nothing (every test of it fails), so it
  // takes no part in the bounds.
  const lanes::Mask<Float> bounded = wanted && ray.origin.x == ray.origin.x && ray.origin.y == ray.origin.y &&
                                     ray.origin.z == ray.origin.z && ray.direction.x == ray.direction.x &&
                                     ray.direction.y == ray.direction.y && ray.direction.z == ray.direction.z;
  if (!lanes::any(bounded)) return 0u;
  const float low[3] = {lanes::lowest(ray.origin.x, bounded), lanes::lowest(ray.origin.y, bounded),
                        lanes::lowest(ray.origin.z, bounded)};
  const float high[3] = {lanes::highest(ray.origin.x, bounded), lanes::highest(ray.origin.y, bounded),
                         lanes::highest(ray.origin.z, bounded)};
  const bool rising[3] = {lanes::lowest(ray.direction.x, bounded) >= 0.0f,
                          lanes::lowest(ray.direction.y, bounded) >= 0.0f,
                          lanes::lowest(ray.direction.z, bounded) >= 0.0f};
  const bool falling[3] = {lanes::highest(ray.direction.x, bounded) <= 0.0f,
                           lanes::highest(ray.direction.y, bounded) <= 0.0f,
                           lanes::highest(ray.direction.z, bounded) <= 0.0f};
  if (!(rising[0] || rising[1] || rising[2] || falling[0] || falling[1] || falling[2])) return ~0u;
  // The box's middle and half its size; the distance from any origin in it
  // to a centre is at most the sum of their coordinate distances.
  const Lanes middle[3] = {Lanes(0.5f * low[0] + 0.5f * high[0]), Lanes(0.5f * low[1] + 0.5f * high[1]),
                           Lanes(0.5f * low[2] + 0.5f * high[2])};
  const float half_size = 0.5f * ((high[0] - low[0]) + (high[1] - low[1]) + (high[2] - low[2]));
  SphereSet candidates = 0;
  for (int g = 0; g < spheres.groups; ++g) {
    const ContinuationCulling::Group& group = spheres.group[g];
    const Lanes* center[3] = {&group.center_x, &group.center_y, &group.center_z};
    const Lanes reach =
        group.radius + kCullingMargin * (lanes::stdx::abs(group.center_x - middle[0]) +
                                         lanes::stdx::abs(group.center_y - middle[1]) +
                                         lanes::stdx::abs(group.center_z - middle[2]) + Lanes(half_size));
    ContinuationCulling::Lanes::mask_type culled(false);
    for (int axis = 0; axis < 3; ++axis) {
      if (rising[axis]) culled = culled || *center[axis] + reach < low[axis];
      if (falling[axis]) culled = culled || *center[axis] - reach > high[axis];
    }
    for (int k = 0; k < ContinuationCulling::kSpheresPerGroup; ++k) {
      if (!culled[k]) candidates |= 1u << (g * ContinuationCulling::kSpheresPerGroup + k);
    }
  }
  return candidates;
}

// The packed trace's culling for the searches after the camera's.
struct PackCulling {
  const ShadowCulling& shadows;
  const ContinuationCulling& continuations;
  int count;

  template <class Float>
  SphereSet shadow_candidates(const HitRecordT<Float>& hit, const lanes::Mask<Float>& active) const {
    return ::shadow_candidates<Float>(shadows, count, hit.sphere_index, active);
  }
  template <class Float>
  SphereSet continuation_candidates(const RayT<Float>& ray, const lanes::Mask<Float>& active) const {
    return ::continuation_candidates<Float>(continuations, ray, active);
  }
};
