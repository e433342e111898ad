#include "tools/render/bench_report.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <nlohmann/json.hpp>

namespace render_tool {
namespace {

BenchResult result_with_median(double median_ms) {
  BenchResult r;
  r.frames = 10;
  r.fps = 1000.0 / median_ms;
  r.frame_ms = Spread{median_ms, median_ms / 2, median_ms * 2};
  return r;
}

const BackendInfo kBackend{"cpu", "Test CPU", 2, 16, "simd"};

// The size table: pixels and median each against the first size's, and the
// time per pixel.
TEST(BenchReport, SizesShowHowTheTimeGrowsWithThePixels) {
  const std::vector<SizeRow> rows = {{FrameSize{320, 240}, result_with_median(2.0)},
                                     {FrameSize{640, 480}, result_with_median(10.0)}};
  const std::string text = sizes_report_text(rows, kBackend);
  // 10 ms over 307,200 pixels is 32.55 ns a pixel; 4 times the pixels, 5 times the time.
  EXPECT_NE(text.find("  640x480    307200      10   100.0   10.000   5.000  20.000     32.55    4.00x    5.00x\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("  320x240     76800"), std::string::npos) << text;
  EXPECT_NE(text.find("kernel:     simd, 16 lanes\n"), std::string::npos) << text;

  const nlohmann::json j = nlohmann::json::parse(json_report_text(sizes_report_json(rows, kBackend, BenchPlan{2.0, 60.0f, 0.4})));
  EXPECT_EQ(j["backend"], "cpu");
  EXPECT_EQ(j["seconds_each"], 2.0);
  ASSERT_EQ(j["sizes"].size(), 2u);
  EXPECT_EQ(j["sizes"][1]["width"], 640);
  EXPECT_EQ(j["sizes"][1]["height"], 480);
  EXPECT_EQ(j["sizes"][1]["pixels"], 307200);
  EXPECT_EQ(j["sizes"][1]["median_ms"], 10.0);
  EXPECT_EQ(j["sizes"][0]["p95_ms"], 4.0);
}

// JSON has no NaN: a figure without samples is null, and text is escaped.
TEST(BenchReport, JsonStaysValidForOddValues) {
  BenchResult empty;
  empty.frame_ms.median = std::numeric_limits<double>::quiet_NaN();
  const BackendInfo odd{"cpu", "Model \"X\"\n\\", 1, 1, "scalar"};
  const std::string text = json_report_text(bench_report_json(empty, odd, BenchPlan{}, FrameSize{64, 48}));
  // One line, ended as the text reports are: the device's newline escaped.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_EQ(text.back(), '\n') << text;
  const nlohmann::json j = nlohmann::json::parse(text);
  EXPECT_TRUE(j["median_ms"].is_null());
  EXPECT_EQ(j["device"], "Model \"X\"\n\\");
  EXPECT_EQ(j["width"], 64);
  EXPECT_EQ(j["lanes"], 1);
}

}  // namespace
}  // namespace render_tool
