#include "outputs/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "outputs/interrupts.h"
#include "outputs/output_error.h"

namespace outputs {

namespace {

// The set-up of a spawn, each call checked: a set-up that fails is a child
// that cannot be started as it must be.
class SpawnSetup {
 public:
  explicit SpawnSetup(const std::string& program) : program_(program) {
    check(posix_spawn_file_actions_init(&actions_));
    actions_made_ = true;
    check(posix_spawnattr_init(&attr_));
    attr_made_ = true;
  }
  ~SpawnSetup() {
    if (attr_made_) posix_spawnattr_destroy(&attr_);
    if (actions_made_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  void check(int error) const {
    if (error != 0) throw OutputError("cannot run " + program_ + ": " + std::strerror(error), error);
  }
  posix_spawn_file_actions_t* actions() { return &actions_; }
  posix_spawnattr_t* attr() { return &attr_; }

 private:
  std::string program_;
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
  bool actions_made_ = false, attr_made_ = false;
};

// Orphans of the child's group become our children (not init's), so that
// stopping the group can also reap all of it.
void adopt_orphans() {
  static const bool adopted = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
  (void)adopted;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::vector<std::pair<int, int>>& descriptors) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);

  SpawnSetup setup(argv[0]);
  for (const auto& [ours, theirs] : descriptors) {
    setup.check(posix_spawn_file_actions_adddup2(setup.actions(), ours, theirs));
  }

  // Our interrupts are blocked (the interrupt thread takes them) and SIGPIPE
  // and SIGXFSZ ignored; the child starts with all of them as usual.  It
  // leads a process group of its own, so that whatever it starts in turn
  // (a wrapper script's real encoder) is stopped with it.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) sigaddset(&defaults, s);
  setup.check(posix_spawnattr_setsigmask(setup.attr(), &none));
  setup.check(posix_spawnattr_setsigdefault(setup.attr(), &defaults));
  setup.check(posix_spawnattr_setpgroup(setup.attr(), 0));
  setup.check(posix_spawnattr_setflags(setup.attr(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                         POSIX_SPAWN_SETPGROUP));
  adopt_orphans();
  std::fflush(nullptr);  // nothing of ours is written twice

  int error = 0;
  {
    // Started and remembered as one step: no interrupt falls between the two.
    UninterruptedStep step;
    error = ::posix_spawnp(&pid_, args[0], setup.actions(), setup.attr(), args.data(), environ);
    if (error == 0) remember_child(pid_);
  }
  if (error != 0) pid_ = -1;
  setup.check(error);
}

ChildProcess::~ChildProcess() {
  if (pid_ < 0) return;
  reap();
}

int ChildProcess::reap() {
  // The child is reaped (and its id freed for reuse) only once it is
  // forgotten, under the cleanup's lock, so the cleanup never signals an id
  // that has become another process's.  Its group goes with it: whatever
  // is left there is killed while the child, unreaped, still holds the
  // group's id.
  UninterruptedStep step;
  const int status = stop_process_group(pid_);
  forget_child(pid_);
  pid_ = -1;
  return status;
}

int ChildProcess::wait() {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
  }
  const int status = reap();
  // An interrupt kills the child before it ends the program; the child's
  // end is then no failure of its own.
  if (interrupt_arrived()) wait_for_interrupt_to_end_the_run();
  return status;
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    siginfo_t info{};
    info.si_pid = 0;
    const int r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT | WNOHANG);
    if ((r == 0 && info.si_pid != 0) || (r < 0 && errno != EINTR)) return wait();
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  reap();
  if (interrupt_arrived()) wait_for_interrupt_to_end_the_run();
  return std::nullopt;
}

std::string describe_wait_status(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    return "killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
  }
  return "wait status " + std::to_string(status);
}

}  // namespace outputs
