#include "outputs/interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

namespace outputs {
namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

struct Temporary {
  int folder_fd;
  std::string name;
  int unlink_flags;  // AT_REMOVEDIR for a folder the run made
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

// Stops every child and removes every temporary still remembered, and
// forgets them; the caller holds the registry's lock.
void clean_up(Registry& r) {
  // Children first, so that none is still writing into a temporary when it
  // is removed.
  for (pid_t pid : r.children) stop_process_group(pid);
  r.children.clear();
  // Newest first: a folder the run made goes after what was made in it.
  for (auto it = r.temporaries.rbegin(); it != r.temporaries.rend(); ++it) {
    ::unlinkat(it->second.folder_fd, it->second.name.c_str(), it->second.unlink_flags);
    ::close(it->second.folder_fd);
  }
  r.temporaries.clear();
}

[[noreturn]] void clean_up_and_exit(int signo) {
  clean_up(registry());
  ::_exit(128 + signo);
}

// A program that ends through exit() with steps under way (the host
// layer's failed checks end it so, from wherever they are) leaves nothing
// of its own either.
void clean_up_at_exit() {
  std::lock_guard held(registry().lock);
  clean_up(registry());
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
  std::atexit(clean_up_at_exit);
}

namespace {

int remember_entry(int folder_fd, const std::string& name, int unlink_flags) {
  Registry& r = registry();
  std::lock_guard held(r.lock);
  // Without a descriptor of its own the cleanup could not find the folder:
  // the caller is told, and removes the temporary itself.
  const int kept_folder_fd = ::fcntl(folder_fd, F_DUPFD_CLOEXEC, 3);
  if (kept_folder_fd < 0) return -1;
  const int slot = r.next_slot++;
  r.temporaries.emplace(slot, Temporary{kept_folder_fd, name, unlink_flags});
  return slot;
}

}  // namespace

int remember_temporary(int folder_fd, const std::string& name) { return remember_entry(folder_fd, name, 0); }

int remember_made_folder(int parent_fd, const std::string& name) {
  return remember_entry(parent_fd, name, AT_REMOVEDIR);
}

void forget_temporary(int slot) {
  Registry& r = registry();
  std::lock_guard held(r.lock);
  const auto it = r.temporaries.find(slot);
  if (it == r.temporaries.end()) return;
  ::close(it->second.folder_fd);
  r.temporaries.erase(it);
}

int stop_process_group(pid_t leader) {
  ::kill(-leader, SIGKILL);
  int status = 0;
  while (::waitpid(leader, &status, 0) < 0 && errno == EINTR) {
  }
  // The rest of the group: the leader's own children, ours now that it is
  // gone (we adopt orphans), until none is left.
  while (::waitpid(-leader, nullptr, 0) >= 0 || errno == EINTR) {
  }
  return status;
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
