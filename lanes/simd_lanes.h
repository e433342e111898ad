// The packed instantiation of the lane vocabulary, over
// std::experimental::simd: `Pack<N>` is N floats, `NativePack` the widest
// the compiler's target has (16 with AVX-512, 8 with AVX2, 4 with SSE).
//
// Per-lane power comes from SLEEF, whose single-precision pow keeps C99's
// sign rules and computes the same bits as the scalar SLEEF call that
// lanes.h uses, so packed and scalar traces agree word for word.
// CPU builds only: nvcc's device pass never sees this header.
#pragma once

#include <cstdint>
#include <experimental/simd>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "lanes/scalar_lanes.h"

// Lane operations are a few instructions each: always inlined, so that no
// specialised out-of-line copy of one sits in the middle of the trace.
#define VELMORA_LANE_OP inline __attribute__((always_inline))

namespace lanes {

namespace stdx = std::experimental;

template <int N>
using Pack = stdx::fixed_size_simd<float, N>;
using NativePack = stdx::native_simd<float>;

// Integer lanes share the float lanes' ABI, so a pack of N floats pairs with
// a pack of N integers.  Sphere and material indices are carried as
// exact small floats: their comparisons then give masks of the float lanes,
// which select everything else, and they convert to integers only to index
// a table.
template <class Abi>
struct LaneTypes<stdx::simd<float, Abi>> {
  using Float = stdx::simd<float, Abi>;
  using Mask = typename Float::mask_type;
  using Int = stdx::simd<std::int32_t, Abi>;
  using UInt = stdx::simd<std::uint32_t, Abi>;
  using Index = Float;
  using ByteIndex = Float;
  static constexpr int width = static_cast<int>(Float::size());
};

// Clang with libstdc++'s <experimental/simd> on AVX-512 cannot blend
// through `where`: for the AVX-512 masks (one bit per lane) the library's
// blend, which every masked assignment goes through, is under Clang a
// placeholder that picks one whole operand by whether any bit of the mask is
// set (libstdc++ 12.2, Debian 12's, with clang 14.0.6, 16.0.6 and 19.1.7 alike:
// simd_x86.h, _S_blend_avx512; GCC takes the real blend instruction there).
// `where(mask, r) = v` then leaves r as it was whenever a lane is set, and
// sets every lane when none is.  There, `select` blends itself: with the
// AVX-512 blend on the machine's vectors, lane by lane on fixed-size packs
// (the tests').  lanes/simd_lanes_test.cpp checks `where` itself as well.
#if defined(__clang__) && defined(__GLIBCXX__) && defined(__AVX512F__)
#define VELMORA_SELECT_WITHOUT_WHERE 1
#else
#define VELMORA_SELECT_WITHOUT_WHERE 0
#endif

#if VELMORA_SELECT_WITHOUT_WHERE
namespace detail {

// The lanes of if_true where `bits` has a 1, of if_false elsewhere, for the
// machine's vectors of 32-bit lanes; false for the other types, which the
// caller then blends lane by lane.
template <class T, class Abi>
inline constexpr bool kBlendsInRegisters =
    sizeof(T) == 4 && !std::is_same_v<Abi, stdx::simd_abi::fixed_size<stdx::simd_size_v<T, Abi>>> &&
    sizeof(stdx::simd<T, Abi>) == sizeof(__m512);

template <class T, class Abi>
VELMORA_LANE_OP stdx::simd<T, Abi> blend_in_registers(__mmask16 bits, const stdx::simd<T, Abi>& if_true,
                                                      const stdx::simd<T, Abi>& if_false) {
  using V = stdx::simd<T, Abi>;
  if constexpr (std::is_floating_point_v<T>) {
    return V(_mm512_mask_blend_ps(bits, static_cast<__m512>(if_false), static_cast<__m512>(if_true)));
  } else {
    return V(_mm512_mask_blend_epi32(bits, static_cast<__m512i>(if_false), static_cast<__m512i>(if_true)));
  }
}

}  // namespace detail
#endif

template <class T, class Abi>
VELMORA_LANE_OP stdx::simd<T, Abi> select(const stdx::simd_mask<T, Abi>& mask,
                                 const stdx::simd<T, Abi>& if_true,
                                 const stdx::simd<T, Abi>& if_false) {
#if VELMORA_SELECT_WITHOUT_WHERE
  // The mask's bits come through libstdc++'s bitset view of a mask, the one
  // way it offers to read them all at once.
  const auto bits = mask.__to_bitset();
  if constexpr (detail::kBlendsInRegisters<T, Abi>) {
    return detail::blend_in_registers<T, Abi>(static_cast<__mmask16>(bits.to_ulong()), if_true, if_false);
  } else {
    return stdx::simd<T, Abi>([&](auto i) { return bits[i] ? T(if_true[i]) : T(if_false[i]); });
  }
#else
  stdx::simd<T, Abi> result = if_false;
  stdx::where(mask, result) = if_true;
  return result;
#endif
}

template <class T, class Abi>
VELMORA_LANE_OP bool any(const stdx::simd_mask<T, Abi>& mask) {
  return stdx::any_of(mask);
}

template <class T, class Abi>
VELMORA_LANE_OP bool all(const stdx::simd_mask<T, Abi>& mask) {
  return stdx::all_of(mask);
}

template <class Abi>
VELMORA_LANE_OP stdx::simd<float, Abi> sqrt(const stdx::simd<float, Abi>& v) {
#if defined(__AVX512F__)
  // GCC 12's unmasked 512-bit square root reads an undefined register and
  // warns about it; the zero-masked form with every lane set is the same
  // instruction without that.
  if constexpr (sizeof(v) == sizeof(__m512)) {
    return stdx::simd<float, Abi>(_mm512_maskz_sqrt_ps(__mmask16(0xffff), static_cast<__m512>(v)));
  }
#endif
  return stdx::sqrt(v);
}

// The smallest and the largest value of the lanes of `mask`: +infinity and
// -infinity where it has none.
template <class Abi>
VELMORA_LANE_OP float lowest(const stdx::simd<float, Abi>& v, const typename stdx::simd<float, Abi>::mask_type& mask) {
  return stdx::hmin(select(mask, v, stdx::simd<float, Abi>(__builtin_inff())));
}

template <class Abi>
VELMORA_LANE_OP float highest(const stdx::simd<float, Abi>& v, const typename stdx::simd<float, Abi>::mask_type& mask) {
  return stdx::hmax(select(mask, v, stdx::simd<float, Abi>(-__builtin_inff())));
}

// The same comparisons as the scalar forms, lane by lane.
template <class Abi>
VELMORA_LANE_OP stdx::simd<float, Abi> min(const stdx::simd<float, Abi>& a, const stdx::simd<float, Abi>& b) {
  return select(b < a, b, a);
}

template <class Abi>
VELMORA_LANE_OP stdx::simd<float, Abi> to_float(const stdx::simd<std::int32_t, Abi>& v) {
  return stdx::static_simd_cast<stdx::simd<float, Abi>>(v);
}

// Whether each lane is a whole number; false for NaN and infinities.  Lanes
// beyond 2^24 are whole by construction; the rest go through int32.
template <class Abi>
VELMORA_LANE_OP typename stdx::simd<float, Abi>::mask_type is_integer(const stdx::simd<float, Abi>& v) {
  using F = stdx::simd<float, Abi>;
  const auto small = v >= -16777216.0f && v <= 16777216.0f;
  const F in_range = select(small, v, F(0.0f));
  const F whole = stdx::static_simd_cast<F>(stdx::static_simd_cast<stdx::simd<std::int32_t, Abi>>(in_range));
  return (small && whole == v) || (!small && v - v == F(0.0f));
}

// For values in [0, 2^31), as the packing gives it: converting through int32
// keeps to the signed conversion instruction every SIMD level has.
template <class Abi>
VELMORA_LANE_OP stdx::simd<std::uint32_t, Abi> truncate_to_uint(const stdx::simd<float, Abi>& v) {
  return stdx::static_simd_cast<stdx::simd<std::uint32_t, Abi>>(
      stdx::static_simd_cast<stdx::simd<std::int32_t, Abi>>(v));
}

// The value of the first lane, and of the first lane where `mask` is set
// (which must have a lane set).
template <class Abi>
VELMORA_LANE_OP float first_lane(const stdx::simd<float, Abi>& v) {
  return v[0];
}

template <class Abi>
VELMORA_LANE_OP float first_set_lane(const stdx::simd<float, Abi>& v,
                                     const typename stdx::simd<float, Abi>::mask_type& mask) {
  // The mask keeps the lane in range for the compiler, which cannot know
  // that a lane is set.
  constexpr int kLanes = static_cast<int>(stdx::simd<float, Abi>::size());
  static_assert((kLanes & (kLanes - 1)) == 0);
  return v[stdx::find_first_set(mask) & (kLanes - 1)];
}

// base^n for a whole n, in double lanes of the pack's size (the scalar
// whole_power says why): the machine's vectors as two halves of doubles,
// other packs lane by lane.
template <class Abi>
VELMORA_LANE_OP stdx::simd<float, Abi> whole_power(const stdx::simd<float, Abi>& base, unsigned n) {
  using F = stdx::simd<float, Abi>;
  [[maybe_unused]] constexpr bool native = !std::is_same_v<Abi, stdx::simd_abi::fixed_size<F::size()>>;
  // Halves converted with the compilers' vector builtins (the intrinsics
  // for them draw GCC 12's maybe-uninitialized warning at AVX-512).
#if defined(__AVX512F__)
  if constexpr (native && sizeof(F) == sizeof(__m512)) {
    using Half = float __attribute__((vector_size(32)));
    using Wide = double __attribute__((vector_size(64)));
    const __m512 v = static_cast<__m512>(base);
    const Wide one = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
    const Wide wide_low = __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7), Wide);
    const Wide wide_high = __builtin_convertvector(__builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15), Wide);
    const Half low = __builtin_convertvector(whole_power_wide(wide_low, n, one), Half);
    const Half high = __builtin_convertvector(whole_power_wide(wide_high, n, one), Half);
    return F(static_cast<__m512>(__builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15)));
  }
