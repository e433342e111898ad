// How to run a launch's blocks on the cores: the CPU runtime's oneTBB
// launch against an OpenMP loop over the same blocks, for the frame's grid
// of 80 x 60 blocks of 8 x 8 threads.  Two kernels: one that only writes
// its block's 64 words (the cost of spreading the blocks over the threads)
// and the ray-tracing kernel on the initial scene (the cost that matters).
// The OpenMP loops set the launch values and call the kernel exactly as the
// runtime does.  velmora-render --bench measures whole frames through the
// host layer; this program measures what it cannot: the dispatch of the
// blocks alone, and against a way of dispatching the program does not use.
//
//   velmora-launch-bench [google benchmark flags]

#include <benchmark/benchmark.h>
#include <omp.h>

#include <thread>
#include <vector>

#include "runtime/backend_controls.h"
#include "rtlib/rtlib.h"
#include "kernel/ray_trace.h"
#include "scene/initial_scene_data.h"
#include "scene/scene.h"

namespace {

constexpr int kWidth = kFrameWidth;
constexpr int kHeight = kFrameHeight;
const dim3 kGrid(kWidth / 8, kHeight / 8, 1);
const dim3 kBlock(8, 8, 1);

// The host layer set up with the scene as the animation places it a few
// seconds in.
bool set_up_scene() {
  const SceneRecords scene = scene_at_clock(2.5f);
  gpu_init(kWidth, kHeight);
  upload_scene(scene);
  return true;
}

// Writes the block's 64 words and nothing more.
void fill_block(unsigned int* pixels, int width, int) {
  for (unsigned ty = 0; ty < blockDim.y; ++ty) {
    for (unsigned tx = 0; tx < blockDim.x; ++tx) {
      const unsigned x = blockIdx.x * blockDim.x + tx;
      const unsigned y = blockIdx.y * blockDim.y + ty;
      pixels[y * static_cast<unsigned>(width) + x] = x ^ y;
    }
  }
}

cpurt::Module* register_bench_kernels() {
  cpurt::Module* module = cpurt::register_module("launch_bench.cpp");
  cpurt::register_kernel(module, fill_block, "fill_block");
  return module;
}
cpurt::Module* const bench_module = register_bench_kernels();

using Kernel = void (*)(unsigned int*, int, int);

enum class Dispatch { tbb, omp_static, omp_dynamic };

void run_blocks(Dispatch dispatch, Kernel kernel, unsigned int* pixels, int threads) {
  int width = kWidth;
  int height = kHeight;
  const int blocks = static_cast<int>(kGrid.x * kGrid.y);
  auto run_block = [&](int i) {
    blockIdx = uint3{static_cast<unsigned>(i) % kGrid.x, static_cast<unsigned>(i) / kGrid.x, 0};
    blockDim = kBlock;
    gridDim = kGrid;
    kernel(pixels, width, height);
  };
  switch (dispatch) {
    case Dispatch::tbb: {
      void* args[] = {&pixels, &width, &height};
      cudaLaunchKernel(kernel, kGrid, kBlock, args);
      break;
    }
    case Dispatch::omp_static:
#pragma omp parallel for schedule(static) num_threads(threads)
      for (int i = 0; i < blocks; ++i) run_block(i);
      break;
    case Dispatch::omp_dynamic:
#pragma omp parallel for schedule(dynamic, 4) num_threads(threads)
      for (int i = 0; i < blocks; ++i) run_block(i);
      break;
  }
}

// state.range(0): dispatch; range(1): threads; range(2): 1 for ray_trace.
void BM_Launch(benchmark::State& state) {
  const auto dispatch = static_cast<Dispatch>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  const bool trace = state.range(2) != 0;
  set_backend_threads(threads);
  static const bool initialised = set_up_scene();
  (void)initialised;
  const char* names[] = {"oneTBB", "OpenMP static", "OpenMP dynamic,4"};
  state.SetLabel(std::string(names[state.range(0)]) + (trace ? ", ray_trace" : ", fill"));

  std::vector<unsigned int> pixels(static_cast<std::size_t>(kWidth) * kHeight);
  const Kernel kernel = trace ? ray_trace : fill_block;
  for (auto _ : state) {
    run_blocks(dispatch, kernel, pixels.data(), threads);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["launches_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void launch_arguments(benchmark::internal::Benchmark* b) {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  for (const int trace : {0, 1}) {
    for (const int threads : {1, cores}) {
      for (const int dispatch : {0, 1, 2}) b->Args({dispatch, threads, trace});
      if (cores == 1) break;
    }
  }
}

BENCHMARK(BM_Launch)
    ->Apply(launch_arguments)
    ->ArgNames({"dispatch", "threads", "trace"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->MinTime(0.3)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
