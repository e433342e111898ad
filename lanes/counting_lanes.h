// A lane type that counts what the trace computes: `Counted` is one float
// whose operations add to per-thread tallies, one tally for each class of
// work that a packed trace gives to a different unit or at a different
// cost: divisions, square roots, powers, compares, selects, mask operations,
// conversions, and the other arithmetic.  It speaks the same lane
// vocabulary as `float` and the packs (one lane), so the trace written over
// `Float` runs on it unchanged and gives the same pixel words.  The tallies
// are the frame's useful work, the numerator of its roofline.
//
// Its mask is `CountedMask` and its integer and index lanes `CountedInt`,
// so that the bookkeeping a pack does lane-parallel (comparisons of
// indices, blends, mask logic, any/all tests) is counted too.  The control
// flow is one lane's, as in the scalar trace: a branch on `any` or `all`
// goes the way this lane goes.  One difference from the scalar trace
// remains, and is the packed trace's behaviour: `&&` and `||` of masks
// evaluate both operands (overloaded operators cannot short-circuit), so a
// comparison, or a search, whose result the scalar trace's bool logic would
// skip is counted, as the pack performs it.
//
// Not counted: the integer packing of the pixel word (UInt stays a plain
// integer), and the reads of sphere and material tables.
// CPU builds only: nvcc's device pass never sees this header.
#pragma once

#include <cstdint>
#include <ostream>

#include "lanes/scalar_lanes.h"

namespace lanes {

struct OpCounts {
  std::uint64_t divisions = 0;
  std::uint64_t square_roots = 0;
  std::uint64_t powers = 0;
  // Additions, subtractions, multiplications, negations and minimums, of
  // floats and of the integer and index lanes.
  std::uint64_t other = 0;
  // Comparisons of floats and of indices, each giving a mask.
  std::uint64_t compares = 0;
  // Lane-by-lane choices between two values by a mask (blends).
  std::uint64_t selects = 0;
  // And, or, not and equality of masks; any and all tests; finding the
  // first set lane.
  std::uint64_t mask_ops = 0;
  // Between float and integer lanes, each direction one.
  std::uint64_t conversions = 0;

  friend OpCounts operator-(const OpCounts& a, const OpCounts& b) {
    return {a.divisions - b.divisions, a.square_roots - b.square_roots, a.powers - b.powers,
            a.other - b.other,         a.compares - b.compares,         a.selects - b.selects,
            a.mask_ops - b.mask_ops,   a.conversions - b.conversions};
  }
  bool operator==(const OpCounts&) const = default;

  // How a report or a failed test prints the tallies.
  friend std::ostream& operator<<(std::ostream& os, const OpCounts& c) {
    return os << "{divisions " << c.divisions << ", square roots " << c.square_roots << ", powers " << c.powers
              << ", other " << c.other << ", compares " << c.compares << ", selects " << c.selects
              << ", mask ops " << c.mask_ops << ", conversions " << c.conversions << "}";
  }
};

// What this thread's counted operations have done so far.  Callers take the
// difference of two readings around the work they count.
inline thread_local OpCounts counted_ops;

// What `work` counts on this thread.
template <class Work>
OpCounts ops_counted_by(Work work) {
  const OpCounts before = counted_ops;
  work();
  return counted_ops - before;
}

// One lane's mask.  Constants convert implicitly, as `Mask(true)` and
// mixed logic with a plain bool expect; there is deliberately no conversion
// to bool, as a pack's mask has none: branches go through any and all.
class CountedMask {
 public:
  CountedMask() = default;
  CountedMask(bool v) : v_(v) {}  // NOLINT: constants broadcast implicitly

  bool value() const { return v_; }

  friend CountedMask operator&&(CountedMask a, CountedMask b) { return counted(a.v_ && b.v_); }
  friend CountedMask operator||(CountedMask a, CountedMask b) { return counted(a.v_ || b.v_); }
  friend CountedMask operator!(CountedMask a) { return counted(!a.v_); }
  friend CountedMask operator==(CountedMask a, CountedMask b) { return counted(a.v_ == b.v_); }
  friend CountedMask operator!=(CountedMask a, CountedMask b) { return counted(a.v_ != b.v_); }

 private:
  static CountedMask counted(bool v) {
    ++counted_ops.mask_ops;
    return CountedMask(v);
  }

  bool v_ = false;
};

namespace detail {
inline CountedMask counted_compare(bool result) {
  ++counted_ops.compares;
  return CountedMask(result);
}

// The six comparisons of a counted lane type, each one compare, for the
// float and the integer lanes alike.
template <class Lane>
struct CountedComparisons {
  friend CountedMask operator<(Lane a, Lane b) { return counted_compare(a.value() < b.value()); }
  friend CountedMask operator>(Lane a, Lane b) { return counted_compare(a.value() > b.value()); }
  friend CountedMask operator<=(Lane a, Lane b) { return counted_compare(a.value() <= b.value()); }
  friend CountedMask operator>=(Lane a, Lane b) { return counted_compare(a.value() >= b.value()); }
  friend CountedMask operator==(Lane a, Lane b) { return counted_compare(a.value() == b.value()); }
  friend CountedMask operator!=(Lane a, Lane b) { return counted_compare(a.value() != b.value()); }
};
}  // namespace detail

class Counted : public detail::CountedComparisons<Counted> {
 public:
  Counted() = default;
  Counted(float v) : v_(v) {}  // NOLINT: constants broadcast implicitly, as for packs

