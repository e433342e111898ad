#include "cutil/cutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "cutil/test_hooks.h"

namespace {

TEST(CutilFlags, FlagIsFoundWithOneOrTwoDashesOnly) {
  struct Case {
    std::vector<const char*> argv;
    int expected;
  };
  const Case cases[] = {
      {{"prog", "-noprompt"}, 1},
      {{"prog", "--noprompt"}, 1},
      {{"prog", "-x", "--noprompt", "-y"}, 1},
      {{"prog"}, 0},
      {{"prog", "noprompt"}, 0},
      {{"prog", "---noprompt"}, 0},
      {{"prog", "--noprompt=1"}, 0},
      {{"prog", "-nopromptx"}, 0},
      {{"prog", "-noprom"}, 0},
      {{"prog", "-NOPROMPT"}, 0},
      {{"--noprompt"}, 0},  // argv[0] is the program, not a flag
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* a : c.argv) line += std::string(a) + " ";
    EXPECT_EQ(cutCheckCmdLineFlag(static_cast<int>(c.argv.size()), c.argv.data(), "noprompt"),
              c.expected)
        << line;
  }
  const char* argv[] = {"prog", "--", "-"};
  EXPECT_EQ(cutCheckCmdLineFlag(3, argv, ""), 0) << "an empty name matches nothing";
}

TEST(CutilTimer, MeasuresMillisecondsFromStartToStop) {
  unsigned int timer = 0;
  ASSERT_EQ(cutCreateTimer(&timer), 1);
  EXPECT_NE(timer, 0u);
  EXPECT_EQ(cutGetTimerValue(timer), 0.0f) << "never started";

  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(cutStartTimer(timer), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_EQ(cutStopTimer(timer), 1);
  const auto after = std::chrono::steady_clock::now();
  const float outer = std::chrono::duration<float, std::milli>(after - before).count();

  const float value = cutGetTimerValue(timer);
  EXPECT_GE(value, 20.0f);
  EXPECT_LE(value, outer);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(cutGetTimerValue(timer), value) << "a stopped timer keeps its value";
  EXPECT_EQ(cutStopTimer(timer), 1);
  EXPECT_EQ(cutGetTimerValue(timer), value) << "stopping again changes nothing";

  // A running timer reads the time so far; starting again restarts it.
  ASSERT_EQ(cutStartTimer(timer), 1);
  const float running = cutGetTimerValue(timer);
  EXPECT_LT(running, 20.0f);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_GT(cutGetTimerValue(timer), running);
  EXPECT_EQ(cutDeleteTimer(timer), 1);
}

TEST(CutilTimer, UnknownHandlesFail) {
  unsigned int timer = 0;
  ASSERT_EQ(cutCreateTimer(&timer), 1);
  ASSERT_EQ(cutDeleteTimer(timer), 1);
  for (const unsigned int handle : {0u, timer, 0xffffffffu}) {
    EXPECT_EQ(cutStartTimer(handle), 0) << handle;
    EXPECT_EQ(cutStopTimer(handle), 0) << handle;
    EXPECT_EQ(cutDeleteTimer(handle), 0) << handle;
    EXPECT_EQ(cutGetTimerValue(handle), 0.0f) << handle;
  }
  EXPECT_EQ(cutCreateTimer(nullptr), 0);
}

TEST(CutilTimer, HandlesStayDistinctAcrossThreads) {
  constexpr int kThreads = 4;
  constexpr int kTimersEach = 200;
  std::vector<std::vector<unsigned int>> handles(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&handles, t] {
      for (int i = 0; i < kTimersEach; ++i) {
        unsigned int h = 0;
        if (cutCreateTimer(&h) == 1 && cutStartTimer(h) == 1 && cutStopTimer(h) == 1) {
          handles[t].push_back(h);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  std::vector<unsigned int> all;
  for (const auto& h : handles) all.insert(all.end(), h.begin(), h.end());
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kTimersEach));
  std::sort(all.begin(), all.end());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
  for (const unsigned int h : all) EXPECT_EQ(cutDeleteTimer(h), 1);
}

// Handles wrap after the largest, past 0 and past every timer still live:
// a new timer never takes over a live one's handle.
TEST(CutilTimer, HandlesWrapPastZeroAndLiveTimers) {
  unsigned int live = 0;
  ASSERT_EQ(cutCreateTimer(&live), 1);
  ASSERT_EQ(cutStartTimer(live), 1);

  unsigned int last = 0, wrapped = 0;
  cutil_test_hooks::set_next_handle(0xffffffffu);
  ASSERT_EQ(cutCreateTimer(&last), 1);
  EXPECT_EQ(last, 0xffffffffu);
  ASSERT_EQ(cutCreateTimer(&wrapped), 1);
  EXPECT_NE(wrapped, 0u);

  unsigned int beside = 0;
  cutil_test_hooks::set_next_handle(live);
  ASSERT_EQ(cutCreateTimer(&beside), 1);
  EXPECT_NE(beside, live);
  EXPECT_EQ(cutDeleteTimer(beside), 1);
  EXPECT_EQ(cutStopTimer(live), 1) << "the live timer is still there";
  EXPECT_GE(cutGetTimerValue(live), 0.0f);
  for (const unsigned int h : {live, last, wrapped}) EXPECT_EQ(cutDeleteTimer(h), 1) << h;
}

TEST(CutilTimer, TestHookFailsTheChosenOperationOnce) {
  using cutil_test_hooks::TimerOp;
  unsigned int timer = 0;
  cutil_test_hooks::fail_next(TimerOp::create);
  EXPECT_EQ(cutCreateTimer(&timer), 0);
  EXPECT_EQ(timer, 0u);
  ASSERT_EQ(cutCreateTimer(&timer), 1);
  cutil_test_hooks::fail_next(TimerOp::stop);
  EXPECT_EQ(cutStartTimer(timer), 1);
  EXPECT_EQ(cutStopTimer(timer), 0);
  EXPECT_EQ(cutStopTimer(timer), 1);
  EXPECT_EQ(cutDeleteTimer(timer), 1);
  cutil_test_hooks::reset();
}

}  // namespace
