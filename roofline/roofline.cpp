#include "roofline/roofline.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "lanes/simd_lanes.h"

namespace roofline {
namespace {

// Speeds are measured over the lane type of the kernel in question: `float`
// for the one-pixel kernel, the native pack for the packed one.  Each
// measurement is a function of its own (noinline): inlined into one caller,
// the compiler keeps the loops' packs in memory and times the stores.
template <class Pack>
constexpr int kLanes = lanes::LaneTypes<Pack>::width;

// Long enough to be timed, short enough to stay in L1 with its inputs.
constexpr int kElements = 1024;
constexpr int kRepeats = 5;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds of the fastest of kRepeats runs.
template <class Run>
double best_seconds(Run run) {
  double best = std::numeric_limits<double>::infinity();
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    const Clock::time_point start = Clock::now();
    run();
    best = std::min(best, seconds_since(start));
  }
  return best;
}

// Keeps the compiler from proving the stores unused or the loop idempotent.
template <class T>
void touch(T* p) {
  asm volatile("" : : "r"(p) : "memory");
}

// One pack from aligned memory, and back.  A lone float passes through an
// empty asm, so that the compiler cannot make the one-lane loop a vector
// loop: the one-pixel kernel's arithmetic is not vectorised either.
template <class Pack>
Pack load(const float* p) {
  if constexpr (std::is_same_v<Pack, float>) {
    float v = *p;
    asm volatile("" : "+x"(v));
    return v;
  } else {
    return Pack(p, lanes::stdx::vector_aligned);
  }
}

template <class Pack>
void store(const Pack& v, float* p) {
  if constexpr (std::is_same_v<Pack, float>) {
    *p = v;
  } else {
    v.copy_to(p, lanes::stdx::vector_aligned);
  }
}

// Float to int32 and back, as the trace's truncations do.
template <class Pack>
Pack through_int(const Pack& v) {
  if constexpr (std::is_same_v<Pack, float>) {
    return static_cast<float>(static_cast<std::int32_t>(v));
  } else {
    return lanes::stdx::static_simd_cast<Pack>(lanes::stdx::static_simd_cast<lanes::Int<Pack>>(v));
  }
}

// Nanoseconds per lane of `op` over packs of independent inputs: bases in
// [0.5, 1) and exponents in [20, 90), the ranges the trace's powers see.
template <class Pack, class Op>
[[gnu::noinline]] double ns_per_lane(Op op, int rounds) {
  alignas(64) static float a[kElements], b[kElements], out[kElements];
  for (int i = 0; i < kElements; ++i) {
    a[i] = 0.5f + 0.5f * static_cast<float>(i) / kElements;
    b[i] = 20.0f + 70.0f * static_cast<float>(i) / kElements;
  }
  const double best = best_seconds([&] {
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < kElements; i += kLanes<Pack>) store(op(load<Pack>(a + i), load<Pack>(b + i)), out + i);
      touch(out);
    }
  });
  return best * 1e9 / (static_cast<double>(rounds) * kElements);
}

// Multiplications and additions in chains enough to keep the pipes busy
// rather than waiting on each result.
template <class Pack>
[[gnu::noinline]] double other_ns_per_lane(int rounds) {
  constexpr int kChains = 12;
  const double best = best_seconds([&] {
    std::array<Pack, kChains> acc;
    for (int k = 0; k < kChains; ++k) acc[k] = Pack(1.0f + 0.01f * static_cast<float>(k));
    Pack half(0.5f), one(1.0f);
    touch(&half);
    touch(&one);
    for (int r = 0; r < rounds; ++r) {
      for (int k = 0; k < kChains; ++k) acc[k] = acc[k] * half + one;
    }
    touch(acc.data());
  });
  return best * 1e9 / (static_cast<double>(rounds) * kChains * 2 * kLanes<Pack>);
}

// Makes the compiler forget what `v` holds, at no cost in instructions: the
// value stays in its register, but every operation on it must be done
// again each round rather than once before the loop.  AVX-512 keeps a
// pack's mask in a mask register; the other instruction sets in a vector.
template <class T>
[[gnu::always_inline]] inline void forget(T& v) {
  static_assert(std::is_trivially_copyable_v<T>);
  if constexpr (std::is_same_v<T, float>) {
    asm volatile("" : "+x"(v));
  } else if constexpr (std::is_same_v<T, bool>) {
    asm volatile("" : "+r"(v));
  } else if constexpr (sizeof(T) <= sizeof(std::uint64_t)) {
    using Bits = std::conditional_t<
        sizeof(T) == 1, std::uint8_t,
        std::conditional_t<sizeof(T) == 2, std::uint16_t,
                           std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;
    static_assert(sizeof(Bits) == sizeof(T));
    Bits bits = __builtin_bit_cast(Bits, v);
#if defined(__AVX512F__)
    asm volatile("" : "+k"(bits));
#else
    asm volatile("" : "+r"(bits));
#endif
    v = __builtin_bit_cast(T, bits);
  } else {
    typedef float Raw __attribute__((vector_size(sizeof(T))));
    Raw raw = __builtin_bit_cast(Raw, v);
    asm volatile("" : "+v"(raw));
    v = __builtin_bit_cast(T, raw);
  }
}