#endif
#if defined(__AVX__)
  if constexpr (native && sizeof(F) == sizeof(__m256)) {
    using Half = float __attribute__((vector_size(16)));
    using Wide = double __attribute__((vector_size(32)));
    const __m256 v = static_cast<__m256>(base);
    const Wide one = {1.0, 1.0, 1.0, 1.0};
    const Wide wide_low = __builtin_convertvector(__builtin_shufflevector(v, v, 0, 1, 2, 3), Wide);
    const Wide wide_high = __builtin_convertvector(__builtin_shufflevector(v, v, 4, 5, 6, 7), Wide);
    const Half low = __builtin_convertvector(whole_power_wide(wide_low, n, one), Half);
    const Half high = __builtin_convertvector(whole_power_wide(wide_high, n, one), Half);
    return F(static_cast<__m256>(__builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7)));
  }
#endif
  using D = stdx::fixed_size_simd<double, F::size()>;
  const D wide_power = whole_power_wide(D([&](auto i) { return static_cast<double>(base[i]); }), n);
  return F([&](auto i) { return static_cast<float>(wide_power[i]); });
}

// Per-lane power through SLEEF's packed pow of the pack's width, the variant
// whose use of fused multiply-adds matches the scalar call in lanes.h; other
// widths go lane by lane through that scalar call.
template <class Abi>
VELMORA_LANE_OP stdx::simd<float, Abi> pow(const stdx::simd<float, Abi>& base,
                                           const stdx::simd<float, Abi>& exponent) {
  using F = stdx::simd<float, Abi>;
  // Fixed-size packs have no conversion to the machine's vector registers.
  [[maybe_unused]] constexpr bool native = !std::is_same_v<Abi, stdx::simd_abi::fixed_size<F::size()>>;
#if defined(__AVX512F__)
  if constexpr (native && sizeof(F) == sizeof(__m512)) {
    return F(Sleef_powf16_u10avx512f(static_cast<__m512>(base), static_cast<__m512>(exponent)));
  }
#endif
#if defined(__AVX2__) && defined(__FMA__)
  if constexpr (native && sizeof(F) == sizeof(__m256)) {
    return F(Sleef_powf8_u10avx2(static_cast<__m256>(base), static_cast<__m256>(exponent)));
  }
  if constexpr (native && sizeof(F) == sizeof(__m128)) {
    return F(Sleef_powf4_u10avx2128(static_cast<__m128>(base), static_cast<__m128>(exponent)));
  }
#elif defined(__SSE4_1__) && !defined(__FMA__)
  if constexpr (native && sizeof(F) == sizeof(__m128)) {
    return F(Sleef_powf4_u10sse4(static_cast<__m128>(base), static_cast<__m128>(exponent)));
  }
#endif
  return F([&](auto i) { return lanes::pow(float(base[i]), float(exponent[i])); });
}

}  // namespace lanes
