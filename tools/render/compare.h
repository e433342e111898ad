// The benchmark's side-by-side form: several back-end configurations measured
// within one run, in short turns, so that their figures can be compared.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gpu/backend.h"
#include "tools/render/benchmark.h"

namespace render_tool {

struct CompareConfig {
  std::string kernel;  // "scalar" or "simd"
  int threads = 1;
};

struct CompareRow {
  CompareConfig config;
  int lanes = 1;
  BenchResult result;
};

// Scalar, SIMD and stage-by-stage kernels, each on one thread and on
// `all_threads`.
std::vector<CompareConfig> standard_comparison(int all_threads);

// Measures each configuration for plan.seconds of frames in all.  The
// configurations take turns of about plan.seconds / 10 each, round after
// round, after one warm-up turn each, so a load that comes and goes on the
// machine spreads over all of them.  `apply` switches the back-end to a
// configuration.  Every configuration renders the same sequence of clocks.
std::vector<CompareRow> run_comparison(FrameRenderer& renderer, const BenchPlan& plan,
                                       const std::vector<CompareConfig>& configs,
                                       const std::function<void(const CompareConfig&)>& apply,
                                       const std::function<int()>& current_lanes);

// A table of the rows with each median's speed-up over the first row's.
std::string compare_report_text(const std::vector<CompareRow>& rows, const BackendInfo& backend);

// The rows as one JSON object: {"backend", "device", "configs": [...]}.
std::string compare_report_json(const std::vector<CompareRow>& rows, const BackendInfo& backend,
                                const BenchPlan& plan);

}  // namespace render_tool
