// The per-pixel trace: camera ray, nearest sphere, one shadow ray, point-light
// shading, and up to three reflected or refracted continuations, summed with
// shrinking weights and packed into one pixel word.
//
// Written once over the lane type: `trace_pixel<float>` is what one CUDA
// thread computes, and the packed instantiation traces a pack of pixels in
// the CPU back-end.  Per-lane branches are masks; the bounce loop runs while
// any lane is still active, and a lane that has stopped keeps its sum.
#pragma once

#include <bit>
#include <cstdint>

#include "common/host_device.h"
#include "lanes/lanes.h"
#include "kernel/scene_view.h"
#include "scene/records.h"
#include "shading/shading.h"

// A set of spheres of the store: bit i set means sphere i is in it.
using SphereSet = unsigned int;
static_assert(kMaxSpheres <= 32, "a SphereSet holds one bit per sphere of the store");

// Spheres 0 to count - 1.
VELMORA_HOST_DEVICE constexpr SphereSet first_spheres(int count) {
  return count >= 32 ? ~0u : (1u << count) - 1u;
}

// Fixed values the kernel is built with.
inline constexpr float kNoHit = 1e38f;               // start of every nearest-hit search
inline constexpr float kMaterialThreshold = 1e-12f;  // reflection or transparency above it counts
inline constexpr float kShadowTolerance = 1e-12f;    // squared distance an occluder may lie beyond P
inline constexpr float kRefractOffset = 1e-5f;       // refracted origin, along the direction
inline constexpr int kLastRay = 3;                   // camera ray plus three continuations

// Centre, radius squared and material byte of a sphere in every lane, or
// of a per-lane sphere index.
template <class Float>
struct SphereLanes {
  Vec4T<Float> center;
  Float radius_sq;
  MaterialIndex<Float> material;
};

template <class Float>
VELMORA_HOST_DEVICE SphereLanes<Float> sphere_lanes(const SphereData& sphere) {
  return SphereLanes<Float>{broadcast<Float>(sphere.center), Float(sphere.radius_sq),
                            MaterialIndex<Float>(sphere.material)};
}

template <class Float>
VELMORA_HOST_DEVICE SphereLanes<Float> select(const lanes::Mask<Float>& mask,
                                              const SphereLanes<Float>& if_true,
                                              const SphereLanes<Float>& if_false) {
  return SphereLanes<Float>{select<Float>(mask, if_true.center, if_false.center),
                            lanes::select(mask, if_true.radius_sq, if_false.radius_sq),
                            lanes::select(mask, if_true.material, if_false.material)};
}

// The spheres the search tests, the scene's `count`, read from the store
// once per pixel (or pack of pixels) rather than once per search, as the
// lanes use them: a pixel searches up to seven times (four rays and three
// shadow rays), each time testing every sphere, and a packed search then
// takes each value from memory instead of spreading it across the lanes
// again.  With them come the search's two terms that depend only on the
// ray's origin, made once for the eye, where every camera ray starts:
// eye - centre, and its squared length less the radius squared.  Entries
// from `count` on are never read.
//
// kRoom is how many spheres the table holds: the store's 32, or
// kFewSpheres for a scene known to have no more, the built-in one among
// them.  The entries
// are plain members made whole with the table, once per block: the store's
// 32 cost the four-sphere scene about a sixth of its frame at 16 lanes, and
// leaving the unused ones unmade (through a union) slowed every search at
// 8 lanes by a fifth.
inline constexpr int kFewSpheres = 4;

template <class Float, int kRoom = kMaxSpheres>
struct TracedSpheres {
  int count;
  SphereLanes<Float> sphere[kRoom];
  Vec4T<Float> eye_offset[kRoom];
  Float eye_c[kRoom];

  SphereSet all_spheres;  // spheres 0 to count - 1, made with the table

  VELMORA_HOST_DEVICE SphereSet all() const { return all_spheres; }
};

