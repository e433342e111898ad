#include "outputs/interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <thread>
#include <vector>

namespace outputs {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

struct Temporary {
  int folder_fd;
  std::string name;
};

// Everything the cleanup needs, behind one lock that a step which must not
// be cut in two holds for its whole length.
struct Registry {
  std::recursive_mutex lock;
  std::map<int, Temporary> temporaries;
  int next_slot = 0;
  std::vector<pid_t> children;
  bool run_complete = false;
};

Registry& registry() {
  static Registry* r = new Registry;  // never destroyed: the interrupt thread may use it during exit
  return *r;
}

std::atomic<int> arrived_signal{0};

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int s : kInterrupts) sigaddset(&set, s);
  return set;
}

[[noreturn]] void clean_up_and_exit(int signo) {
  Registry& r = registry();
  // Children first, so that none is still writing into a temporary when it
  // is removed.
  for (pid_t pid : r.children) {
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  for (const auto& [slot, t] : r.temporaries) ::unlinkat(t.folder_fd, t.name.c_str(), 0);
  ::_exit(128 + signo);
}

void receive_interrupts() {
  const sigset_t set = interrupt_set();
  for (;;) {
    int signo = 0;
    if (::sigwait(&set, &signo) != 0) continue;
    arrived_signal.store(signo);
    std::unique_lock held(registry().lock);  // waits for any step under way
    if (registry().run_complete) continue;
    clean_up_and_exit(signo);
  }
}

}  // namespace

void start_interrupt_thread() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);

  const sigset_t set = interrupt_set();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(receive_interrupts).detach();
}

int remember_temporary(int folder_fd, const std::string& name) {
  Registry& r = registry();
  std::lock_guard held(r.lock);
  const int slot = r.next_slot++;
  r.temporaries.emplace(slot, Temporary{::fcntl(folder_fd, F_DUPFD_CLOEXEC, 3), name});
  return slot;
}

void forget_temporary(int slot) {
  Registry& r = registry();
  std::lock_guard held(r.lock);
  const auto it = r.temporaries.find(slot);
  if (it == r.temporaries.end()) return;
  ::close(it->second.folder_fd);
  r.temporaries.erase(it);
}

void remember_child(pid_t pid) {
  std::lock_guard held(registry().lock);
  registry().children.push_back(pid);
}

void forget_child(pid_t pid) {
  std::lock_guard held(registry().lock);
  std::erase(registry().children, pid);
}

UninterruptedStep::UninterruptedStep() : lock_(registry().lock) {}
UninterruptedStep::~UninterruptedStep() = default;

bool interrupt_arrived() {
  if (arrived_signal.load() != 0) return true;
  sigset_t pending;
  sigemptyset(&pending);
  if (::sigpending(&pending) != 0) return false;
  for (int s : kInterrupts) {
    if (sigismember(&pending, s) == 1) return true;
  }
  return false;
}

void wait_for_interrupt_to_end_the_run() {
  for (;;) ::pause();
}

void mark_run_complete() {
  std::lock_guard held(registry().lock);
  registry().run_complete = true;
}

}  // namespace outputs
