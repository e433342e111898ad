#include "app/error_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "test_support/scratch_dir.h"

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(ErrorLog, RegularFileIsCreatedOrEmptied) {
  outputs::ScratchDir dir;
  const std::string log = dir / "Err.txt";
  {
    std::ofstream stream = open_error_log(log.c_str());
    EXPECT_TRUE(stream.is_open());
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(log));
  std::ofstream(log) << "left by an earlier run";
  std::ofstream stream = open_error_log(log.c_str());
  EXPECT_TRUE(stream.is_open());
  EXPECT_EQ(std::filesystem::file_size(log), 0u);
}

// A link is not followed (its target is neither created nor emptied), and a
// FIFO does not make start-up wait for a reader: both count as "cannot
// open", which leaves the stream closed.
TEST(ErrorLog, LinksAndFifosCountAsCannotOpen) {
  outputs::ScratchDir dir;
  std::ofstream(dir / "precious") << "keep me";
  std::filesystem::create_symlink(dir / "precious", dir / "to-file");
  std::filesystem::create_symlink(dir / "absent", dir / "to-nothing");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  std::filesystem::create_directories(dir.path() / "folder");
  for (const char* name : {"to-file", "to-nothing", "fifo", "folder"}) {
    std::ofstream stream = open_error_log((dir / name).c_str());
    EXPECT_FALSE(stream.is_open()) << name;
  }
  EXPECT_EQ(read_text(dir / "precious"), "keep me");
  EXPECT_FALSE(std::filesystem::exists(dir / "absent"));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "folder", "precious", "to-file", "to-nothing"}));
}

}  // namespace
