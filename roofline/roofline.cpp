#include "roofline/roofline.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <limits>

#include "lanes/simd_lanes.h"

namespace roofline {
namespace {

using Pack = lanes::NativePack;
constexpr int kLanes = lanes::LaneTypes<Pack>::width;

// Long enough to be timed, short enough to stay in L1 with its inputs.
constexpr int kElements = 1024;
constexpr int kRepeats = 5;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Keeps the compiler from proving the stores unused or the loop idempotent.
template <class T>
void touch(T* p) {
  asm volatile("" : : "r"(p) : "memory");
}

// Nanoseconds per lane of `op` over packs of independent inputs: bases in
// [0.5, 1) and exponents in [20, 90), the ranges the trace's powers see.
template <class Op>
double ns_per_lane(Op op, int rounds) {
  alignas(64) static float a[kElements], b[kElements], out[kElements];
  for (int i = 0; i < kElements; ++i) {
    a[i] = 0.5f + 0.5f * static_cast<float>(i) / kElements;
    b[i] = 20.0f + 70.0f * static_cast<float>(i) / kElements;
  }
  double best = std::numeric_limits<double>::infinity();
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    const Clock::time_point start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < kElements; i += kLanes) {
        const Pack x(a + i, lanes::stdx::vector_aligned);
        const Pack y(b + i, lanes::stdx::vector_aligned);
        op(x, y).copy_to(out + i, lanes::stdx::vector_aligned);
      }
      touch(out);
    }
    best = std::min(best, seconds_since(start));
  }
  return best * 1e9 / (static_cast<double>(rounds) * kElements);
}

// Multiplications and additions in chains enough to keep the pipes busy
// rather than waiting on each result.
double other_ns_per_lane(int rounds) {
  constexpr int kChains = 12;
  double best = std::numeric_limits<double>::infinity();
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    std::array<Pack, kChains> acc;
    for (int k = 0; k < kChains; ++k) acc[k] = Pack(1.0f + 0.01f * static_cast<float>(k));
    Pack half(0.5f), one(1.0f);
    touch(&half);
    touch(&one);
    const Clock::time_point start = Clock::now();
    for (int r = 0; r < rounds; ++r) {
      for (int k = 0; k < kChains; ++k) acc[k] = acc[k] * half + one;
    }
    best = std::min(best, seconds_since(start));
    touch(acc.data());
  }
  return best * 1e9 / (static_cast<double>(rounds) * kChains * 2 * kLanes);
}

}  // namespace

lanes::OpCounts count_frame_ops(const SceneView& scene, int width, int height) {
  const lanes::OpCounts before = lanes::counted_ops;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) (void)trace_pixel<lanes::Counted>(scene, x, y, width, height);
  }
  return lanes::counted_ops - before;
}

Throughput measure_throughput() {
  Throughput t;
  t.lanes = kLanes;
  t.division_ns = ns_per_lane([](const Pack& x, const Pack& y) { return x / y; }, 64);
  t.square_root_ns = ns_per_lane([](const Pack& x, const Pack&) { return lanes::sqrt(x); }, 64);
  t.power_ns = ns_per_lane([](const Pack& x, const Pack& y) { return lanes::pow(x, y); }, 16);
  t.other_ns = other_ns_per_lane(20000);
  return t;
}

FrameLimit frame_limit(const lanes::OpCounts& ops, const Throughput& speed, int threads) {
  const double spread = std::max(threads, 1);
  const auto ms = [&](std::uint64_t count, double ns) { return static_cast<double>(count) * ns * 1e-6 / spread; };
  FrameLimit limit;
  limit.divider_ms = ms(ops.divisions, speed.division_ns) + ms(ops.square_roots, speed.square_root_ns);
  limit.pipes_ms = ms(ops.powers, speed.power_ns) + ms(ops.other, speed.other_ns);
  const bool divider_bound = limit.divider_ms >= limit.pipes_ms;
  limit.bound = divider_bound ? "divider" : "float pipes";
  limit.limit_ms = std::max(limit.divider_ms, limit.pipes_ms);
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

std::string roofline_text(const lanes::OpCounts& ops, const Throughput& speed,
                          const FrameLimit& limit, double measured_ms) {
  char line[400];
  std::snprintf(line, sizeof line,
                "roofline:   %s a frame at %d lanes (bound by the %s: divisions %s, "
                "square roots %s, powers %s, other %s); measured %.2fx the limit\n",
                time_text(limit.limit_ms).c_str(), speed.lanes, limit.bound, count_text(ops.divisions).c_str(),
                count_text(ops.square_roots).c_str(), count_text(ops.powers).c_str(), count_text(ops.other).c_str(),
                limit.limit_ms > 0.0 ? measured_ms / limit.limit_ms : 0.0);
  return line;
}

}  // namespace roofline
