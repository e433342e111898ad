// Kernel launches: every block of the grid runs on a oneTBB arena, the
// kernel function called once per block with the block's coordinates set.
#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tbb/task_scheduler_observer.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "cpu_runtime/runtime_state.h"

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

thread_local constinit uint3 blockIdx{0, 0, 0};
thread_local constinit dim3 blockDim{1, 1, 1};
thread_local constinit dim3 gridDim{1, 1, 1};

using namespace cpurt::internal;
using cpurt::test_hooks::Op;

namespace {

std::atomic<std::uint64_t> last_launch_serial{0};
thread_local std::uint64_t running_launch_serial = 0;

// Marks this thread as running the blocks of launch `serial` while it
// lives.
class RunningLaunch {
 public:
  explicit RunningLaunch(std::uint64_t serial) : saved_(running_launch_serial) { running_launch_serial = serial; }
  ~RunningLaunch() { running_launch_serial = saved_; }
  RunningLaunch(const RunningLaunch&) = delete;
  RunningLaunch& operator=(const RunningLaunch&) = delete;

 private:
  std::uint64_t saved_;
};

// ThreadSanitizer cannot see oneTBB's synchronisation: it happens inside
// the uninstrumented library.  So in a ThreadSanitizer build the scheduler's
// own work is hidden from the sanitizer (worker threads while they are in
// the arena, the host while it waits for a launch), the launch bodies alone
// are checked, and the two orderings oneTBB guarantees are stated
// explicitly: what the host did before the launch happens before every
// body, and every body happens before the launch returns.  Two blocks
// writing the same word are still reported.  Elsewhere all of this
// compiles to nothing.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_ignore_thread_begin();
extern "C" void __tsan_ignore_thread_end();
void stop_checking() { __tsan_ignore_thread_begin(); }
void resume_checking() { __tsan_ignore_thread_end(); }
void happens_before(void* edge) { __tsan_release(edge); }
void happens_after(void* edge) { __tsan_acquire(edge); }

class WorkersUnchecked : public tbb::task_scheduler_observer {
 public:
  explicit WorkersUnchecked(tbb::task_arena& arena) : tbb::task_scheduler_observer(arena) {
    observe(true);
  }
  ~WorkersUnchecked() override { observe(false); }
  void on_scheduler_entry(bool is_worker) override {
    if (is_worker) stop_checking();
  }
  void on_scheduler_exit(bool is_worker) override {
    if (is_worker) resume_checking();
  }
};
#else
void stop_checking() {}
void resume_checking() {}
void happens_before(void*) {}
void happens_after(void*) {}
class WorkersUnchecked {
 public:
  explicit WorkersUnchecked(tbb::task_arena&) {}
};
#endif

// The threads launches run on.  One launch at a time, and the arena is
// replaced only between launches.
struct Launcher {
  std::mutex mutex;
  std::unique_ptr<tbb::task_arena> arena;
  std::unique_ptr<WorkersUnchecked> arena_observer;
  // Raises oneTBB's limit on worker threads when more threads than cores
  // are asked for.
  std::unique_ptr<tbb::global_control> parallelism;
};

// Never destroyed, like the runtime's state.
Launcher& launcher() {
  static Launcher* const l = [] {
    auto* created = new Launcher;
    created->arena = std::make_unique<tbb::task_arena>(tbb::info::default_concurrency());
    created->arena_observer = std::make_unique<WorkersUnchecked>(*created->arena);
    return created;
  }();
  return *l;
}

bool valid_launch_shape(dim3 grid, dim3 block) {
  using cpurt::internal::kMaxBlockDim;
  using cpurt::internal::kMaxGridDim;
  const unsigned g[3] = {grid.x, grid.y, grid.z};
  const unsigned b[3] = {block.x, block.y, block.z};
  for (int i = 0; i < 3; ++i) {
    if (g[i] == 0 || g[i] > kMaxGridDim[i] || b[i] == 0 || b[i] > kMaxBlockDim[i]) return false;
  }
  return std::uint64_t{block.x} * block.y * block.z <= cpurt::internal::kMaxThreadsPerBlock;
}

// One launch body's stretch of checked work, on whichever thread runs it.
class CheckedBody {
 public:
  CheckedBody(void* launched, void* finished) : finished_(finished) {
    resume_checking();
    happens_after(launched);
  }
  ~CheckedBody() {
    happens_before(finished_);
    stop_checking();
  }
  CheckedBody(const CheckedBody&) = delete;
  CheckedBody& operator=(const CheckedBody&) = delete;

