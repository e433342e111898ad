#include "outputs/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "outputs/interrupts.h"
#include "outputs/output_error.h"

namespace outputs {

ChildProcess::ChildProcess(std::vector<std::string> argv, const std::vector<std::pair<int, int>>& descriptors) {
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (const auto& [ours, theirs] : descriptors) posix_spawn_file_actions_adddup2(&actions, ours, theirs);

  // Our interrupts are blocked (the interrupt thread takes them) and SIGPIPE
  // and SIGXFSZ ignored; the child starts with all of them as usual.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::fflush(nullptr);  // nothing of ours is written twice

  int error = 0;
  {
    // Started and remembered as one step: no interrupt falls between the two.
    UninterruptedStep step;
    error = ::posix_spawnp(&pid_, args[0], &actions, &attr, args.data(), environ);
    if (error == 0) remember_child(pid_);
  }
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    pid_ = -1;
    throw OutputError("cannot run " + argv[0] + ": " + std::strerror(error), error);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  reap();
}

int ChildProcess::reap() {
  // The child is reaped (and its id freed for reuse) only once it is
  // forgotten, under the cleanup's lock, so the cleanup never signals an id
  // that has become another process's.
  UninterruptedStep step;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
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
  ::kill(pid_, SIGKILL);
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
