#include "tools/render/frame_stats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace render_tool {

double percentile(std::span<const double> values, double p) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  std::vector<double> sorted(values.begin(), values.end());
  std::sort(sorted.begin(), sorted.end());
  const double rank = std::clamp(p, 0.0, 100.0) / 100.0 * static_cast<double>(sorted.size() - 1);
  const std::size_t below = static_cast<std::size_t>(std::floor(rank));
  const std::size_t above = std::min(below + 1, sorted.size() - 1);
  const double fraction = rank - static_cast<double>(below);
  return sorted[below] + (sorted[above] - sorted[below]) * fraction;
}

Spread spread_of(std::span<const double> values) {
  return Spread{percentile(values, 50.0), percentile(values, 5.0), percentile(values, 95.0)};
}

}  // namespace render_tool