// The scene's spheres, as many as the table has room for.
template <class Float = float, int kRoom = kMaxSpheres>
VELMORA_HOST_DEVICE TracedSpheres<Float, kRoom> traced_spheres(const SceneView& scene) {
  TracedSpheres<Float, kRoom> traced;
  const int count = traced_sphere_count(scene);
  traced.count = count < kRoom ? count : kRoom;
  traced.all_spheres = first_spheres(traced.count);
  for (int i = 0; i < traced.count; ++i) {
    const SphereData sphere = fetch_sphere(scene, i);
    traced.sphere[i] = sphere_lanes<Float>(sphere);
    // The same operations the search performs on a ray from the eye, so the
    // same bits.
    const Vec4 eye_offset = vec_sub(Vec4(0.0f, 0.0f, 0.0f), sphere.center);
    traced.eye_offset[i] = broadcast<Float>(eye_offset);
    traced.eye_c[i] = Float(vec_dot(eye_offset, eye_offset) - sphere.radius_sq);
  }
  if constexpr (kRoom <= kFewSpheres) {
    // The rest of a small table holds spheres that no ray can hit (every
    // test of a NaN centre fails), so that its search may test every entry
    // without asking which are the scene's.
    const float nan = lanes::float_from_bits(0x7fc00000u);
    for (int i = traced.count; i < kRoom; ++i) {
      traced.sphere[i] = sphere_lanes<Float>(SphereData{Vec4(nan, nan, nan), nan, 0});
      traced.eye_offset[i] = broadcast<Float>(Vec4(nan, nan, nan));
      traced.eye_c[i] = Float(nan);
    }
  }
  return traced;
}

// The sphere each lane's index names, for the lanes of `wanted` (the others
// get one of those), read once per distinct index.  An index outside the
// traced spheres is clamped to them (a search that stored nothing leaves
// an index of -1 in the lanes that are not wanted).
template <class Float, int kRoom>
VELMORA_HOST_DEVICE SphereLanes<Float> sphere_lanes(const TracedSpheres<Float, kRoom>& traced,
                                                    const SphereIndex<Float>& index,
                                                    const lanes::Mask<Float>& wanted) {
  return lanes::read_once_per_index(
      index, wanted,
      [&](int i) { return traced.sphere[i < 0 ? 0 : (i >= traced.count ? traced.count - 1 : i)]; },
      [](const lanes::Mask<Float>& here, const SphereLanes<Float>& a, const SphereLanes<Float>& b) {
        return select<Float>(here, a, b);
      });
}

