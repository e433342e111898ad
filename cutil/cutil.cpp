#include "cutil/cutil.h"

#include <chrono>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "cutil/test_hooks.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timer {
  bool started = false;
  bool running = false;
  Clock::time_point start;
  Clock::time_point stop;
};

struct Timers {
  std::mutex mutex;
  std::unordered_map<unsigned int, Timer> timers;
  unsigned int next_handle = 1;
  std::optional<cutil_test_hooks::TimerOp> failure;
};

Timers& timers() {
  static Timers* const t = new Timers;  // never destroyed: usable from exit handlers
  return *t;
}

// Whether a test armed a failure for this call.  Caller holds the lock.
bool injected(Timers& t, cutil_test_hooks::TimerOp op) {
  if (t.failure != op) return false;
  t.failure.reset();
  return true;
}

// Strips one or two leading dashes; nullptr when there are none.
const char* flag_name_of(const char* arg) {
  if (arg == nullptr || arg[0] != '-') return nullptr;
  return arg[1] == '-' ? arg + 2 : arg + 1;
}

}  // namespace

int cutCheckCmdLineFlag(int argc, const char* const* argv, const char* flag_name) {
  if (argv == nullptr || flag_name == nullptr || flag_name[0] == '\0') return 0;
  for (int i = 1; i < argc; ++i) {
    const char* name = flag_name_of(argv[i]);
    if (name != nullptr && std::strcmp(name, flag_name) == 0) return 1;
  }
  return 0;
}

int cutCreateTimer(unsigned int* timer) {
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  if (injected(t, cutil_test_hooks::TimerOp::create) || timer == nullptr) return 0;
  // Handles count up and wrap, skipping 0 and any still in use, so that a
  // long run's handles never name a live timer twice.
  if (t.timers.size() == std::numeric_limits<unsigned int>::max()) return 0;
  while (t.next_handle == 0 || t.timers.contains(t.next_handle)) ++t.next_handle;
  const unsigned int handle = t.next_handle++;
  t.timers.emplace(handle, Timer{});
  *timer = handle;
  return 1;
}

namespace {

// Runs `change` on the live timer `timer` at the time `now`, under the lock;
// 0 for an unknown timer or a failure a test armed for `op`, else 1.
template <typename Change>
int change_timer(unsigned int timer, cutil_test_hooks::TimerOp op, Change change) {
  const Clock::time_point now = Clock::now();
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  const auto it = t.timers.find(timer);
  if (injected(t, op) || it == t.timers.end()) return 0;
  change(it->second, now);
  return 1;
}

}  // namespace

int cutStartTimer(unsigned int timer) {
  return change_timer(timer, cutil_test_hooks::TimerOp::start, [](Timer& tm, Clock::time_point now) {
    tm.started = true;
    tm.running = true;
    tm.start = now;
  });
}

int cutStopTimer(unsigned int timer) {
  return change_timer(timer, cutil_test_hooks::TimerOp::stop, [](Timer& tm, Clock::time_point now) {
    if (!tm.running) return;
    tm.running = false;
    tm.stop = now;
  });
}

float cutGetTimerValue(unsigned int timer) {
  const Clock::time_point now = Clock::now();
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  const auto it = t.timers.find(timer);
  if (it == t.timers.end() || !it->second.started) return 0.0f;
  const Timer& tm = it->second;
  const Clock::time_point end = tm.running ? now : tm.stop;
  return std::chrono::duration<float, std::milli>(end - tm.start).count();
}

int cutDeleteTimer(unsigned int timer) {
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  if (injected(t, cutil_test_hooks::TimerOp::destroy) || t.timers.erase(timer) == 0) return 0;
  return 1;
}

namespace cutil_test_hooks {

void fail_next(TimerOp op) {
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  t.failure = op;
}

void set_next_handle(unsigned int handle) {
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  t.next_handle = handle;
}

void reset() {
  Timers& t = timers();
  std::lock_guard lock(t.mutex);
  t.failure.reset();
}

}  // namespace cutil_test_hooks
