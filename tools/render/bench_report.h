// The benchmark's results as aligned lines for people or one JSON object for
// programs, with the back-end that produced them: one configuration, the
// side-by-side comparison, or one configuration at several frame sizes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "runtime/backend_controls.h"
#include "tools/render/benchmark.h"

namespace render_tool {

// A report for programs: one object, its keys in the order they are added,
// so that it reads as the text does.
using JsonReport = nlohmann::ordered_json;

// A JSON report as it is printed: the object on one line, ended by a
// newline as every text report is.
std::string json_report_text(const JsonReport& report);
// The line that tells which scene was measured: "scene:      32 spheres, 8
// materials".  JSON reports carry the count as "spheres".
std::string scene_report_line(const BenchPlan& plan);

// One configuration at one size: a few aligned lines.
std::string bench_report_text(const BenchResult& result, const BackendInfo& backend, FrameSize size);
JsonReport bench_report_json(const BenchResult& result, const BackendInfo& backend, const BenchPlan& plan,
                             FrameSize size);

// A table of the configurations with each median's speed-up over the scalar
// kernel's on as many threads, and over the same kernel's on one thread.
std::string compare_report_text(const std::vector<CompareRow>& rows, const BackendInfo& backend, FrameSize size);
// {"backend", "device", "seconds_each", "rate", "configs": [...], ...}.
JsonReport compare_report_json(const std::vector<CompareRow>& rows, const BackendInfo& backend,
                               const BenchPlan& plan, FrameSize size);

// One configuration at several sizes, measured in turns.
struct SizeRow {
  FrameSize size;
  BenchResult result;
};

// A table of the sizes with how many times the first size's pixels and
// median time each has: how the time per frame grows with the pixel count.
std::string sizes_report_text(const std::vector<SizeRow>& rows, const BackendInfo& backend);
// {"backend", "device", ..., "sizes": [{"width", "height", "pixels", "median_ms", ...}]}.
JsonReport sizes_report_json(const std::vector<SizeRow>& rows, const BackendInfo& backend, const BenchPlan& plan);

}  // namespace render_tool
