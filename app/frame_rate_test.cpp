#include "app/frame_rate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

// A clock that returns the given readings in turn and counts how many of
// them were taken.
struct FakeClock {
  std::deque<std::int32_t> readings;
  int taken = 0;

  std::int32_t operator()() {
    EXPECT_FALSE(readings.empty()) << "the measure read the clock more often than expected";
    if (readings.empty()) return 0;
    const std::int32_t value = readings.front();
    readings.pop_front();
    ++taken;
    return value;
  }
};

struct Case {
  const char* name;
  FrameRateWindow before;
  std::vector<std::int32_t> readings;  // every reading the frame takes, in order
  FrameRateWindow after;
  bool changes;  // whether fps and the title change
  float fps;
  const char* title;
};

TEST(FrameRate, CountsFramesAndMeasuresTheWindow) {
  const Case cases[] = {
      // The first window is timed from the clock's start, which is 0.
      {"first frame, clock still at 0", {0, 0}, {0}, {1, 0}, false, 0.0f, ""},
      {"first frame after 40 ms", {0, 0}, {40}, {1, 0}, true, 25.0f, "FPS=25"},
      {"50 frames in 800 ms", {49, 1000}, {1800}, {50, 1000}, true, 62.5f, "FPS=62"},
      {"truncated, not rounded", {2, 0}, {7}, {3, 0}, true, 3000.0f / 7.0f, "FPS=428"},
      {"100th frame still counts", {99, 0}, {2000}, {100, 0}, true, 50.0f, "FPS=50"},
      {"no time since the window began", {9, 300}, {300}, {10, 300}, false, 0.0f, ""},
      // The 101st frame starts a new window: base time, then a second reading.
      {"reset frame, clock unchanged", {100, 0}, {2000, 2000}, {0, 2000}, false, 0.0f, ""},
      // The count is 0 here; a rate of 0 would make the next animation step
      // divide by zero, so the rate and title keep their values.
      {"reset frame, clock moved on", {100, 0}, {2000, 2001}, {0, 2000}, false, 0.0f, ""},
      {"first frame of a new window", {0, 2000}, {2010}, {1, 2000}, true, 100.0f, "FPS=100"},
      // The span is taken as an unsigned 32-bit count of milliseconds.
      {"clock wrapped past the int range", {0, 2147483647}, {-2147483647 - 1}, {1, 2147483647},
       true, 1000.0f, "FPS=1000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FrameRateWindow window = c.before;
    FakeClock clock{{c.readings.begin(), c.readings.end()}};
    const std::optional<FrameRate> rate = count_frame(window, std::ref(clock));

    EXPECT_EQ(clock.taken, static_cast<int>(c.readings.size()));
    EXPECT_EQ(window.frame_count, c.after.frame_count);
    EXPECT_EQ(window.base_time_ms, c.after.base_time_ms);
    ASSERT_EQ(rate.has_value(), c.changes);
    if (rate) {
      EXPECT_FLOAT_EQ(rate->fps, c.fps);
      EXPECT_STREQ(rate->title.data(), c.title);
    }
  }
}

// A whole run against a clock that ticks 10 ms per reading: the rate never
// comes out as 0 or non-finite, and every window holds at most 100 frames.
TEST(FrameRate, LongRunNeverReportsAZeroRate) {
  FrameRateWindow window;
  std::int32_t now = 0;
  auto ticking = [&now] { return now += 10; };
  int updates = 0;
  for (int frame = 0; frame < 1000; ++frame) {
    if (const auto rate = count_frame(window, ticking)) {
      ++updates;
      EXPECT_GT(rate->fps, 0.0f);
      EXPECT_LT(rate->fps, 1000.0f);
      EXPECT_EQ(std::string(rate->title.data()),
                "FPS=" + std::to_string(static_cast<int>(rate->fps)));
    }
    EXPECT_LE(window.frame_count, 100u);
  }
  // Every frame but the reset frames (one in 101) updates the rate.
  EXPECT_EQ(updates, 1000 - 1000 / 101);
}

}  // namespace
