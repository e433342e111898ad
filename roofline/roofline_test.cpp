#include "roofline/roofline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "lanes/simd_lanes.h"

namespace {

// The least frame time: counts times measured costs, summed per resource
// (the divider, the float pipes, the mask unit), spread over the threads;
// the busiest resource bounds.  The expected times are worked out by hand
// in the comments, in ns for one thread before the spreading.
TEST(FrameLimit, CountsTimesCostsPerResourceWithTheBusiestBounding) {
  // ns per lane: division, root, power, other, compare, select, mask op, conversion.
  const roofline::Throughput speed{16, 2.0, 4.0, 50.0, 0.25, 0.5, 0.125, 1.0, 0.75};
  struct Case {
    const char* what;
    lanes::OpCounts ops;  // divisions, square roots, powers, other, compares, selects, mask ops, conversions
    int threads;
    double divider_ms;
    double pipes_ms;
    double mask_ms;
    const char* bound;
  };
  const Case cases[] = {
      // 1000 * 2 + 500 * 4 = 4000; 10 * 50 + 100000 * 0.25 = 25500.
      {"powers and other arithmetic", {1000, 500, 10, 100000}, 1, 0.004, 0.0255, 0.0, "float pipes"},
      {"spread over four threads", {1000, 500, 10, 100000}, 4, 0.001, 0.006375, 0.0, "float pipes"},
      // No threads reported counts as one: never a division by zero.
      {"no threads", {1000, 500, 10, 100000}, 0, 0.004, 0.0255, 0.0, "float pipes"},
      // 1e6 * 2 = 2e6 against 1000 * 0.25 = 250.
      {"divisions", {1000000, 0, 0, 1000}, 2, 1.0, 0.000125, 0.0, "divider"},
      // Each class at its own cost, in the pipes: 1000 * 0.5 + 2000 * 0.125
      // + 400 * 0.75 = 1050.
      {"compares, selects and conversions", {0, 0, 0, 0, 1000, 2000, 0, 400}, 1, 0.0, 0.00105, 0.0,
       "float pipes"},
      // 10 * 2 = 20; 1000 * 0.25 + 100 * 0.5 = 300; 4000 * 1 = 4000.
      {"mask operations", {10, 0, 0, 1000, 100, 0, 4000, 0}, 1, 0.00002, 0.0003, 0.004, "mask unit"},
      // Mask operations cost nothing in the pipes: 1000 * 1 / 4 = 250.
      {"mask operations alone", {0, 0, 0, 0, 0, 0, 1000, 0}, 4, 0.0, 0.0, 0.00025, "mask unit"},
      // 50 * 2 = 100 against 400 * 0.25 = 100: a tie goes to the divider.
      {"divider ties pipes", {50, 0, 0, 400}, 1, 0.0001, 0.0001, 0.0, "divider"},
      // 400 * 0.25 = 100 against 100 * 1 = 100: and between these to the pipes.
      {"pipes tie masks", {0, 0, 0, 400, 0, 0, 100, 0}, 1, 0.0, 0.0001, 0.0001, "float pipes"},
  };
  for (const Case& c : cases) {
    const roofline::FrameLimit limit = roofline::frame_limit(c.ops, speed, c.threads);
    SCOPED_TRACE(c.what);
    EXPECT_NEAR(limit.divider_ms, c.divider_ms, 1e-12);
    EXPECT_NEAR(limit.pipes_ms, c.pipes_ms, 1e-12);
    EXPECT_NEAR(limit.mask_ms, c.mask_ms, 1e-12);
    EXPECT_DOUBLE_EQ(limit.limit_ms, std::max({c.divider_ms, c.pipes_ms, c.mask_ms}));
    EXPECT_STREQ(limit.bound, c.bound);
  }
}

// The speeds are measured at the width of the kernel asked about: one lane
// for the one-pixel kernel, the native pack's for the packed one; a width
// no kernel has is refused.
TEST(Roofline, MeasuresAtTheKernelsWidth) {
  for (const int lanes : {1, lanes::LaneTypes<lanes::NativePack>::width}) {
    const roofline::Throughput t = roofline::measure_throughput(lanes);
    EXPECT_EQ(t.lanes, lanes);
    for (const double ns : {t.division_ns, t.square_root_ns, t.power_ns, t.other_ns, t.compare_ns, t.select_ns,
                            t.mask_ns, t.conversion_ns}) {
      EXPECT_GT(ns, 0.0) << lanes << " lanes";
    }
  }
  EXPECT_THROW(roofline::measure_throughput(3), std::invalid_argument);
}

}  // namespace
