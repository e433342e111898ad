// The viewer's set-up and one frame of its frame loop, apart from the window
// system: the display callback runs the frame with GLUT's clock, drawing
// and title, and tests with their own.
#pragma once

#include <cstdint>

#include "app/frame_rate.h"

// Allocates pixel_buffer, creates the GPU context for the frame size, writes
// the initial scene's spheres and lights into the scene storage and uploads
// them with the materials.  If the frame buffer cannot be allocated it
// prints one line on standard error and ends the process with exit code 1.
void init_scene();

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
