#include "outputs/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "outputs/output_error.h"

namespace outputs {
namespace {

TEST(ChildProcess, StatusOfAChildThatEnds) {
  ChildProcess child({"sh", "-c", "exit 3"}, {});
  const int status = child.wait();
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(describe_wait_status(status), "exit status 3");
}

// A child that does not end within its bound is killed and reaped, and the
// wait says so instead of hanging.
TEST(ChildProcess, BoundedWaitGivesUpOnAChildThatHangs) {
  const auto start = std::chrono::steady_clock::now();
  ChildProcess child({"sleep", "30"}, {});
  EXPECT_EQ(child.wait_for(std::chrono::milliseconds(200)), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));

  ChildProcess quick({"true"}, {});
  const std::optional<int> status = quick.wait_for(std::chrono::seconds(20));
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

// The child leads a group of its own, and whatever it started goes with it:
// a script that runs its real work as a child, without exec, leaves nothing
// running when it is given up on or dropped, and nothing unreaped.
TEST(ChildProcess, ItsWholeProcessGroupIsStoppedAndReaped) {
  for (const bool dropped : {false, true}) {
    int pids[2];
    ASSERT_EQ(::pipe(pids), 0);
    pid_t grandchild = -1;
    {
      ChildProcess child({"sh", "-c", "sleep 30 & echo $! >&3; wait"}, {{pids[1], 3}});
      ::close(pids[1]);
      char text[32] = {};
      ASSERT_GT(::read(pids[0], text, sizeof text - 1), 0);
      grandchild = static_cast<pid_t>(std::atol(text));
      EXPECT_NE(::getpgid(grandchild), ::getpgrp());
      if (!dropped) {
        EXPECT_EQ(child.wait_for(std::chrono::milliseconds(100)), std::nullopt);
      }
    }
    ::close(pids[0]);
    // Gone, not even a zombie: reaped by us, its adopter.
    EXPECT_NE(::kill(grandchild, 0), 0) << (dropped ? "dropped" : "given up on");
    if (::kill(grandchild, 0) == 0) ::kill(grandchild, SIGKILL);
  }
}

TEST(ChildProcess, ProgramThatIsNotThereIsAnError) {
  try {
    ChildProcess child({"velmora-no-such-program"}, {});
    ADD_FAILURE() << "started";
  } catch (const OutputError& e) {
    EXPECT_EQ(e.error_number(), ENOENT);
    EXPECT_EQ(std::string(e.what()), "cannot run velmora-no-such-program: No such file or directory");
  }
  EXPECT_EQ(describe_wait_status(SIGKILL), "killed by signal 9 (Killed)");
}

}  // namespace
}  // namespace outputs
