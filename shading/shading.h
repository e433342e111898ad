// Vector math, camera rays and point-light shading: one definition for host
// code, the CUDA kernel and the packed CPU trace.
//
// Every function is a template over the lane type `Float` (lanes/lanes.h).
// The vector operations compute on x, y, z only; each vector they make has
// w = 1, and the in-place ones leave w as it was.  The order of every sum is
// fixed here, and the CPU build never contracts a multiply and an add, so the
// scalar and packed instantiations give the same bits.
#pragma once

#include <type_traits>

#include "common/host_device.h"
#include "lanes/lanes.h"
#include "scene/records.h"
#include "shading/rays.h"

// ---------------------------------------------------------------- vectors

// a.x*b.x + (a.y*b.y + a.z*b.z): the z product joins the y product first.
template <class Float>
VELMORA_HOST_DEVICE Float vec_dot(const Vec4T<Float>& a, const Vec4T<Float>& b) {
  return a.x * b.x + (a.y * b.y + a.z * b.z);
}

template <class Float>
VELMORA_HOST_DEVICE Float vec_length(const Vec4T<Float>& v) {
  return lanes::sqrt(vec_dot(v, v));
}

// The scalar `s` takes no part in deducing Float (std::type_identity_t), so
// a plain float divides or scales a vector of any lane type.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float>& vec_div_assign(Vec4T<Float>& v, std::type_identity_t<Float> s) {
  v.x = v.x / s;
  v.y = v.y / s;
  v.z = v.z / s;
  return v;
}

// No guard for a zero length: a zero vector becomes NaN, which the trace
// lets flow until a comparison quietly ends the ray.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float>& vec_normalize(Vec4T<Float>& v) {
  return vec_div_assign(v, vec_length(v));
}

template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float>& vec_assign(Vec4T<Float>& dst, const Vec4T<Float>& src) {
  dst.x = src.x;
  dst.y = src.y;
  dst.z = src.z;
  return dst;
}

template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> vec_sub(const Vec4T<Float>& a, const Vec4T<Float>& b) {
  return Vec4T<Float>(a.x - b.x, a.y - b.y, a.z - b.z);
}

template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> vec_add(const Vec4T<Float>& a, const Vec4T<Float>& b) {
  return Vec4T<Float>(a.x + b.x, a.y + b.y, a.z + b.z);
}

template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> vec_scale(const Vec4T<Float>& v, std::type_identity_t<Float> s) {
  return Vec4T<Float>(v.x * s, v.y * s, v.z * s);
}

// i - 2(i.n)n, formed as (n*d)*(-2) + i, before it is brought to unit
// length; n is not normalised.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> vec_reflect_unnormalized(const Vec4T<Float>& i, const Vec4T<Float>& n) {
  const Float d = vec_dot(i, n);
  const Vec4T<Float> temp = vec_scale(vec_scale(n, d), Float(-2.0f));
  return vec_add(temp, i);
}

// i - 2(i.n)n at unit length.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> vec_reflect(const Vec4T<Float>& i, const Vec4T<Float>& n) {
  Vec4T<Float> result = vec_reflect_unnormalized(i, n);
  vec_normalize(result);
  return result;
}

// The same vector in every lane.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> broadcast(const Vec4& v) {
  return Vec4T<Float>(Float(v.x), Float(v.y), Float(v.z), Float(v.w));
}

// Lane by lane: `if_true` where the mask is set, `if_false` elsewhere; like
// every vector made here, the result has w = 1.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> select(const lanes::Mask<Float>& mask, const Vec4T<Float>& if_true,
                                        const Vec4T<Float>& if_false) {
  return Vec4T<Float>(lanes::select(mask, if_true.x, if_false.x),
                      lanes::select(mask, if_true.y, if_false.y),
                      lanes::select(mask, if_true.z, if_false.z));
}

// ------------------------------------------------------------------- rays

// Horizontal field of view, pi/4 rounded to single precision.
inline constexpr float kFieldOfView = 0.7853982f;

