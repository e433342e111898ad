#include "app/frame_rate.h"

#include <cstdio>

namespace {
constexpr std::uint32_t kFramesPerWindow = 100;
}

std::optional<FrameRate> count_frame(FrameRateWindow& window,
                                     const std::function<std::int32_t()>& elapsed_ms) {
  ++window.frame_count;
  if (window.frame_count > kFramesPerWindow) {
    window.frame_count = 0;
    window.base_time_ms = elapsed_ms();
  }
  const std::int32_t now = elapsed_ms();
  if (now == window.base_time_ms || window.frame_count == 0) return std::nullopt;

  // The time since the window began, as an unsigned 32-bit count of
  // milliseconds; the rate is formed in double precision, stored as float.
  const std::uint32_t span_ms =
      static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(window.base_time_ms);
  FrameRate rate{};
  rate.fps = static_cast<float>(static_cast<double>(window.frame_count) * 1000.0 / span_ms);
  std::snprintf(rate.title.data(), rate.title.size(), "FPS=%d", static_cast<int>(rate.fps));
  return rate;
}
