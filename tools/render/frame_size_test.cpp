#include "tools/render/frame_size.h"

#include <gtest/gtest.h>

#include "tools/render/options.h"

namespace render_tool {
namespace {

TEST(FrameSize, SizesOfWholeBlocksAreRead) {
  EXPECT_EQ(parse_frame_size("640x480"), (FrameSize{640, 480}));
  EXPECT_EQ(parse_frame_size("8x8"), (FrameSize{8, 8}));
  EXPECT_EQ(parse_frame_size("8192x16"), (FrameSize{8192, 16}));
  EXPECT_EQ(parse_frame_size("0320x0240"), (FrameSize{320, 240}));
  EXPECT_EQ(parse_frame_size("0000008x000000016"), (FrameSize{8, 16}));  // zeros are not digits that count
  EXPECT_EQ(frame_size_text(FrameSize{2560, 1920}), "2560x1920");
  EXPECT_EQ(FrameSize{}.pixel_count(), 640u * 480u);  // the window's
}

// The reason names the text and says what is wrong with it.
TEST(FrameSize, OtherTextsAreRefusedWithTheReason) {
  struct Case {
    std::string text;
    std::string reason;
  };
  const Case cases[] = {
      {"", "is not a size"},
      {"640", "is not a size"},
      {"640x", "is not a size"},
      {"x480", "is not a size"},
      {"640X480", "is not a size"},
      {"640x480x2", "is not a size"},
      {" 640x480", "is not a size"},
      {"640.0x480", "is not a size"},
      {"-640x480", "is not a size"},
      {"+640x480", "is not a size"},
      {"99999999999x8", "is not a size"},
      {"0x480", "out of range"},
      {"640x0", "out of range"},
      {"8200x8", "out of range"},
      {"16x16384", "out of range"},
      {"100x100", "whole 8 x 8 blocks"},
      {"640x479", "whole 8 x 8 blocks"},
      {"644x480", "whole 8 x 8 blocks"},
  };
  for (const Case& c : cases) {
    try {
      parse_frame_size(c.text);
      ADD_FAILURE() << "'" << c.text << "' was read as a size";
    } catch (const std::invalid_argument& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("'" + c.text + "'"), std::string::npos) << what;
      EXPECT_NE(what.find(c.reason), std::string::npos) << what;
    }
  }
}

// The command line: one size for a frame, an animation or a comparison; a
// list, or the option repeated, for the benchmark.
TEST(FrameSize, CommandLineTakesSizesWhereTheyFit) {
  struct Case {
    std::vector<std::string> args;
    std::vector<FrameSize> sizes;  // empty: refused
  };
  const Case cases[] = {
      {{}, {FrameSize{640, 480}}},
      {{"--size", "320x240"}, {FrameSize{320, 240}}},
      {{"--frames", "2", "--out-dir", "d", "--size", "64x48"}, {FrameSize{64, 48}}},
      {{"--bench", "--compare", "--size", "1280x960"}, {FrameSize{1280, 960}}},
      {{"--bench", "--size", "320x240,2560x1920"}, {FrameSize{320, 240}, FrameSize{2560, 1920}}},
      {{"--bench", "--size", "8x8", "--size=16x8"}, {FrameSize{8, 8}, FrameSize{16, 8}}},
      {{"--size", "320x240,640x480"}, {}},
      {{"--frames", "2", "--out-dir", "d", "--size", "8x8", "--size", "16x16"}, {}},
      {{"--bench", "--compare", "--size", "64x48,128x96"}, {}},
      {{"--bench", "--size", "320x240,100x100"}, {}},
      {{"--size"}, {}},
      {{"--bench", "--size", "8x8,"}, {}},
      {{"--bench", "--size", ",8x8"}, {}},
      {{"--bench", "--size", "8x8,,16x16"}, {}},
  };
  for (const Case& c : cases) {
    const ParseOutcome out = parse_render_options(c.args);
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    if (c.sizes.empty()) {
      EXPECT_FALSE(out.options) << joined;
      EXPECT_EQ(out.exit_code, 2) << joined;
      EXPECT_NE(out.text.find("--size"), std::string::npos) << out.text;
    } else {
      ASSERT_TRUE(out.options) << joined << out.text;
      EXPECT_EQ(out.options->sizes, c.sizes) << joined;
    }
  }
}

}  // namespace
}  // namespace render_tool
