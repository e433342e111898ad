// The benchmark's result as a few lines for people or one JSON object for
// programs, with the back-end that produced it.
#pragma once

#include <string>

#include "gpu/backend.h"
#include "tools/render/benchmark.h"

namespace render_tool {

// The result for people: a few aligned lines.
std::string bench_report_text(const BenchResult& result, const BackendInfo& backend);

// The result as one JSON object on one line.
std::string bench_report_json(const BenchResult& result, const BackendInfo& backend, const BenchPlan& plan);

}  // namespace render_tool
