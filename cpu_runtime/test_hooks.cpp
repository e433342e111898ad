// The test hooks: an armed failure that one chosen call returns in place of
// its work, and the pretended devices and allocation filling.
#include "cpu_runtime/test_hooks.h"

#include <mutex>

#include "cpu_runtime/runtime_state.h"

using namespace cpurt::internal;
using cpurt::test_hooks::Op;

namespace {

struct ArmedFailure {
  std::mutex mutex;
  bool armed = false;
  Op op{};
  cudaError_t code = cudaSuccess;
  int skip = 0;
};

// Never destroyed: runtime calls at exit may still ask.
ArmedFailure& armed_failure() {
  static ArmedFailure* const f = new ArmedFailure;
  return *f;
}

// Constant-initialised, so usable by static initialisers of any order.
constinit cpurt::test_hooks::ModuleObserver module_observer = nullptr;

}  // namespace

bool cpurt::internal::injected(Op op, cudaError_t* code) {
  ArmedFailure& f = armed_failure();
  std::lock_guard lock(f.mutex);
  if (!f.armed || f.op != op) return false;
  if (f.skip > 0) {
    --f.skip;
    return false;
  }
  f.armed = false;
  *code = f.code;
  return true;
}

void cpurt::internal::observe_module_event(const char* event) {
  if (module_observer != nullptr) module_observer(event);
}

namespace cpurt::test_hooks {

void fail_next(Op op, cudaError_t code, int skip) {
  ArmedFailure& f = armed_failure();
  std::lock_guard lock(f.mutex);
  f.armed = true;
  f.op = op;
  f.code = code;
  f.skip = skip;
}

void set_device_count(int count) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.device_count = count;
}

void set_device_major(int major) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.device_major = major;
}

void fill_new_allocations(int byte) {
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.allocation_fill = byte > 255 ? 255 : byte;
}

void observe_modules(ModuleObserver observer) { module_observer = observer; }

void reset() {
  {
    ArmedFailure& f = armed_failure();
    std::lock_guard lock(f.mutex);
    f.armed = false;
  }
  State& st = state();
  std::lock_guard lock(st.mutex);
  st.allocation_fill = -1;
  st.device_count = 1;
  st.device_major = 1;
}

}  // namespace cpurt::test_hooks
