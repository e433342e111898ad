// The frame-rate measure of the frame loop: an average over a window of up
// to 100 frames, timed with a millisecond clock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

struct FrameRateWindow {
  std::uint32_t frame_count = 0;  // frames counted since the window began
  std::int32_t base_time_ms = 0;  // clock reading when it began; 0 until the first reset
};

struct FrameRate {
  float fps;                    // frames per second, before truncation
  std::array<char, 32> title;   // "FPS=%d" with fps truncated toward zero
};

// Counts one finished frame and measures the rate of the current window.
// `elapsed_ms` reads the clock (GLUT's elapsed time in the program): once on
// a frame that starts a new window, then once more on every frame.  Returns
// the new rate and title, or nothing when this frame leaves both unchanged:
// when no time has passed since the window began, and on the frame that
// starts a new window, which has counted no frame yet (a rate of 0 would
// stall the animation clock's next step on a division by zero).
std::optional<FrameRate> count_frame(FrameRateWindow& window,
                                     const std::function<std::int32_t()>& elapsed_ms);
