#include "outputs/interrupts.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "outputs/child_process.h"
#include "outputs/output_set.h"
#include "test_support/scratch_dir.h"

namespace outputs {
namespace {

// Runs `body` in a child process that has started the interrupt thread,
// sends it `signo` once `ready` (a file the body makes) exists, and returns
// its wait status.
int interrupted_child(int signo, const std::string& ready, const std::function<void()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    start_interrupt_thread();
    body();
    ::_exit(0);
  }
  for (int i = 0; i < 2000 && !std::filesystem::exists(ready); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ::kill(pid, signo);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// An interrupt removes the run's temporaries, stops its child, and ends the
// run with 128 + the signal, whichever thread it was sent to.
TEST(Interrupts, CleanUpAndEndWithTheSignalsStatus) {
  for (const int signo : {SIGINT, SIGTERM, SIGHUP}) {
    ScratchDir dir;
    const std::string ready = dir / "ready";
    const int status = interrupted_child(signo, ready, [&] {
      OutputSet set({dir / "frame.png"});
      ChildProcess child({"sleep", "30"}, {});
      // A worker thread, as the renderer's are, is not where it lands.
      std::thread worker([] { std::this_thread::sleep_for(std::chrono::seconds(30)); });
      ::close(::creat(ready.c_str(), 0644));
      child.wait();
      worker.join();
    });
    ASSERT_TRUE(WIFEXITED(status)) << strsignal(signo);
    EXPECT_EQ(WEXITSTATUS(status), 128 + signo);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"ready"}) << strsignal(signo);
  }
}

// While a set of files is put in place the interrupt waits; the set is then
// whole and reported, and a run that marked itself complete ends with its
// own status.
TEST(Interrupts, SetBeingPutInPlaceIsFinishedAndReported) {
  ScratchDir dir;
  const std::string ready = dir / "ready";
  const int status = interrupted_child(SIGTERM, ready, [&] {
    OutputSet set({dir / "a.png", dir / "b.raw"});
    set.write_all({{1}, {2}}, [&] {
      ::close(::creat(ready.c_str(), 0644));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::close(::creat((dir / "reported").c_str(), 0644));
      mark_run_complete();
    });
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.png", "b.raw", "ready", "reported"}));
}

}  // namespace
}  // namespace outputs