// Nearest of the traced spheres along `ray`; stores it in `record` and returns
// where a hit was stored.  A sphere is missed when the discriminant is
// negative, its centre lies behind the origin (b > 0) or the origin lies
// inside it (c < 0).  The sphere named by record.sphere_index is skipped:
// the previous ray's sphere, unless a lower-index sphere was stored first.
//
// The sphere loop keeps the nearest root t = -(b + sqrt(disc)), the
// sphere's index and, where the surface is wanted, the sphere's centre and
// material, chosen as it stores, so that nothing is read back by index
// after the loop, which would copy the sphere through memory on every
// search.  The hit
// point and normal are made once, after it, from the same values as a store
// inside the loop would have used, so they have the same bits.  A search
// whose normal and material nobody reads (the shadow ray's) skips them.
// Where the search returns false the ray has ended and nothing reads the
// record again, so point, normal and material are left undefined there.
//
// A pack tests only the spheres in `candidates`: its caller has shown that
// its rays miss the others (kernel/culling.h), or every traced sphere
// when it names none.  One lane tests them all, as a CUDA thread does.  kFromEye says that every ray starts at
// the eye, as camera rays do, so the terms that depend on the origin alone
// are the sphere's eye terms.
template <class Float, bool kWithSurface = true, bool kFromEye = false, int kRoom>
VELMORA_HOST_DEVICE lanes::Mask<Float> find_nearest_hit(const TracedSpheres<Float, kRoom>& traced,
                                                        const RayT<Float>& ray,
                                                        HitRecordT<Float>& record,
                                                        SphereSet candidates = ~0u) {
  using Mask = lanes::Mask<Float>;
  Float t_min = Float(kNoHit);
  // The stored sphere's centre and material, chosen as the search goes.
  Vec4T<Float> center;
  MaterialIndex<Float> material = MaterialIndex<Float>(0);
  const auto test_sphere = [&](int i) {
    const SphereIndex<Float> index = SphereIndex<Float>(i);
    // Rays that leave a sphere skip it in every lane until one of them
    // stores a sphere numbered below it: then nothing of it is needed.
    const lanes::Mask<Float> skipped = record.sphere_index == index;
    if (lanes::all(skipped)) return;
    const SphereLanes<Float>& sphere = traced.sphere[i];
    const Vec4T<Float> oc = kFromEye ? traced.eye_offset[i] : vec_sub(ray.origin, sphere.center);
    const Float b = vec_dot(oc, ray.direction);
    // About half the time every lane has the sphere behind it or skips it,
    // and the rest of the test is not needed.
    const Mask behind = b > 0.0f || skipped;
    if (lanes::all(behind)) return;

    const Float c = kFromEye ? traced.eye_c[i] : vec_dot(oc, oc) - sphere.radius_sq;
    const Float disc = b * b - c;
    // NaN fails these tests and is stopped by t < t_min below.
    const Mask missed = behind || disc < 0.0f || c < 0.0f;
    if (lanes::all(missed)) return;

    const Float t = -(b + lanes::sqrt(disc));  // the nearer root
    const Mask store = !missed && t < t_min;
    if (!lanes::any(store)) return;

    record.sphere_index = lanes::select(store, index, record.sphere_index);
    t_min = lanes::select(store, t, t_min);
    if constexpr (kWithSurface) {
      center.x = lanes::select(store, sphere.center.x, center.x);
      center.y = lanes::select(store, sphere.center.y, center.y);
      center.z = lanes::select(store, sphere.center.z, center.z);
      material = lanes::select(store, sphere.material, material);
    }
  };
  if constexpr (lanes::LaneTypes<Float>::width == 1) {
    VELMORA_ROLLED_LOOP
    for (int i = 0; i < traced.count; ++i) test_sphere(i);
  } else if (kRoom <= kFewSpheres) {
    // A small table: each entry in turn, unrolled, those past the count
    // being spheres that no ray hits.
    VELMORA_UNROLLED_LOOP(4)
    for (int i = 0; i < kRoom; ++i) {
      if ((candidates >> i & 1u) != 0) test_sphere(i);
    }
  } else {
    // The candidates in index order, as one lane takes them all.
    for (SphereSet left = candidates & traced.all(); left != 0; left &= left - 1) test_sphere(std::countr_zero(left));
  }
  // A stored t is below kNoHit, so the lanes that stored are those whose
  // t_min moved.
  const Mask stored = !(t_min == kNoHit);
  if (lanes::any(stored)) {
    // -t_min is the stored b + sqrt(disc), bit for bit.
    record.point = vec_sub(ray.origin, vec_scale(ray.direction, -t_min));
    if constexpr (kWithSurface) {
      record.normal = vec_sub(record.point, center);
      vec_normalize(record.normal);
      record.material = material;
    }
    record.hit = record.hit || stored;
  }
  return stored;
}

// The nearest hit of a camera ray, which starts at the eye.
template <class Float, int kRoom>
VELMORA_HOST_DEVICE lanes::Mask<Float> find_camera_hit(const TracedSpheres<Float, kRoom>& traced, const RayT<Float>& ray,
                                                       HitRecordT<Float>& record,
                                                       SphereSet candidates = ~0u) {
  return find_nearest_hit<Float, /*kWithSurface=*/true, /*kFromEye=*/true>(traced, ray, record, candidates);
}

// Squared distance, the x, y and z squares summed in that order.
template <class Float>
VELMORA_HOST_DEVICE Float squared_distance(const Vec4T<Float>& a, const Vec4T<Float>& b) {
  const Float dx = a.x - b.x;
  const Float dy = a.y - b.y;
  const Float dz = a.z - b.z;
  return dx * dx + dy * dy + dz * dz;
}

