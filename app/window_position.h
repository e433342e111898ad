// Where the window goes: centred on the screen.
#pragma once

struct WindowPosition {
  int x;
  int y;
};

// (screen - window) / 2 in each direction, in signed int arithmetic that
// truncates toward zero.  On a screen smaller than the window a coordinate
// comes out negative; it is passed on as it is, and GLUT then leaves the
// placement to the window system.
WindowPosition centred_window_position(int screen_width, int screen_height, int window_width,
                                       int window_height);
