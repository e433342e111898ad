// The benchmark's report with the frame's roofline added: what the frame's
// arithmetic costs at least on this CPU, and how far the measured frame is
// from that.
#pragma once

#include "roofline/roofline.h"
#include "tools/render/bench_report.h"
#include "tools/render/benchmark.h"

namespace render_tool {

// The roofline of the first frame of `plan` at `size`, for the kernel of
// `lanes` lanes that ran it on `threads` threads.  Measuring this CPU's
// speeds takes a few tens of milliseconds.  For the CPU back-end only: the
// limit is this CPU's.
roofline::FrameRoofline benchmark_roofline(const BenchPlan& plan, FrameSize size, int lanes, int threads);

// The roofline's keys added to a JSON report, after the report's own.
void add_roofline(JsonReport& report, const roofline::FrameRoofline& roofline, double measured_ms);

}  // namespace render_tool