// How far from the eye the image plane lies, in pixels, for a frame
// `width` pixels across: the camera ray through pixel (x, y) heads along
// (x - width/2, y - height/2, -focal_length(width)).
VELMORA_HOST_DEVICE float focal_length(int width) {
  return (static_cast<float>(width) / 2.0f) / lanes::tan(kFieldOfView / 2.0f);
}

// The ray from the eye (the origin, looking down -z) through pixel (x, y) of
// a width x height frame.  Column width/2 and row height/2 look straight
// ahead; there is no half-pixel offset.
template <class Float>
VELMORA_HOST_DEVICE RayT<Float> primary_ray(lanes::Int<Float> x, lanes::Int<Float> y, int width,
                                            int height) {
  RayT<Float> ray;
  ray.origin.x = Float(0.0f);
  ray.origin.y = Float(0.0f);
  ray.origin.z = Float(0.0f);
  ray.direction.x = lanes::to_float(x - width / 2);
  ray.direction.y = lanes::to_float(y - height / 2);
  ray.direction.z = Float(-focal_length(width));
  ray.direction.w = Float(1.0f);
  vec_normalize(ray.direction);
  return ray;
}

// The way from a point to a point light: the unit direction and the
// distance.  A hit's shadow ray heads along it and its shading lights by
// it, so the trace makes it once per hit for both.
template <class Float>
struct LightPath {
  Vec4T<Float> direction;
  Float distance;
};

template <class Float>
VELMORA_HOST_DEVICE LightPath<Float> path_to_light(const Vec4T<Float>& point, const Vec4T<Float>& light) {
  LightPath<Float> path;
  path.direction = vec_sub(light, point);
  path.distance = vec_length(path.direction);
  vec_div_assign(path.direction, path.distance);
  return path;
}

// The ray that starts exactly at `from` and heads toward `to`.
template <class Float>
VELMORA_HOST_DEVICE RayT<Float> ray_between(const Vec4T<Float>& from, const Vec4T<Float>& to) {
  RayT<Float> ray;
  vec_assign(ray.origin, from);
  vec_assign(ray.direction, path_to_light(from, to).direction);
  return ray;
}

// ------------------------------------------------------------ materials

// Where the specular term cannot change the sum (A + D) + S, so that the
// power need not be evaluated (it is the single most costly step of the
// shading).  Any float x >= 1/16 lies at least 2^-29 from its neighbours'
// midpoints, so x + S rounds back to x exactly whenever |S| < 2^-29: the
// factor then has the same bits either way.  With an integer exponent of at
// least 80 and |base| at most the material's cutoff, |S| = |base^e * specular|
// stays below 2^-30 (a power off by a few ulps keeps well inside that):
//   |specular| <= 1:     cutoff 0.77, as 0.77^80 < 2^-30;
//   |specular| <= 2048:  cutoff 0.7,  as 0.7^80 * 2048 < 2^-30.
// An integer exponent is required because a negative base with a fractional
// exponent gives NaN, which must still reach the sum.  These are the
// material's own terms, so each material's cutoff is made once, as it is
// read, and a hit tests its base and A + D against it.
VELMORA_HOST_DEVICE float highlight_cutoff(float exponent, float specular) {
  const bool exponent_large = exponent >= 80.0f && exponent <= 16777216.0f && lanes::is_integer(exponent);
  if (!exponent_large) return -1.0f;
  if (specular >= -1.0f && specular <= 1.0f) return 0.77f;
  if (specular >= -2048.0f && specular <= 2048.0f) return 0.7f;
  return -1.0f;
}

// The squared cosine below which base_surely_small vouches for the cutoff:
// 0.03 under it leaves far more room than the rounding of the normalised
// vectors and their dot product (a few ulps) could take.  None (-1) where
// there is no cutoff.
VELMORA_HOST_DEVICE float surely_below_cutoff(float cutoff) {
  return cutoff >= 0.0f ? (cutoff - 0.03f) * (cutoff - 0.03f) : -1.0f;
}

// The fields of one material per lane, read once per hit.
template <class Float>
struct MaterialLanes {
  Vec4T<Float> color;
  Float ambient;
  Float diffuse;
  Float specular;
  Float shininess;
  Float reflection;
  Float transparency;
  Float refraction_index;
  Float highlight_cutoff;   // highlight_cutoff(shininess, specular)
  Float highlight_surely;   // surely_below_cutoff(highlight_cutoff)
};