// The operations below run in registers, several independent ones a round,
// as the multiply-add chains above do; a load and a store around each would
// cost more than these cheap operations themselves.
constexpr int kIndependent = 8;

template <class Pack>
double ns_per_lane_of(double seconds, int rounds, int ops_per_round) {
  return seconds * 1e9 / (static_cast<double>(rounds) * ops_per_round * kLanes<Pack>);
}

// Less-than of packs whose values the compiler must take as new each round.
template <class Pack>
[[gnu::noinline]] double compare_ns_per_lane(int rounds) {
  using Mask = lanes::Mask<Pack>;
  const double seconds = best_seconds([&] {
    std::array<Pack, kIndependent> x;
    for (int k = 0; k < kIndependent; ++k) x[k] = Pack(0.5f + 0.1f * static_cast<float>(k));
    Pack limit(0.9f);
    forget(limit);
    for (int r = 0; r < rounds; ++r) {
      for (int k = 0; k < kIndependent; ++k) {
        forget(x[k]);
        Mask below = x[k] < limit;
        forget(below);
      }
    }
  });
  return ns_per_lane_of<Pack>(seconds, rounds, kIndependent);
}

// Blends into accumulators, alternating two masks so that no two
// consecutive blends of one accumulator collapse into one.
template <class Pack>
[[gnu::noinline]] double select_ns_per_lane(int rounds) {
  using Mask = lanes::Mask<Pack>;
  const double seconds = best_seconds([&] {
    std::array<Pack, kIndependent> acc, x;
    for (int k = 0; k < kIndependent; ++k) {
      x[k] = Pack(0.5f + 0.1f * static_cast<float>(k));
      acc[k] = Pack(0.0f);
    }
    Mask even = x[0] < Pack(0.7f), odd = x[1] > Pack(0.55f);
    forget(even);
    forget(odd);
    for (int r = 0; r < rounds; ++r) {
      for (int k = 0; k < kIndependent; ++k) {
        forget(x[k]);
        acc[k] = lanes::select((k & 1) ? odd : even, x[k], acc[k]);
      }
    }
    for (Pack& a : acc) forget(a);
  });
  return ns_per_lane_of<Pack>(seconds, rounds, kIndependent);
}

// The trace's mask vocabulary in an even mix: an and, a not and an or
// (m = !(m && a) || b), then an any and an all test, each feeding a branch
// as the trace's do.  Four chains: more would not fit the eight mask
// registers of AVX-512 with their operands, and spills would be timed.
template <class Pack>
[[gnu::noinline]] double mask_ns_per_lane(int rounds) {
  using Mask = lanes::Mask<Pack>;
  constexpr int kChains = 4;
  constexpr int kOpsPerStep = 5;
  const double seconds = best_seconds([&] {
    const Pack x(0.6f);
    Mask m0 = x < Pack(0.7f), m1 = x < Pack(0.5f), m2 = x > Pack(0.1f), m3 = x > Pack(0.9f);
    Mask a = x < Pack(0.8f), b = x > Pack(0.65f);
    forget(b);
    const auto step = [&](Mask& m) {
      forget(a);
      m = !(m && a) || b;
      if (lanes::any(m)) asm volatile("");
      if (lanes::all(m)) asm volatile("");
    };
    for (int r = 0; r < rounds; ++r) {
      step(m0);
      step(m1);
      step(m2);
      step(m3);
    }
    forget(m0);
    forget(m1);
    forget(m2);
    forget(m3);
  });
  return ns_per_lane_of<Pack>(seconds, rounds, kChains * kOpsPerStep);
}

// Float to int32 and back, in chains: the trace's truncations and its
// is_integer round trips.  Each conversion waits a few cycles for the one
// before it, so there are twice as many chains as for the other operations.
template <class Pack>
[[gnu::noinline]] double conversion_ns_per_lane(int rounds) {
  constexpr int kChains = 2 * kIndependent;
  const double seconds = best_seconds([&] {
    std::array<Pack, kChains> acc;
    for (int k = 0; k < kChains; ++k) acc[k] = Pack(1.5f + static_cast<float>(k));
    for (int r = 0; r < rounds; ++r) {
      for (int k = 0; k < kChains; ++k) {
        acc[k] = through_int(acc[k]);
      }
    }
    for (Pack& a : acc) forget(a);
  });
  return ns_per_lane_of<Pack>(seconds, rounds, 2 * kChains);
}

}  // namespace

lanes::OpCounts count_frame_ops(const SceneView& scene, int width, int height) {
  return lanes::ops_counted_by([&] {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) (void)trace_pixel<lanes::Counted>(scene, x, y, width, height);
    }
  });
}

