#include "roofline/roofline.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// The least frame time: counts times measured costs, the divider's and the
// float pipes' sums apart, spread over the threads; the busier one bounds.
// The expected times are worked out by hand in the comments.
TEST(FrameLimit, CountsTimesCostsOverThreadsWithTheBusierUnitBounding) {
  const roofline::Throughput speed{16, 2.0, 4.0, 50.0, 0.25};  // ns per lane: division, root, power, other
  struct Case {
    lanes::OpCounts ops;  // divisions, square roots, powers, other
    int threads;
    double divider_ms;
    double pipes_ms;
    const char* bound;
  };
  const Case cases[] = {
      // 1000 * 2 + 500 * 4 = 4000 ns; 10 * 50 + 100000 * 0.25 = 25500 ns.
      {{1000, 500, 10, 100000}, 1, 0.004, 0.0255, "float pipes"},
      {{1000, 500, 10, 100000}, 4, 0.001, 0.006375, "float pipes"},
      // No threads reported counts as one: never a division by zero.
      {{1000, 500, 10, 100000}, 0, 0.004, 0.0255, "float pipes"},
      // 1e6 * 2 = 2e6 ns against 1000 * 0.25 = 250 ns.
      {{1000000, 0, 0, 1000}, 2, 1.0, 0.000125, "divider"},
      // 50 * 2 = 100 ns against 400 * 0.25 = 100 ns: a tie goes to the divider.
      {{50, 0, 0, 400}, 1, 0.0001, 0.0001, "divider"},
  };
  for (const Case& c : cases) {
    const roofline::FrameLimit limit = roofline::frame_limit(c.ops, speed, c.threads);
    SCOPED_TRACE(testing::Message() << c.threads << " threads, " << c.ops.divisions << " divisions");
    EXPECT_NEAR(limit.divider_ms, c.divider_ms, 1e-12);
    EXPECT_NEAR(limit.pipes_ms, c.pipes_ms, 1e-12);
    EXPECT_DOUBLE_EQ(limit.limit_ms, std::max(c.divider_ms, c.pipes_ms));
    EXPECT_STREQ(limit.bound, c.bound);
  }
}

}  // namespace