// Whether the point P, on the sphere that trace_hit names, does not see the
// light at L, along `to_light` (path_to_light(P, L)), testing the spheres
// in `candidates` (those the caller has not shown every shadow ray to miss).  The test compares
// distances from the light: any occluder whose hit point is no farther from
// the light than P counts, wherever it lies.  The shadow ray's record
// starts afresh with trace_hit's sphere_index, so it skips the sphere P
// lies on; nothing else of it outlives the search.
template <class Float, int kRoom>
VELMORA_HOST_DEVICE lanes::Mask<Float> in_shadow(const TracedSpheres<Float, kRoom>& traced, const Vec4T<Float>& P,
                                                 const Vec4T<Float>& L, const LightPath<Float>& to_light,
                                                 const HitRecordT<Float>& trace_hit, SphereSet candidates = ~0u) {
  HitRecordT<Float> shadow_hit;
  shadow_hit.sphere_index = trace_hit.sphere_index;
  RayT<Float> shadow_ray;
  shadow_ray.origin = P;
  shadow_ray.direction = to_light.direction;
  const lanes::Mask<Float> blocked =
      find_nearest_hit<Float, /*kWithSurface=*/false>(traced, shadow_ray, shadow_hit, candidates);
  // Most packs have no shadow ray blocked at all: the distances are then
  // not needed.
  if (!lanes::any(blocked)) return blocked;
  return blocked &&
         squared_distance(P, L) + kShadowTolerance >= squared_distance(shadow_hit.point, L);
}

// The ray that continues from P when direction D meets a surface of normal N
// with index ratio eta.  No guard for total internal reflection: a negative
// k makes the direction NaN, and the next search then ends the ray.
template <class Float>
VELMORA_HOST_DEVICE RayT<Float> refract_ray(const Vec4T<Float>& P, const Vec4T<Float>& D,
                                            const Vec4T<Float>& N, const Float& eta) {
  const Float cosi = vec_dot(D, N);
  const Float k = 1.0f - eta * eta * (1.0f - cosi * cosi);
  Vec4T<Float> T = vec_add(vec_scale(D, eta), vec_scale(N, -(eta * cosi) - lanes::sqrt(k)));
  vec_normalize(T);
  RayT<Float> ray;
  ray.origin = vec_add(P, vec_scale(T, Float(kRefractOffset)));
  ray.direction = T;
  return ray;
}

// Pixel word: red in bits 0-7, green 8-15, blue 16-23, alpha 255.  A channel
// scales by 255 and truncates; NaN and negatives give 0, and a channel at or
// above 1.0 saturates at 255 rather than wrapping around.
template <class Float>
VELMORA_HOST_DEVICE lanes::UInt<Float> channel_byte(const Float& channel) {
  Float v = channel * 255.0f;
  v = lanes::select(v >= 0.0f, v, Float(0.0f));  // NaN fails the test too
  v = lanes::min(v, Float(255.0f));
  return lanes::truncate_to_uint(v);
}

template <class Float>
VELMORA_HOST_DEVICE lanes::UInt<Float> pack_pixel(const Vec4T<Float>& color_sum) {
  using UInt = lanes::UInt<Float>;
  return channel_byte(color_sum.x) | (channel_byte(color_sum.y) << 8) |
         (channel_byte(color_sum.z) << 16) | UInt(0xff000000u);
}

// The transparent continuation: refract into the sphere just hit, then move
// the ray once more on the same sphere, taking the root with the minus sign
// (for an origin inside the sphere that is the entry point again, up to
// rounding) and refracting there with the unnormalised N' = E - C.  The next
// ray thus starts just inside the sphere near the entry point; the search
// never hits a sphere containing its origin, and skips this one anyway.
// Only the lanes of `wanted`, which hit a sphere, are moved: the others'
// rays are never read.
template <class Float, int kRoom>
VELMORA_HOST_DEVICE RayT<Float> transparent_continuation(const TracedSpheres<Float, kRoom>& traced,
                                                         const RayT<Float>& ray,
                                                         const HitRecordT<Float>& trace_hit,
                                                         const Float& eta, const lanes::Mask<Float>& wanted) {
  RayT<Float> next = refract_ray(trace_hit.point, ray.direction, trace_hit.normal, eta);
  if (lanes::any(wanted)) {
    const SphereLanes<Float> sphere = sphere_lanes<Float>(traced, trace_hit.sphere_index, wanted);
    const Vec4T<Float> O = next.origin;
    const Vec4T<Float> T = next.direction;
    const Vec4T<Float> oc = vec_sub(O, sphere.center);
    const Float b = vec_dot(oc, T);
    const Float c = vec_dot(oc, oc) - sphere.radius_sq;
    const Float disc = b * b - c;
    // Where the discriminant is negative (or NaN) there is no root; the
    // ray is then refracted again where it stands (t = 0).
    const Float t = lanes::select(disc >= 0.0f, -(b + lanes::sqrt(disc)), Float(0.0f));
    const Vec4T<Float> E = vec_add(O, vec_scale(T, t));
    const Vec4T<Float> normal = vec_sub(E, sphere.center);
    const RayT<Float> moved = refract_ray(E, T, normal, eta);
    next.origin = select<Float>(wanted, moved.origin, next.origin);
    next.direction = select<Float>(wanted, moved.direction, next.direction);
  }
  return next;
}