 private:
  void* finished_;
};

// Runs every block of the grid on the arena, x fastest, then y, then z.
void run_grid(const Kernel& kernel, dim3 grid, dim3 block, void** args) {
  const std::uint64_t per_layer = std::uint64_t{grid.x} * grid.y;
  const std::uint64_t blocks = per_layer * grid.z;
  Launcher& l = launcher();
  std::lock_guard launch(l.mutex);
  const cpurt::internal::TextureSnapshot textures = cpurt::internal::snapshot_textures();
  const std::uint64_t serial = ++last_launch_serial;
  int launched = 0;
  int finished = 0;
  happens_before(&launched);
  stop_checking();
  try {
    l.arena->execute([&] {
      tbb::parallel_for(tbb::blocked_range<std::uint64_t>(0, blocks),
                        [&](const tbb::blocked_range<std::uint64_t>& range) {
                          const CheckedBody checked(&launched, &finished);
                          const cpurt::internal::LaunchTextures bound(textures);
                          const RunningLaunch running(serial);
                          blockDim = block;
                          gridDim = grid;
                          for (std::uint64_t i = range.begin(); i != range.end(); ++i) {
                            blockIdx = uint3{static_cast<unsigned>(i % grid.x),
                                             static_cast<unsigned>(i % per_layer / grid.x),
                                             static_cast<unsigned>(i / per_layer)};
                            kernel.invoke(kernel.function, args);
                          }
                        });
    });
  } catch (...) {
    resume_checking();
    happens_after(&finished);
    throw;
  }
  resume_checking();
  happens_after(&finished);
}

}  // namespace

cudaError_t cudaLaunchKernel(const void* func, dim3 grid, dim3 block, void** args,
                             std::size_t shared_mem, cudaStream_t stream) {
  return runtime_call(Op::launch, [&] {
    State& st = state();
    Kernel kernel;
    {
      std::lock_guard lock(st.mutex);
      const auto it = st.kernels.find(func);
      if (it == st.kernels.end()) return cudaErrorInvalidDeviceFunction;
      kernel = it->second;
    }
    if (!valid_launch_shape(grid, block)) return cudaErrorInvalidConfiguration;
    if (shared_mem != 0) return cudaErrorInvalidValue;
    if (stream != nullptr) return cudaErrorInvalidResourceHandle;
    if (args == nullptr && kernel.parameter_count != 0) return cudaErrorInvalidValue;
    try {
      run_grid(kernel, grid, block, args);
    } catch (...) {
      // A kernel that failed while running: as on a GPU, the launch itself
      // returns success and the next synchronise reports the failure.
      std::lock_guard lock(st.mutex);
      st.pending = cudaErrorLaunchFailure;
    }
    return cudaSuccess;
  });
}

cudaError_t cudaDeviceSynchronize() {
  return runtime_call(Op::synchronize, [&] {
    State& st = state();
    std::lock_guard lock(st.mutex);
    const cudaError_t code = st.pending;
    st.pending = cudaSuccess;
    return code;
  });
}

namespace cpurt {

int thread_count() {
  Launcher& l = launcher();
  std::lock_guard launch(l.mutex);
  return l.arena->max_concurrency();
}

void set_thread_count(int n) {
  Launcher& l = launcher();
  std::lock_guard launch(l.mutex);
  const int threads = n > 0 ? n : tbb::info::default_concurrency();
  l.arena_observer.reset();
  l.arena.reset();
  l.parallelism.reset();
  if (threads > tbb::info::default_concurrency()) {
    l.parallelism = std::make_unique<tbb::global_control>(
        tbb::global_control::max_allowed_parallelism, static_cast<std::size_t>(threads));
  }
  l.arena = std::make_unique<tbb::task_arena>(threads);
  l.arena_observer = std::make_unique<WorkersUnchecked>(*l.arena);
}

}  // namespace cpurt

std::uint64_t cpurt::launch_serial() { return running_launch_serial; }
