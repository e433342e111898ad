#include "tools/render/roofline_report.h"

#include "kernel/host_scene.h"
#include "scene/animation.h"
#include "frame/frame_renderer.h"

namespace render_tool {

roofline::FrameRoofline benchmark_roofline(const BenchPlan& plan, FrameSize size, int lanes, int threads) {
  const HostScene scene(plan.scene->at_clock(Animation{}.step(plan.rate)));
  return roofline::frame_roofline(scene.view(), size.width, size.height, lanes, threads);
}

void add_roofline(JsonReport& j, const roofline::FrameRoofline& r, double measured_ms) {
  const lanes::OpCounts& ops = r.ops;
  const roofline::Throughput& speed = r.speed;
  const roofline::FrameLimit& limit = r.limit;
  j["roofline_ms"] = limit.limit_ms;
  j["roofline_bound"] = limit.bound;
  j["roofline_lanes"] = speed.lanes;
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
}

}  // namespace render_tool
