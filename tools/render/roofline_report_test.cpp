#include "tools/render/roofline_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace render_tool {
namespace {

// The figures that the JSON form adds, under their keys, after the
// report's own; and the text form's line, with the measured frame at twice
// the limit.
TEST(RooflineReport, AddsItsKeysAfterTheReportsAndOneLineToTheText) {
  const lanes::OpCounts ops{1000, 500, 10, 100000};
  const roofline::Throughput speed{16, 2.0, 4.0, 50.0, 0.25};
  const roofline::FrameLimit limit = roofline::frame_limit(ops, speed, 2);  // 0.002 and 0.01275 ms

  const nlohmann::ordered_json j =
      nlohmann::ordered_json::parse(with_roofline(R"({"median_ms":0.0255})", true, ops, speed, limit, 0.0255));
  EXPECT_EQ(j.begin().key(), "median_ms");
  EXPECT_DOUBLE_EQ(j["roofline_ms"].get<double>(), 0.01275);
  EXPECT_EQ(j["roofline_bound"], "float pipes");
  EXPECT_DOUBLE_EQ(j["roofline_ratio"].get<double>(), 2.0);
  EXPECT_EQ(j["frame_ops"], (nlohmann::ordered_json{
                                {"divisions", 1000}, {"square_roots", 500}, {"powers", 10}, {"other", 100000}}));
  EXPECT_EQ(j["ns_per_lane"], (nlohmann::ordered_json{
                                  {"division", 2.0}, {"square_root", 4.0}, {"power", 50.0}, {"other", 0.25}}));
  EXPECT_DOUBLE_EQ(j["roofline_divider_ms"].get<double>(), 0.002);
  EXPECT_DOUBLE_EQ(j["roofline_pipes_ms"].get<double>(), 0.01275);

  // A frame without arithmetic has no limit to be a multiple of.
  const roofline::FrameLimit none = roofline::frame_limit(lanes::OpCounts{}, speed, 1);
  EXPECT_EQ(nlohmann::json::parse(with_roofline("{}", true, lanes::OpCounts{}, speed, none, 1.0))["roofline_ratio"], 0.0);

  const std::string text = with_roofline("fps: 1\n", false, ops, speed, limit, 0.0255);
  EXPECT_EQ(text.rfind("fps: 1\nroofline:", 0), 0u) << text;
  EXPECT_NE(text.find("12.75 us a frame at 16 lanes (bound by the float pipes"), std::string::npos) << text;
  EXPECT_NE(text.find("measured 2.00x the limit\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace render_tool
