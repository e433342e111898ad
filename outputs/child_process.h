// A child process (the video encoder) that an interrupt stops and reaps, and
// that is never waited for without end when a bound is given.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace outputs {

class ChildProcess {
 public:
  // Starts argv[0], found on the PATH, with `descriptors` (our descriptor,
  // its number in the child) given to it, and every signal at its default
  // and unblocked.  Throws OutputError ("cannot run <program>: <reason>")
  // when it cannot be started.
  ChildProcess(std::vector<std::string> argv, const std::vector<std::pair<int, int>>& descriptors);
  // A child still running (an exception left its waiter) is killed and reaped.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the child and returns its wait status.  When an interrupt
  // stopped it, does not return: the interrupt ends the program.
  int wait();
  // As wait(), but after `limit` the child is killed and reaped, and the
  // result is empty.
  std::optional<int> wait_for(std::chrono::milliseconds limit);

 private:
  int reap();

  pid_t pid_ = -1;
};

// "exit status 3" or "killed by signal 9 (Killed)", for messages.
std::string describe_wait_status(int status);

}  // namespace outputs