// One material in every lane.
template <class Float>
VELMORA_HOST_DEVICE MaterialLanes<Float> material_lanes(const Material& r) {
  MaterialLanes<Float> m;
  m.color = Vec4T<Float>(Float(r.color.x), Float(r.color.y), Float(r.color.z));
  m.ambient = Float(r.ambient);
  m.diffuse = Float(r.diffuse);
  m.specular = Float(r.specular);
  m.shininess = Float(r.shininess);
  m.reflection = Float(r.reflection);
  m.transparency = Float(r.transparency);
  m.refraction_index = Float(r.refraction_index);
  const float cutoff = highlight_cutoff(r.shininess, r.specular);
  m.highlight_cutoff = Float(cutoff);
  m.highlight_surely = Float(surely_below_cutoff(cutoff));
  return m;
}

template <class Float>
VELMORA_HOST_DEVICE MaterialLanes<Float> select(const lanes::Mask<Float>& mask,
                                                const MaterialLanes<Float>& if_true,
                                                const MaterialLanes<Float>& if_false) {
  MaterialLanes<Float> m;
  m.color = select<Float>(mask, if_true.color, if_false.color);
  m.ambient = lanes::select(mask, if_true.ambient, if_false.ambient);
  m.diffuse = lanes::select(mask, if_true.diffuse, if_false.diffuse);
  m.specular = lanes::select(mask, if_true.specular, if_false.specular);
  m.shininess = lanes::select(mask, if_true.shininess, if_false.shininess);
  m.reflection = lanes::select(mask, if_true.reflection, if_false.reflection);
  m.transparency = lanes::select(mask, if_true.transparency, if_false.transparency);
  m.refraction_index = lanes::select(mask, if_true.refraction_index, if_false.refraction_index);
  m.highlight_cutoff = lanes::select(mask, if_true.highlight_cutoff, if_false.highlight_cutoff);
  m.highlight_surely = lanes::select(mask, if_true.highlight_surely, if_false.highlight_surely);
  return m;
}

// Reads materials[index] for every lane, each record whole and once per
// distinct index (neighbouring pixels mostly hit the same material).  The
// index is not checked: callers keep it below the number of materials
// uploaded.
template <class Float>
VELMORA_HOST_DEVICE MaterialLanes<Float> load_material(const Material* materials,
                                                       MaterialIndex<Float> index) {
  return lanes::read_once_per_index(
      index, lanes::Mask<Float>(true), [&](int i) { return material_lanes<Float>(materials[i]); },
      [](const lanes::Mask<Float>& here, const MaterialLanes<Float>& a, const MaterialLanes<Float>& b) {
        return select<Float>(here, a, b);
      });
}

// -------------------------------------------------------------- shading

// Whole exponents up to this take the power by squaring and multiplying.
inline constexpr float kLargestSquaredExponent = 65536.0f;

VELMORA_HOST_DEVICE bool power_by_squaring(float exponent) {
  return exponent >= 0.0f && exponent <= kLargestSquaredExponent &&
         static_cast<float>(static_cast<int>(exponent)) == exponent;
}

// base^exponent in the lanes of `wanted` (the others are 0): by squaring
// where the exponent is whole, the general power elsewhere, once for each
// distinct exponent (the lanes of a pack mostly share one material).
template <class Float>
VELMORA_HOST_DEVICE Float material_power(const Float& base, const Float& exponent, const lanes::Mask<Float>& wanted) {
  Float result = Float(0.0f);
  lanes::Mask<Float> rest = wanted;
  while (lanes::any(rest)) {
    const auto first = lanes::first_set_lane(exponent, rest);
    const float e = lanes::plain_float(first);
    // A NaN exponent equals nothing: its lanes are those whose exponent is NaN.
    const lanes::Mask<Float> here = rest && (e == e ? exponent == Float(e) : !(exponent == exponent));
    const Float power =
        power_by_squaring(e) ? lanes::whole_power(base, static_cast<unsigned>(e)) : lanes::pow(base, Float(e));
    result = lanes::select(here, power, result);
    rest = rest && !here;
  }
  return result;
}