namespace {

template <class Pack>
Throughput measure_throughput_of() {
  Throughput t;
  t.lanes = kLanes<Pack>;
  t.division_ns = ns_per_lane<Pack>([](const Pack& x, const Pack& y) { return x / y; }, 64);
  t.square_root_ns = ns_per_lane<Pack>([](const Pack& x, const Pack&) { return lanes::sqrt(x); }, 64);
  t.power_ns = ns_per_lane<Pack>([](const Pack& x, const Pack& y) { return lanes::pow(x, y); }, 16);
  t.other_ns = other_ns_per_lane<Pack>(20000);
  t.compare_ns = compare_ns_per_lane<Pack>(400000);
  t.select_ns = select_ns_per_lane<Pack>(400000);
  t.mask_ns = mask_ns_per_lane<Pack>(100000);
  t.conversion_ns = conversion_ns_per_lane<Pack>(100000);
  return t;
}

}  // namespace

Throughput measure_throughput(int lanes) {
  if (lanes == 1) return measure_throughput_of<float>();
  if (lanes == kLanes<lanes::NativePack>) return measure_throughput_of<lanes::NativePack>();
  throw std::invalid_argument("no roofline for kernels of " + std::to_string(lanes) + " lanes");
}

FrameRoofline frame_roofline(const SceneView& scene, int width, int height, int lanes, int threads) {
  FrameRoofline r;
  r.ops = count_frame_ops(scene, width, height);
  r.speed = measure_throughput(lanes);
  r.limit = frame_limit(r.ops, r.speed, threads);
  return r;
}

// Mask operations are a resource of their own because they mostly run
// beside the float arithmetic rather than in its place: timed in one loop
// with the multiply-add chains, the mask mix hides about two thirds of the
// float work.  Compares, selects and conversions interleaved with the
// multiply-adds take nearly the sum of their separate times, so they are
// charged to the float pipes; where they mix well that sum overstates the
// pipes' time by up to a fifth, so the limit errs high rather than low.
FrameLimit frame_limit(const lanes::OpCounts& ops, const Throughput& speed, int threads) {
  const double spread = std::max(threads, 1);
  const auto ms = [&](std::uint64_t count, double ns) { return static_cast<double>(count) * ns * 1e-6 / spread; };
  FrameLimit limit;
  limit.divider_ms = ms(ops.divisions, speed.division_ns) + ms(ops.square_roots, speed.square_root_ns);
  limit.pipes_ms = ms(ops.powers, speed.power_ns) + ms(ops.other, speed.other_ns) +
                   ms(ops.compares, speed.compare_ns) + ms(ops.selects, speed.select_ns) +
                   ms(ops.conversions, speed.conversion_ns);
  limit.mask_ms = ms(ops.mask_ops, speed.mask_ns);
  // The busiest resource; a tie goes to the one named first.
  limit.bound = "divider";
  limit.limit_ms = limit.divider_ms;
  if (limit.pipes_ms > limit.limit_ms) {
    limit.bound = "float pipes";
    limit.limit_ms = limit.pipes_ms;
  }
  if (limit.mask_ms > limit.limit_ms) {
    limit.bound = "mask unit";
    limit.limit_ms = limit.mask_ms;
  }
  return limit;
}

namespace {

// Counts and times in a unit that keeps three figures, so that a tiny
// frame's line says something ("2.30 k", "4.1 us") rather than "0.00 M".
std::string count_text(std::uint64_t n) {
  char text[32];
  const double v = static_cast<double>(n);
  if (v >= 1e6) {
    std::snprintf(text, sizeof text, "%.2f M", v * 1e-6);
  } else if (v >= 1e3) {
    std::snprintf(text, sizeof text, "%.2f k", v * 1e-3);
  } else {
    std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(n));
  }
  return text;
}

std::string time_text(double ms) {
  char text[32];
  if (ms >= 0.1 || ms <= 0.0) {
    std::snprintf(text, sizeof text, "%.3f ms", ms);
  } else if (ms >= 1e-4) {
    std::snprintf(text, sizeof text, "%.2f us", ms * 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.1f ns", ms * 1e6);
  }
  return text;
}

}  // namespace

std::string roofline_text(const FrameRoofline& roofline, double measured_ms) {
  const lanes::OpCounts& ops = roofline.ops;
  const FrameLimit& limit = roofline.limit;
  char line[600];
  std::snprintf(line, sizeof line,
                "roofline:   %s a frame at %d lanes (bound by the %s: divider %s, float pipes %s, "
                "mask unit %s); counts: divisions %s, square roots %s, powers %s, other %s, compares %s, "
                "selects %s, mask ops %s, conversions %s; measured %.2fx the limit\n",
                time_text(limit.limit_ms).c_str(), roofline.speed.lanes, limit.bound, time_text(limit.divider_ms).c_str(),
                time_text(limit.pipes_ms).c_str(), time_text(limit.mask_ms).c_str(),
                count_text(ops.divisions).c_str(), count_text(ops.square_roots).c_str(),
                count_text(ops.powers).c_str(), count_text(ops.other).c_str(), count_text(ops.compares).c_str(),
                count_text(ops.selects).c_str(), count_text(ops.mask_ops).c_str(),
                count_text(ops.conversions).c_str(), limit.limit_ms > 0.0 ? measured_ms / limit.limit_ms : 0.0);
  return line;
}

}  // namespace roofline
