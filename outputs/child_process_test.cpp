#include "outputs/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>

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
