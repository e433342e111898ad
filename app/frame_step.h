// One frame of the frame loop, apart from the window system: the display
// callback runs it with GLUT's clock, drawing and title, and tests with
// their own.
#pragma once

#include <cstdint>

#include "app/frame_rate.h"

// What a frame needs from the window system.
struct FrameWindow {
  std::int32_t (*elapsed_ms)();              // the millisecond clock
  void (*show)(const unsigned int* pixels);  // draws the frame and swaps buffers
  void (*set_title)(const char* title);
};

// Advances the animation by the frame rate measured so far, uploads the
// spheres and lights, renders into pixel_buffer and shows it.  Then counts
// the frame: when the measure gives a new rate, the animation's next step
// uses it and the window's title shows it.
void run_frame(FrameRateWindow& rate_window, const FrameWindow& window);