// Which spheres the searches after the camera's may skip: none, as a CUDA
// thread and the scalar trace test them all.  The packed trace's culling
// (culling.h) answers the same two questions for a pack: the spheres that
// the shadow rays from its hits may meet, and those its next rays may meet.
struct TestEverySphere {
  template <class Float>
  VELMORA_HOST_DEVICE SphereSet shadow_candidates(const HitRecordT<Float>&, const lanes::Mask<Float>&) const {
    return ~0u;
  }
  template <class Float>
  VELMORA_HOST_DEVICE SphereSet continuation_candidates(const RayT<Float>&, const lanes::Mask<Float>&) const {
    return ~0u;
  }
};

// One bounce, step by step:
//   find_nearest_hit   the ray's nearest sphere
//   in_shadow          whether the hit sees the light
//   hit_color          its colour, before the ray's weight
//   continue_ray       the reflected or refracted ray that follows

// The colour a hit adds before weighting: the point light's shading where
// `lit`; a point in shadow gets no light at all, not even the ambient term.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> hit_color(const HitRecordT<Float>& hit,
                                           const LightPath<Float>& to_light,
                                           const MaterialLanes<Float>& m,
                                           const lanes::Mask<Float>& lit) {
  Vec4T<Float> color(Float(0.0f), Float(0.0f), Float(0.0f));
  if (lanes::any(lit)) color = select<Float>(lit, shade_point_light(hit, to_light, m), color);
  return color;
}

// Where `active`, turns `ray` into the ray that follows the hit and scales
// its weight; returns the lanes that go on.  A surface that both reflects
// and transmits only reflects; one that does neither ends the ray.
template <class Float, int kRoom>
VELMORA_HOST_DEVICE lanes::Mask<Float> continue_ray(const TracedSpheres<Float, kRoom>& traced, RayT<Float>& ray,
                                                    Float& weight,
                                                    const HitRecordT<Float>& trace_hit,
                                                    const MaterialLanes<Float>& m,
                                                    const lanes::Mask<Float>& active) {
  using Mask = lanes::Mask<Float>;
  const Mask reflects = active && m.reflection > kMaterialThreshold;
  const Mask transmits = active && !reflects && m.transparency > kMaterialThreshold;
  if (lanes::any(reflects)) {
    weight = lanes::select(reflects, weight * m.reflection, weight);
    const Vec4T<Float> direction = vec_reflect(ray.direction, trace_hit.normal);
    ray.origin = select<Float>(reflects, trace_hit.point, ray.origin);
    ray.direction = select<Float>(reflects, direction, ray.direction);
  }
  if (lanes::any(transmits)) {
    const Float eta = 1.0f / m.refraction_index;
    const RayT<Float> next = transparent_continuation(traced, ray, trace_hit, eta, transmits);
    // Each transparent continuation takes the transparency twice.
    weight = lanes::select(transmits, weight * m.transparency * m.transparency, weight);
    ray.origin = select<Float>(transmits, next.origin, ray.origin);
    ray.direction = select<Float>(transmits, next.direction, ray.direction);
  }
  return reflects || transmits;
}

// The state one pack of rays carries from stage to stage of a bounce.
template <class Float>
struct PackState {
  RayT<Float> ray;
  HitRecordT<Float> hit;
  Vec4T<Float> color_sum = Vec4T<Float>(Float(0.0f), Float(0.0f), Float(0.0f));
  Float weight = Float(1.0f);
  lanes::Mask<Float> active = lanes::Mask<Float>(true);
  bool live = true;  // whether any lane is active
};

