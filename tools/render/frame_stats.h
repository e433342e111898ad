// Order statistics of frame times.
#pragma once

#include <span>

namespace render_tool {

// The p-th percentile (0 <= p <= 100) of `values`, interpolating linearly
// between the two nearest ranks: the smallest value at 0, the largest at 100,
// the middle (or the mean of the two middle values) at 50.  NaN when empty.
double percentile(std::span<const double> values, double p);

struct Spread {
  double median = 0.0;
  double p5 = 0.0;
  double p95 = 0.0;
};

Spread spread_of(std::span<const double> values);

}  // namespace render_tool
