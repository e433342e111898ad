#include "tools/render/progress_bar.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace render_tool {
namespace {

TEST(ProgressBar, LineShowsTheShareDone) {
  struct Case {
    int done, total, width;
    std::string line;
  };
  const Case cases[] = {
      {0, 10, 10, "[----------]  0/10 frames"},  {5, 10, 10, "[#####-----]  5/10 frames"},
      {10, 10, 10, "[##########] 10/10 frames"}, {1, 3, 6, "[##----] 1/3 frames"},
      {12, 10, 10, "[##########] 10/10 frames"},  // clamped
  };
  for (const Case& c : cases) EXPECT_EQ(progress_line(c.done, c.total, c.width), c.line);
}

// Not a terminal: nothing at all is written, not even a newline.
TEST(ProgressBar, DisabledBarWritesNothing) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  {
    ProgressBar bar(f, 4, false);
    for (int i = 1; i <= 4; ++i) bar.update(i);
  }
  EXPECT_EQ(std::ftell(f), 0L);
  EXPECT_FALSE(is_terminal(f));
  std::fclose(f);
}

TEST(ProgressBar, EnabledBarRedrawsOneLine) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  {
    ProgressBar bar(f, 2, true);
    bar.update(1);
    bar.update(2);
  }
  std::rewind(f);
  char buf[256] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  const std::string text(buf, n);
  EXPECT_EQ(text,
            "\r[###############---------------] 1/2 frames"
            "\r[##############################] 2/2 frames\n");
  std::fclose(f);
}

}  // namespace
}  // namespace render_tool
