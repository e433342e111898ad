#include "tools/render/interrupt_cleanup.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <climits>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace render_tool {
namespace {

// A slot is free, being filled (the handler must not read its path yet), or
// holds the path of a live temporary.
enum SlotState : int { kFree, kFilling, kLive };

struct TemporarySlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX];
};

// A run holds at most a couple of temporaries at once (two outputs of one
// frame, or one frame and the video).
std::array<TemporarySlot, 16> slots;
std::atomic<pid_t> child{0};
std::atomic<int> steps_under_way{0};
std::atomic<bool> interrupted{false};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void on_interrupt(int signo) {
  const int saved_errno = errno;
  interrupted.store(true);
  // Another thread may be between creating something and remembering it.
  while (steps_under_way.load() > 0) {
    const struct timespec pause = {0, 1'000'000};
    ::nanosleep(&pause, nullptr);
  }
  const pid_t pid = child.load();
  if (pid > 0) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (TemporarySlot& slot : slots) {
    if (slot.state.load() == kLive) ::unlink(slot.path);
  }
  errno = saved_errno;
  ::_exit(128 + signo);
}

}  // namespace

void install_interrupt_cleanup() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  // While one of them is handled the others wait: the handler ends the
  // program and must not be entered twice.
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

int remember_temporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    int expected = kFree;
    if (slots[i].state.compare_exchange_strong(expected, kFilling)) {
      std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
      slots[i].state.store(kLive);
      return static_cast<int>(i);
    }
  }
  return -1;
}

void forget_temporary(int slot) {
  if (slot >= 0 && static_cast<std::size_t>(slot) < slots.size()) slots[static_cast<std::size_t>(slot)].state.store(kFree);
}

void remember_child(pid_t pid) { child.store(pid); }

void wait_if_interrupted() {
  if (!interrupted.load()) return;
  for (;;) ::pause();
}

UninterruptedStep::UninterruptedStep() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  steps_under_way.fetch_add(1);
}

UninterruptedStep::~UninterruptedStep() {
  steps_under_way.fetch_sub(1);
  sigset_t set;
  sigemptyset(&set);
  for (int s : kSignals) sigaddset(&set, s);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace render_tool
