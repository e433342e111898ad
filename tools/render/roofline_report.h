// The benchmark's report with the frame's roofline added: what the frame's
// arithmetic costs at least on this CPU, and how far the measured frame is
// from that.
#pragma once

#include <string>

#include "lanes/counting_lanes.h"
#include "roofline/roofline.h"
#include "tools/render/benchmark.h"

namespace render_tool {

// `report` (text, or one JSON object when `json`) with the roofline's line,
// or its keys, added for these counts, speeds and limit against
// `measured_ms` a frame.
std::string with_roofline(const std::string& report, bool json, const lanes::OpCounts& ops,
                          const roofline::Throughput& speed, const roofline::FrameLimit& limit,
                          double measured_ms);

// `report` as the benchmark made it (text, or one JSON object when `json`),
// with a roofline line, or the roofline's keys, added for the first frame of
// `plan` at `size` on `threads` threads against `measured_ms` a frame.
// Measuring this CPU's speed takes a few tens of milliseconds.  For the CPU
// back-end only: the limit is this CPU's.
std::string with_frame_roofline(const std::string& report, bool json, const BenchPlan& plan, FrameSize size,
                                int threads, double measured_ms);

}  // namespace render_tool
