#include "app/window_position.h"

WindowPosition centred_window_position(int screen_width, int screen_height, int window_width,
                                       int window_height) {
  return WindowPosition{(screen_width - window_width) / 2, (screen_height - window_height) / 2};
}