  float value() const { return v_; }

  friend Counted operator+(Counted a, Counted b) { return other(a.v_ + b.v_); }
  friend Counted operator-(Counted a, Counted b) { return other(a.v_ - b.v_); }
  friend Counted operator*(Counted a, Counted b) { return other(a.v_ * b.v_); }
  friend Counted operator/(Counted a, Counted b) {
    ++counted_ops.divisions;
    return Counted(a.v_ / b.v_);
  }
  friend Counted operator-(Counted a) { return other(-a.v_); }

 private:
  static Counted other(float v) {
    ++counted_ops.other;
    return Counted(v);
  }

  float v_ = 0.0f;
};

// One lane of 32-bit integers: the pixel coordinates and the sphere and
// material indices.  A pack carries the indices as exact floats, so their
// comparisons count as compares and their sums as other arithmetic, as the
// float ones do.  Converting to int (a table index) is free: a pack reads
// its first lane, or loops over the distinct indices, for that.
class CountedInt : public detail::CountedComparisons<CountedInt> {
 public:
  CountedInt() = default;
  CountedInt(std::int32_t v) : v_(v) {}  // NOLINT: constants broadcast implicitly

  std::int32_t value() const { return v_; }
  explicit operator int() const { return v_; }

  friend CountedInt operator+(CountedInt a, CountedInt b) { return other(a.v_ + b.v_); }
  friend CountedInt operator-(CountedInt a, CountedInt b) { return other(a.v_ - b.v_); }

 private:
  static CountedInt other(std::int32_t v) {
    ++counted_ops.other;
    return CountedInt(v);
  }

  std::int32_t v_ = 0;
};

// One lane with counted masks, integers and indices; the packed pixel word
// stays a plain integer.
template <>
struct LaneTypes<Counted> {
  using Mask = CountedMask;
  using Int = CountedInt;
  using UInt = std::uint32_t;
  using Index = CountedInt;
  using ByteIndex = CountedInt;
  static constexpr int width = 1;
};

// A select on a counted mask counts whatever it chooses between: floats,
// integers, indices or masks.
template <class T>
T select(const CountedMask& mask, T if_true, T if_false) {
  ++counted_ops.selects;
  return mask.value() ? if_true : if_false;
}

inline bool any(const CountedMask& mask) {
  ++counted_ops.mask_ops;
  return mask.value();
}

inline bool all(const CountedMask& mask) {
  ++counted_ops.mask_ops;
  return mask.value();
}

// Finding the set lane is a mask operation; the lane's value comes free.
template <class T>
T first_set_lane(T v, const CountedMask&) {
  ++counted_ops.mask_ops;
  return v;
}

inline float plain_float(Counted v) { return v.value(); }

// Two conversions, and a multiplication per bit of n and per set bit.
inline Counted whole_power(Counted base, unsigned n) {
  counted_ops.conversions += 2;
  for (unsigned m = n; m != 0u; m >>= 1) counted_ops.other += (m & 1u) != 0u ? 1 + (m > 1u) : (m > 1u);
  return Counted(whole_power(base.value(), n));
}

inline Counted sqrt(Counted v) {
  ++counted_ops.square_roots;
  return Counted(sqrt(v.value()));
}

inline Counted pow(Counted base, Counted exponent) {
  ++counted_ops.powers;
  return Counted(pow(base.value(), exponent.value()));
}

inline Counted min(Counted a, Counted b) {
  ++counted_ops.other;
  return Counted(min(a.value(), b.value()));
}

inline Counted to_float(CountedInt v) {
  ++counted_ops.conversions;
  return Counted(to_float(v.value()));
}

// The scalar is_integer in counted operations, taking the branch the value
// takes: two range compares and their and; then, in range, the round trip
// through int32 (two conversions) and an equality; beyond it, the NaN and
// infinity test (two compares, a subtraction and an and).
inline CountedMask is_integer(Counted v) {
  const CountedMask in_range = v >= -16777216.0f && v <= 16777216.0f;
  if (!in_range.value()) return v == v && v - v == 0.0f;
  counted_ops.conversions += 2;
  return Counted(static_cast<float>(static_cast<std::int32_t>(v.value()))) == v;
}

inline std::uint32_t truncate_to_uint(Counted v) {
  ++counted_ops.conversions;
  return truncate_to_uint(v.value());
}

}  // namespace lanes
