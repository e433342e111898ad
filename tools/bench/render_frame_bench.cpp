// Milliseconds per frame of render_frame on the CPU back-end at 640 x 480:
// the per-frame uploads of spheres and lights, the launch over the whole
// frame and the read-back, on one thread and on every core, with the SIMD
// and the scalar kernel.  Reports the median of the repetitions.
//
//   velmora-bench [--benchmark_repetitions=N] [google benchmark flags]

#include <benchmark/benchmark.h>

#include <string>
#include <thread>
#include <vector>

#include "bench_scene.h"
#include "gpu/backend.h"
#include "gpu/rtlib.h"

namespace {

constexpr int kWidth = kFrameWidth;
constexpr int kHeight = kFrameHeight;

// state.range(0): threads (0 = every core); state.range(1): 1 for SIMD.
void BM_RenderFrame(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  const bool simd = state.range(1) != 0;
  set_backend_threads(threads);
  set_backend_kernel(simd ? "simd" : "scalar");
  const BackendInfo info = backend_info();
  state.SetLabel(std::to_string(info.threads) + " threads, " + info.kernel);

  static const bool initialised = (gpu_init(kWidth, kHeight), true);
  (void)initialised;
  const BenchScene scene;
  scene.upload_all();
  std::vector<unsigned int> pixels(static_cast<std::size_t>(kWidth) * kHeight);

  double kernel_ms = 0.0;
  double readback_ms = 0.0;
  for (auto _ : state) {
    scene.upload_frame();
    FrameTimes times;
    render_frame_timed(pixels.data(), &times);
    benchmark::DoNotOptimize(pixels.data());
    kernel_ms += times.kernel_ms;
    readback_ms += times.readback_ms;
  }
  const auto frames = static_cast<double>(state.iterations());
  state.counters["kernel_ms"] = kernel_ms / frames;
  state.counters["readback_ms"] = readback_ms / frames;
  state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
}

void frame_arguments(benchmark::internal::Benchmark* b) {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  for (const int simd : {1, 0}) {
    b->Args({1, simd});
    if (cores > 1) b->Args({cores, simd});
  }
}

BENCHMARK(BM_RenderFrame)
    ->Apply(frame_arguments)
    ->ArgNames({"threads", "simd"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
