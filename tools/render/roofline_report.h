// The benchmark's report with the frame's roofline added: what the frame's
// arithmetic costs at least on this CPU, and how far the measured frame is
// from that.
#pragma once

#include <string>

#include "tools/render/benchmark.h"

namespace render_tool {

// `report` as the benchmark made it (text, or one JSON object when `json`),
// with a roofline line, or the roofline's keys, added for the first frame of
// `plan` at `size` on `threads` threads against `measured_ms` a frame.
// Measuring this CPU's speed takes a few tens of milliseconds.
std::string with_frame_roofline(const std::string& report, bool json, const BenchPlan& plan, FrameSize size,
                                int threads, double measured_ms);

}  // namespace render_tool