template <class Float>
VELMORA_HOST_DEVICE lanes::Mask<Float> base_small(const Float& base, const Float& cutoff) {
  return base >= -cutoff && base <= cutoff;
}

template <class Float>
VELMORA_HOST_DEVICE lanes::Mask<Float> sum_large(const Float& ambient_plus_diffuse) {
  return ambient_plus_diffuse >= 0.0625f;
}

template <class Float>
VELMORA_HOST_DEVICE lanes::Mask<Float> specular_vanishes(const Float& base, const Float& cutoff,
                                                         const Float& ambient_plus_diffuse) {
  return base_small(base, cutoff) && sum_large(ambient_plus_diffuse);
}

// Whether base_small is certain before r and the eye direction -P are
// brought to unit length, which costs a square root and three divisions
// each: (r.P)^2 <= surely |r|^2 |P|^2.  Products outside [1e-30, 1e30],
// where underflow or overflow would void the bound, NaN, and a negative
// `surely` (no cutoff) leave the question open.
template <class Float>
VELMORA_HOST_DEVICE lanes::Mask<Float> base_surely_small(const Vec4T<Float>& r, const Vec4T<Float>& P,
                                                         const Float& surely) {
  const Float rp = vec_dot(r, P);
  const Float bound = surely * (vec_dot(r, r) * vec_dot(P, P));
  return bound >= 1e-30f && bound <= 1e30f && rp * rp <= bound;
}

// Colour with which a point light lights the hit, along `to_light` from
// the hit point: ambient, diffuse and specular terms, all divided by the
// attenuation 1 + 0.05 d + 0.01 d^2, applied to the material's colour.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> shade_point_light(const HitRecordT<Float>& hit, const LightPath<Float>& to_light,
                                                   const MaterialLanes<Float>& m) {
  using Mask = lanes::Mask<Float>;
  const Vec4T<Float>& l = to_light.direction;
  const Float& d = to_light.distance;

  const Float ambient = m.ambient;
  Float diffuse = vec_dot(hit.normal, l) * m.diffuse;
  Float specular = Float(0.0f);
  // The specular term exists only where the diffuse term is positive; a NaN
  // diffuse term (a light at the hit point) counts as not positive.
  const Mask lit = diffuse > 0.0f;
  if (lanes::any(lit)) {
    // l points away from the surface, so r points into it: the opposite of
    // the mirror direction.  The base r.v is therefore -1 where the eye sees
    // the light's mirror image, and the even exponents of this scene's
    // materials make that the brightest highlight.
    const Vec4T<Float> r_unnormalized = vec_reflect_unnormalized(l, hit.normal);
    const Mask power_may_vanish = sum_large(ambient + diffuse);
    const Mask open =
        lit && !(power_may_vanish && base_surely_small(r_unnormalized, hit.point, m.highlight_surely));
    if (lanes::any(open)) {
      Vec4T<Float> r = r_unnormalized;
      vec_normalize(r);
      Vec4T<Float> v = vec_scale(hit.point, Float(-1.0f));  // toward the eye at the origin
      vec_normalize(v);
      const Float base = vec_dot(r, v);
      const Mask needed = lit && !(power_may_vanish && base_small(base, m.highlight_cutoff));
      if (lanes::any(needed)) {
        specular = lanes::select(needed, material_power(base, m.shininess, needed) * m.specular, Float(0.0f));
      }
    }
  }
  diffuse = lanes::select(lit, diffuse, Float(0.0f));

  const Float attenuation = (d * 0.05f + 1.0f) + (d * 0.01f) * d;
  const Float factor = ((ambient + diffuse) + specular) / attenuation;
  return vec_scale(m.color, factor);
}

// The same, for a point light at `light_position`.
template <class Float>
VELMORA_HOST_DEVICE Vec4T<Float> shade_point_light(const HitRecordT<Float>& hit,
                                                   const Vec4T<Float>& light_position,
                                                   const MaterialLanes<Float>& m) {
  return shade_point_light(hit, path_to_light(hit.point, light_position), m);
}
