#include "tools/render/roofline_report.h"

#include <nlohmann/json.hpp>

#include "kernel/host_scene.h"
#include "scene/animation.h"
#include "tools/render/frame_renderer.h"

namespace render_tool {

std::string with_frame_roofline(const std::string& report, bool json, const BenchPlan& plan, FrameSize size,
                                int threads, double measured_ms) {
  const HostScene scene(plan.scene->at_clock(Animation{}.step(plan.rate)));
  const lanes::OpCounts ops = roofline::count_frame_ops(scene.view(), size.width, size.height);
  const roofline::Throughput speed = roofline::measure_throughput();
  return with_roofline(report, json, ops, speed, roofline::frame_limit(ops, speed, threads), measured_ms);
}

std::string with_roofline(const std::string& report, bool json, const lanes::OpCounts& ops,
                          const roofline::Throughput& speed, const roofline::FrameLimit& limit,
                          double measured_ms) {
  if (!json) return report + roofline::roofline_text(ops, speed, limit, measured_ms);

  nlohmann::ordered_json j = nlohmann::ordered_json::parse(report);
  j["roofline_ms"] = limit.limit_ms;
  j["roofline_bound"] = limit.bound;
  j["roofline_ratio"] = limit.limit_ms > 0.0 ? measured_ms / limit.limit_ms : 0.0;
  j["frame_ops"] = {{"divisions", ops.divisions}, {"square_roots", ops.square_roots},
                    {"powers", ops.powers},       {"other", ops.other},
                    {"compares", ops.compares},   {"selects", ops.selects},
                    {"mask_ops", ops.mask_ops},   {"conversions", ops.conversions}};
  j["ns_per_lane"] = {{"division", speed.division_ns}, {"square_root", speed.square_root_ns},
                      {"power", speed.power_ns},       {"other", speed.other_ns},
                      {"compare", speed.compare_ns},   {"select", speed.select_ns},
                      {"mask_op", speed.mask_ns},      {"conversion", speed.conversion_ns}};
  j["roofline_divider_ms"] = limit.divider_ms;
  j["roofline_pipes_ms"] = limit.pipes_ms;
  j["roofline_mask_ms"] = limit.mask_ms;
  return j.dump() + "\n";
}

}  // namespace render_tool
