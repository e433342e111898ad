#include "tools/render/roofline_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace render_tool {
namespace {

// The figures that the JSON form adds, under their keys, after the
// report's own; and the text form's line, with the measured frame at twice
// the limit.
TEST(RooflineReport, AddsItsKeysAfterTheReportsAndOneLineToTheText) {
  const lanes::OpCounts ops{1000, 500, 10, 100000, 2000, 300, 6000, 40};
  const roofline::Throughput speed{16, 2.0, 4.0, 50.0, 0.25, 0.5, 0.125, 1.0, 0.75};
  // Over two threads: divider (1000 * 2 + 500 * 4) / 2 = 2000 ns; pipes
  // (10 * 50 + 100000 * 0.25 + 2000 * 0.5 + 300 * 0.125 + 40 * 0.75) / 2
  // = 13283.75 ns; mask unit 6000 * 1 / 2 = 3000 ns.
  const roofline::FrameRoofline roof{ops, speed, roofline::frame_limit(ops, speed, 2)};
  const double measured_ms = 2 * 0.01328375;

  JsonReport j{{"median_ms", 0.0265675}};
  add_roofline(j, roof, measured_ms);
  EXPECT_EQ(j.begin().key(), "median_ms");
  EXPECT_DOUBLE_EQ(j["roofline_ms"].get<double>(), 0.01328375);
  EXPECT_EQ(j["roofline_bound"], "float pipes");
  EXPECT_EQ(j["roofline_lanes"], 16);
  EXPECT_DOUBLE_EQ(j["roofline_ratio"].get<double>(), 2.0);
  EXPECT_EQ(j["frame_ops"], (nlohmann::ordered_json{{"divisions", 1000},
                                                    {"square_roots", 500},
                                                    {"powers", 10},
                                                    {"other", 100000},
                                                    {"compares", 2000},
                                                    {"selects", 300},
                                                    {"mask_ops", 6000},
                                                    {"conversions", 40}}));
  EXPECT_EQ(j["ns_per_lane"], (nlohmann::ordered_json{{"division", 2.0},
                                                      {"square_root", 4.0},
                                                      {"power", 50.0},
                                                      {"other", 0.25},
                                                      {"compare", 0.5},
                                                      {"select", 0.125},
                                                      {"mask_op", 1.0},
                                                      {"conversion", 0.75}}));
  EXPECT_DOUBLE_EQ(j["roofline_divider_ms"].get<double>(), 0.002);
  EXPECT_DOUBLE_EQ(j["roofline_pipes_ms"].get<double>(), 0.01328375);
  EXPECT_DOUBLE_EQ(j["roofline_mask_ms"].get<double>(), 0.003);

  // A frame without arithmetic has no limit to be a multiple of.
  JsonReport none;
  add_roofline(none, {lanes::OpCounts{}, speed, roofline::frame_limit(lanes::OpCounts{}, speed, 1)}, 1.0);
  EXPECT_EQ(none["roofline_ratio"], 0.0);

  const std::string text = roofline::roofline_text(roof, measured_ms);
  EXPECT_EQ(text,
            "roofline:   13.28 us a frame at 16 lanes (bound by the float pipes: divider 2.00 us, "
            "float pipes 13.28 us, mask unit 3.00 us); counts: divisions 1.00 k, square roots 500, powers 10, "
            "other 100.00 k, compares 2.00 k, selects 300, mask ops 6.00 k, conversions 40; "
            "measured 2.00x the limit\n");

  // The mask unit, when it is the busiest, is the one the line names.
  const lanes::OpCounts masks{0, 0, 0, 10, 0, 0, 1000, 0};
  const std::string masked = roofline::roofline_text({masks, speed, roofline::frame_limit(masks, speed, 1)}, 0.002);
  EXPECT_NE(masked.find("1.00 us a frame at 16 lanes (bound by the mask unit:"), std::string::npos) << masked;
  EXPECT_NE(masked.find("measured 2.00x the limit\n"), std::string::npos) << masked;
}

}  // namespace
}  // namespace render_tool
