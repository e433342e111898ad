#include "tools/render/verify_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace render_tool {
namespace {

// A renderer that hands back the reference frame of the scene, with the
// blue byte of the first `spoiled` pixels moved by `by` (up, or down where
// up would overflow the byte).
class SpoiledReference final : public FrameRenderer {
 public:
  SpoiledReference(FrameSize size, std::size_t spoiled, std::uint32_t by)
      : FrameRenderer(size), spoiled_(spoiled), by_(by) {}
  FrameTiming render(const SceneContent& scene, std::span<std::uint32_t> pixels) override {
    const auto frame = reference::reference_frame(scene, size().width, size().height);
    std::copy(frame.begin(), frame.end(), pixels.begin());
    for (std::size_t i = 0; i < spoiled_; ++i) {
      const std::uint32_t blue = (pixels[i] >> 16) & 0xffu;
      const std::uint32_t moved = blue + by_ <= 0xffu ? blue + by_ : blue - by_;
      pixels[i] = (pixels[i] & ~0xff0000u) | moved << 16;
    }
    return {};
  }

 private:
  std::size_t spoiled_;
  std::uint32_t by_;
};

TEST(VerifyFrame, ReportsCountsAndVerdict) {
  const FrameSize size{160, 120};
  const std::size_t allowed = static_cast<std::size_t>(reference::kMaxDifferingFraction * 160 * 120);
  struct Case {
    const char* what;
    std::size_t spoiled;
    std::uint32_t by;
    std::size_t differing;
    const char* verdict;
    int exit_status;
  };
  const Case cases[] = {
      {"the reference itself", 0, 0, 0, "matches the reference\n", 0},
      {"every pixel off by one", 19200, 1, 0, "matches the reference\n", 0},
      {"as many off by two as may be", allowed, 2, allowed, "matches the reference\n", 0},
      {"one pixel too many", allowed + 1, 7, allowed + 1, "differs from the reference\n", 1},
  };
  for (const Case& c : cases) {
    SpoiledReference renderer(size, c.spoiled, c.by);
    const Verification v = verify_frame(renderer, PosedScene{initial_scene(), "initial scene"});
    const std::string first_line = "160 x 120, initial scene: " + std::to_string(c.differing) +
                                   " of 19200 pixels differ by more than 1 in a channel (at most " +
                                   std::to_string(allowed) + " may";
    EXPECT_EQ(v.exit_status(), c.exit_status) << c.what << "\n" << v.report;
    EXPECT_EQ(v.report.rfind(first_line, 0), 0u) << c.what << "\n" << v.report;
    EXPECT_NE(v.report.find("largest channel difference " + std::to_string(c.by) + "\n"), std::string::npos)
        << c.what << "\n" << v.report;
    EXPECT_EQ(std::count(v.report.begin(), v.report.end(), '\n'), 2) << c.what << "\n" << v.report;
    EXPECT_TRUE(v.report.ends_with(c.verdict)) << c.what << "\n" << v.report;
  }
}

}  // namespace
}  // namespace render_tool
