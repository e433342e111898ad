// The scalar instantiation of the lane vocabulary (see lanes/lanes.h): the
// plain C++ types and functions that the CUDA kernel and host code run.
//
// Rendering code is a template over `Float`, the type of one colour channel
// or coordinate per lane.  With `Float = float` it is the scalar code that the
// CUDA kernel runs (one pixel per thread) and that host code calls; with a
// SIMD pack (lanes/simd_lanes.h) the same source traces several pixels at once.
//
// Branches on per-lane data are written as `select`, loops run while `any`
// lane is active, and per-lane table reads go through
// `read_once_per_index` (lanes/lanes.h).
#pragma once

#include <cstdint>
#include <type_traits>

#include "common/host_device.h"

#if !VELMORA_CUDA_BUILD
#include <cmath>
#include <sleef.h>
#endif

namespace lanes {

// Derived lane types: the comparison result, 32-bit integers, and two kinds
// of table index carried per lane, a small whole number and one kept in a
// byte.  The scalar instantiation uses the plain C++ types; a pack carries
// the indices as exact small floats (see lanes/simd_lanes.h).
template <class Float>
struct LaneTypes;

template <>
struct LaneTypes<float> {
  using Mask = bool;
  using Int = std::int32_t;
  using UInt = std::uint32_t;
  using Index = std::int32_t;
  using ByteIndex = std::uint8_t;
  static constexpr int width = 1;
};

template <class Float>
using Mask = typename LaneTypes<Float>::Mask;
template <class Float>
using Int = typename LaneTypes<Float>::Int;
template <class Float>
using UInt = typename LaneTypes<Float>::UInt;
template <class Float>
using Index = typename LaneTypes<Float>::Index;
template <class Float>
using ByteIndex = typename LaneTypes<Float>::ByteIndex;

template <class T>
VELMORA_HOST_DEVICE T select(bool mask, T if_true, T if_false) {
  return mask ? if_true : if_false;
}

VELMORA_HOST_DEVICE bool any(bool mask) { return mask; }
VELMORA_HOST_DEVICE bool all(bool mask) { return mask; }

VELMORA_HOST_DEVICE float sqrt(float v) {
#if VELMORA_CUDA_BUILD
  return sqrtf(v);
#else
  return std::sqrt(v);
#endif
}

VELMORA_HOST_DEVICE float min(float a, float b) { return b < a ? b : a; }


// Single-precision power with C99's sign rules (a negative base with an even
// integer exponent is positive).  On the CPU the scalar and the packed
// instantiations must give the same bits, so both use the same SLEEF
// algorithm: with FMA when the packed one has it, without when it has not.
VELMORA_HOST_DEVICE float pow(float base, float exponent) {
#if VELMORA_CUDA_BUILD
  return powf(base, exponent);  // the device's powf (the host pass never traces)
#elif defined(__FMA__)
  return Sleef_powf1_u10purecfma(base, exponent);
#else
  return Sleef_powf1_u10purec(base, exponent);
#endif
}

// Single-precision tangent: the C library's double tangent rounded to float
// on the host, the device's tanf in the kernel.
VELMORA_HOST_DEVICE float tan(float v) {
#if VELMORA_CUDA_BUILD
  return tanf(v);
#else
  return static_cast<float>(std::tan(static_cast<double>(v)));
#endif
}

VELMORA_HOST_DEVICE float to_float(std::int32_t v) { return static_cast<float>(v); }

// Whether v is a whole number; false for NaN and infinities.
VELMORA_HOST_DEVICE bool is_integer(float v) {
  if (!(v >= -16777216.0f && v <= 16777216.0f)) return v == v && v - v == 0.0f;  // beyond 2^24 every float is whole
  return static_cast<float>(static_cast<std::int32_t>(v)) == v;
}

// Truncation toward zero of a value already known to lie in [0, 2^32).
// base^n for a whole n: the base squared once per bit of n, and the squares
// of its set bits multiplied in, lowest first, in double precision, so that
// the rounding to single precision at the end is the only one that shows
// (a float product would be some ulps off after a few squarings).  Every
// width takes the same steps and gives the same bits.  A few
// multiplications in place of the general power, the costliest step of the
// shading.
// `one` is 1 in every lane (the machine's vector types have no conversion
// from a double).
template <class Double>
VELMORA_HOST_DEVICE Double whole_power_wide(Double base, unsigned n, Double one = Double(1.0)) {
  Double result = one;
  for (Double square = base;;) {
    if ((n & 1u) != 0u) result = result * square;
    n >>= 1;
    if (n == 0u) break;
    square = square * square;
  }
  return result;
}

VELMORA_HOST_DEVICE float whole_power(float base, unsigned n) {
  return static_cast<float>(whole_power_wide(static_cast<double>(base), n));
}

// The plain float of one lane's value (first_lane and first_set_lane give
// one; the counting lanes give theirs wrapped).
VELMORA_HOST_DEVICE float plain_float(float v) { return v; }

VELMORA_HOST_DEVICE std::uint32_t truncate_to_uint(float v) { return static_cast<std::uint32_t>(v); }

// The float whose bits are `bits`, as a texel word is read.
VELMORA_HOST_DEVICE float float_from_bits(std::uint32_t bits) {
#if VELMORA_DEVICE_CODE
  return __uint_as_float(bits);
#else
  return __builtin_bit_cast(float, bits);
#endif
}

// The value of the first lane, and of the first lane where `mask` is set;
// one lane holds both whatever the mask.
template <class T>
VELMORA_HOST_DEVICE T first_lane(T v) {
  return v;
}

template <class T>
VELMORA_HOST_DEVICE T first_set_lane(T v, bool) {
  return v;
}

}  // namespace lanes
