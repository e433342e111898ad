#include "app/window_position.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowPosition, CentresTheWindowTruncatingTowardZero) {
  struct Case {
    int screen_width, screen_height;
    int x, y;
  };
  const Case cases[] = {
      {1024, 768, 192, 144},
      {1023, 767, 191, 143},
      {600, 400, -20, -40},  // smaller than the window: passed on negative
      {639, 480, 0, 0},      // -1 / 2 truncates to 0, not -1
      {640, 479, 0, 0},
      {1920, 1080, 640, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.screen_width << " x " << c.screen_height);
    const WindowPosition p = centred_window_position(c.screen_width, c.screen_height, 640, 480);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
}

}  // namespace