// The colour words of kPacks packs of pixels (pixel x[p], y[p] of a width x
// height frame in lane order): the steps of a bounce, bounce after bounce,
// while any lane's ray goes on.  Each bounce runs as two short loops over
// the packs, the nearest-hit search and then the rest, so that each keeps
// only its own values in registers, and consecutive packs, which do not
// depend on each other, overlap in the core.  A pack whose rays have all
// ended drops out of the loops.  `traced` are the scene's, read by the
// caller, which may trace many pixels with them; the camera rays test only
// `camera_spheres`, and the shadow and continuation rays the spheres that
// `culling` names.
//
// With one pack it is the trace of one pixel, or of one pack, the steps
// of each bounce in turn.
template <class Float, int kPacks, int kRoom, class Culling = TestEverySphere>
VELMORA_HOST_DEVICE void trace_packs(const SceneView& scene, const TracedSpheres<Float, kRoom>& traced,
                                     const lanes::Int<Float>* x, const lanes::Int<Float>* y, int width,
                                     int height, SphereSet camera_spheres, const Culling& culling,
                                     lanes::UInt<Float>* words) {
  using Mask = lanes::Mask<Float>;
  PackState<Float> packs[kPacks];
  const Vec4T<Float> light = broadcast<Float>(scene.light_position);
  for (int p = 0; p < kPacks; ++p) packs[p].ray = primary_ray<Float>(x[p], y[p], width, height);

  for (int depth = 0;; ++depth) {
    bool any_live = false;
    for (int p = 0; p < kPacks; ++p) {
      PackState<Float>& pack = packs[p];
      if (!pack.live) continue;
      pack.active =
          pack.active && (depth == 0 ? find_camera_hit(traced, pack.ray, pack.hit, camera_spheres)
                                     : find_nearest_hit(traced, pack.ray, pack.hit,
                                                        culling.continuation_candidates(pack.ray, pack.active)));
      pack.live = lanes::any(pack.active);
      any_live = any_live || pack.live;
    }
    if (!any_live) break;

    // The rest of the bounce in one loop: the shadow test, the shading and
    // the continuation of each pack share its hit, which stays in registers
    // from one step to the next instead of going through memory between a
    // loop of shadow tests and a loop of the rest.
    for (int p = 0; p < kPacks; ++p) {
      PackState<Float>& pack = packs[p];
      if (!pack.live) continue;
      const LightPath<Float> to_light = path_to_light(pack.hit.point, light);
      const Mask shadowed = in_shadow(traced, pack.hit.point, light, to_light, pack.hit,
                                      culling.shadow_candidates(pack.hit, pack.active));
      const MaterialLanes<Float> m = load_material<Float>(scene.materials, pack.hit.material);
      const Vec4T<Float> color = hit_color(pack.hit, to_light, m, pack.active && !shadowed);
      pack.color_sum =
          select<Float>(pack.active, vec_add(pack.color_sum, vec_scale(color, pack.weight)), pack.color_sum);
      if (depth < kLastRay) pack.active = continue_ray(traced, pack.ray, pack.weight, pack.hit, m, pack.active);
    }
    if (depth == kLastRay) break;
  }
  for (int p = 0; p < kPacks; ++p) words[p] = pack_pixel(packs[p].color_sum);
}

// The colour word of pixel (x, y) of a width x height frame, or of a pack
// of pixels.
template <class Float, int kRoom>
VELMORA_HOST_DEVICE lanes::UInt<Float> trace_pixel(const SceneView& scene, const TracedSpheres<Float, kRoom>& traced,
                                                   lanes::Int<Float> x, lanes::Int<Float> y, int width,
                                                   int height) {
  lanes::UInt<Float> word;
  trace_packs<Float, 1>(scene, traced, &x, &y, width, height, traced.all(), TestEverySphere{}, &word);
  return word;
}

template <class Float>
VELMORA_HOST_DEVICE lanes::UInt<Float> trace_pixel(const SceneView& scene, lanes::Int<Float> x,
                                                   lanes::Int<Float> y, int width, int height) {
  return trace_pixel<Float>(scene, traced_spheres<Float>(scene), x, y, width, height);
}
