// A lane type that counts what the trace computes: `Counted` is one float
// whose arithmetic adds to per-thread tallies of divisions, square roots,
// powers and other float operations.  It speaks the same lane vocabulary as
// `float` (one lane, plain bool masks and integer indices), so the trace
// written over `Float` runs on it unchanged and does, operation for
// operation, what the scalar trace does for one pixel.  The tallies are the
// frame's useful work, the numerator of its roofline.
//
// Masks and selects are not counted: they are the packed trace's bookkeeping,
// branches in the scalar one, not float arithmetic.
// CPU builds only: nvcc's device pass never sees this header.
#pragma once

#include <cstdint>

#include "lanes/scalar_lanes.h"

namespace lanes {

struct OpCounts {
  std::uint64_t divisions = 0;
  std::uint64_t square_roots = 0;
  std::uint64_t powers = 0;
  // Additions, subtractions, multiplications, negations, comparisons,
  // minimums and conversions.
  std::uint64_t other = 0;

  friend OpCounts operator-(const OpCounts& a, const OpCounts& b) {
    return {a.divisions - b.divisions, a.square_roots - b.square_roots, a.powers - b.powers,
            a.other - b.other};
  }
  bool operator==(const OpCounts&) const = default;
};

// What this thread's Counted arithmetic has done so far.  Callers take the
// difference of two readings around the work they count.
inline thread_local OpCounts counted_ops;

class Counted {
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

  friend bool operator<(Counted a, Counted b) { return compare(a.v_ < b.v_); }
  friend bool operator>(Counted a, Counted b) { return compare(a.v_ > b.v_); }
  friend bool operator<=(Counted a, Counted b) { return compare(a.v_ <= b.v_); }
  friend bool operator>=(Counted a, Counted b) { return compare(a.v_ >= b.v_); }
  friend bool operator==(Counted a, Counted b) { return compare(a.v_ == b.v_); }

 private:
  static Counted other(float v) {
    ++counted_ops.other;
    return Counted(v);
  }
  static bool compare(bool result) {
    ++counted_ops.other;
    return result;
  }

  float v_ = 0.0f;
};

// One lane, with the scalar instantiation's derived types.
template <>
struct LaneTypes<Counted> : LaneTypes<float> {};

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

// Two range comparisons, a round trip through int32 and an equality.
inline bool is_integer(Counted v) {
  counted_ops.other += 4;
  return is_integer(v.value());
}

inline std::uint32_t truncate_to_uint(Counted v) {
  ++counted_ops.other;
  return truncate_to_uint(v.value());
}

}  // namespace lanes
