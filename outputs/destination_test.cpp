#include "outputs/destination.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "outputs/output_error.h"
#include "test_support/scratch_dir.h"

namespace outputs {
namespace {

std::string refusal_of(const std::string& name) {
  try {
    examine_destination(name);
  } catch (const OutputError& e) {
    return e.what();
  }
  return "";
}

// What a destination is decides how it is written: files by replacement,
// the rest in place; a link is followed to the file at its end.
TEST(Destination, KindsOfDestination) {
  ScratchDir dir;
  std::ofstream(dir / "file") << "x";
  std::filesystem::create_directories(dir.path() / "folder");
  std::filesystem::create_symlink(dir / "file", dir / "link-to-file");
  std::filesystem::create_symlink("folder/not-yet", dir / "dangling");
  std::filesystem::create_symlink("folder", dir / "to-folder");
  std::filesystem::create_symlink("../to-folder/..", dir / "folder/up");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);
  // A descriptor the program was given (not close-on-exec), named as a file.
  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  const std::string given = "/dev/fd/" + std::to_string(pipe_ends[1]);

  struct Case {
    std::string name;
    DestinationKind kind;
    std::string path;  // where the bytes go
  };
  const Case cases[] = {
      {dir / "file", DestinationKind::existing_file, dir / "file"},
      {dir / "new.png", DestinationKind::new_file, dir / "new.png"},
      {dir / "link-to-file", DestinationKind::existing_file, dir / "file"},
      {dir / "dangling", DestinationKind::new_file, dir / "folder/not-yet"},
      {dir / "fifo", DestinationKind::in_place, dir / "fifo"},
      {"-", DestinationKind::standard_output, "-"},
      // Links in the middle of a name are followed part by part.
      {dir / "to-folder/x.png", DestinationKind::new_file, dir / "folder/x.png"},
      {dir / "folder/up/to-folder/y.png", DestinationKind::new_file, dir / "folder/y.png"},
      {given, DestinationKind::in_place, given},
  };
  for (const Case& c : cases) {
    const Destination d = examine_destination(c.name);
    EXPECT_EQ(d.kind, c.kind) << c.name;
    EXPECT_EQ(d.path, c.path) << c.name;
  }
  ::close(pipe_ends[0]);
  ::close(pipe_ends[1]);
  EXPECT_EQ(dir.entries(),
            (std::vector<std::string>{"dangling", "fifo", "file", "folder", "link-to-file", "to-folder"}));
}

// Each refusal is one line that names the destination and says why, and
// touches nothing.
TEST(Destination, RefusalsNameTheDestinationAndTheReason) {
  ScratchDir dir;
  std::ofstream(dir / "file") << "x";
  std::filesystem::create_directories(dir.path() / "folder");
  std::filesystem::create_symlink("loop-b", dir / "loop-a");
  std::filesystem::create_symlink("loop-a", dir / "loop-b");
  struct Case {
    std::string name, says;
  };
  const Case cases[] = {
      {dir / "folder", "it is a folder, not a file"},
      {".", "it is a folder, not a file"},
      {dir / "gone/x.png", "the folder '" + (dir / "gone") + "' does not exist"},
      {dir / "file/x.png", dir / "file" + "' is not a folder"},
      {dir / "new-folder/", "it names a folder, not a file"},
      {dir / "loop-a", "Too many levels of symbolic links"},
      {"", "empty name"},
  };
  for (const Case& c : cases) {
    const std::string refusal = refusal_of(c.name);
    EXPECT_NE(refusal.find(c.says), std::string::npos) << c.name << ": " << refusal;
    EXPECT_EQ(refusal.find('\n'), std::string::npos) << refusal;
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"file", "folder", "loop-a", "loop-b"}));
}

// The rules that depend on who the caller is, shown for an unprivileged
// caller (root may write what these refuse).
TEST(Destination, WhatTheShellWouldRefuseIsRefused) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write read-only files and folders; the program tests run these as nobody";
  ScratchDir dir;
  std::ofstream(dir / "read-only") << "x";
  ::chmod((dir / "read-only").c_str(), 0444);
  std::filesystem::create_directories(dir.path() / "closed");
  std::ofstream(dir / "closed/open-file") << "x";
  ::chmod((dir / "closed").c_str(), 0555);
  EXPECT_NE(refusal_of(dir / "read-only").find("Permission denied (it is read-only to you)"), std::string::npos);
  EXPECT_NE(refusal_of(dir / "closed/open-file").find("the folder '" + (dir / "closed") + "' is not writable"),
            std::string::npos);
  EXPECT_NE(refusal_of(dir / "closed/new").find("is not writable"), std::string::npos);
  ::chmod((dir / "closed").c_str(), 0755);
}

}  // namespace
}  // namespace outputs
