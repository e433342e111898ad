#include "tools/render/frame_stats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace render_tool {
namespace {

TEST(FrameStats, PercentilesInterpolateBetweenRanks) {
  std::vector<double> one_to_21;
  for (int i = 21; i >= 1; --i) one_to_21.push_back(i);  // unsorted on purpose
  struct Case {
    std::vector<double> values;
    double p;
    double expected;
  };
  const Case cases[] = {
      {{7.0}, 50.0, 7.0},
      {{7.0}, 5.0, 7.0},
      {{4.0, 1.0, 3.0, 2.0}, 50.0, 2.5},  // even count: mean of the middle two
      {{4.0, 1.0, 3.0}, 50.0, 3.0},
      {{4.0, 1.0, 3.0, 2.0}, 0.0, 1.0},
      {{4.0, 1.0, 3.0, 2.0}, 100.0, 4.0},
      {{10.0, 20.0}, 25.0, 12.5},
      {one_to_21, 5.0, 2.0},
      {one_to_21, 95.0, 20.0},
      {{1.0, 2.0, 3.0}, 150.0, 3.0},  // clamped to the largest
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(percentile(c.values, c.p), c.expected) << "p" << c.p << " of " << c.values.size();
  }
  EXPECT_TRUE(std::isnan(percentile({}, 50.0)));
}

TEST(FrameStats, SpreadIsMedianAndTheFifthPercentiles) {
  std::vector<double> values;
  for (int i = 0; i <= 100; ++i) values.push_back(i * 0.5);
  const Spread s = spread_of(values);
  EXPECT_DOUBLE_EQ(s.median, 25.0);
  EXPECT_DOUBLE_EQ(s.p5, 2.5);
  EXPECT_DOUBLE_EQ(s.p95, 47.5);
}

}  // namespace
}  // namespace render_tool
