#include "tools/render/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "tools/render/scratch_dir.h"

namespace render_tool {
namespace {

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AtomicOutput, WritesTheBytesAndLeavesNoTemporary) {
  ScratchDir dir;
  const std::vector<std::uint8_t> first = {1, 2, 3};
  const std::vector<std::uint8_t> second = {9, 8};
  write_files_atomically({{dir / "a.bin", first}, {dir / "b.bin", second}});
  EXPECT_EQ(read_bytes(dir / "a.bin"), first);
  EXPECT_EQ(read_bytes(dir / "b.bin"), second);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.bin", "b.bin"}));

  // An existing file is replaced whole.
  write_files_atomically({{dir / "a.bin", second}});
  EXPECT_EQ(read_bytes(dir / "a.bin"), second);
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.bin", "b.bin"}));
}

TEST(AtomicOutput, NewFilesGetTheUsualPermissions) {
  ScratchDir dir;
  const mode_t mask = ::umask(022);
  write_files_atomically({{dir / "p.png", {0}}});
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat((dir / "p.png").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

// A failure anywhere leaves nothing behind: not the file that failed, not the
// ones before it, not a temporary.
TEST(AtomicOutput, FailureLeavesNoFileBehind) {
  ScratchDir dir;
  std::ofstream(dir / "plain-file") << "x";
  const std::string cases[] = {
      dir / "missing-folder/out.png",
      dir / "plain-file/out.png",
      dir.path().string() + "/",
      "",
  };
  for (const std::string& bad : cases) {
    try {
      write_files_atomically({{dir / "good.png", {1, 2}}, {bad, {3}}});
      ADD_FAILURE() << "no error for '" << bad << "'";
    } catch (const OutputError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(bad), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain-file"})) << bad;
  }
}

TEST(AtomicOutput, UncommittedFileIsRemoved) {
  ScratchDir dir;
  {
    PendingFile file(dir / "half.png");
    const std::vector<std::uint8_t> some = {1, 2, 3};
    file.write(some);
    EXPECT_EQ(dir.entries().size(), 1u);  // the temporary, under another name
    EXPECT_NE(dir.entries()[0], "half.png");
  }
  EXPECT_TRUE(dir.entries().empty());
}

// The temporary's name is short whatever the destination's (so a valid name
// of 255 bytes still works), hidden, and not guessable from the process.
TEST(AtomicOutput, TemporaryNamesAreShortHiddenAndUnpredictable) {
  ScratchDir dir;
  const std::string longest(255, 'n');
  OwnedTemporary a(dir.path().string(), longest);
  OwnedTemporary b(dir.path().string(), longest);
  for (const OwnedTemporary* t : {&a, &b}) {
    const std::string name = std::filesystem::path(t->path()).filename().string();
    EXPECT_EQ(name[0], '.');
    EXPECT_LE(name.size(), 20u) << name;
    EXPECT_EQ(name.find(std::to_string(::getpid())), std::string::npos) << name;
  }
  EXPECT_NE(a.path(), b.path());

  write_files_atomically({{dir / longest, {7}}});
  EXPECT_EQ(read_bytes(dir / longest), std::vector<std::uint8_t>{7});
}

// What an output is decides how it is written: files by replacement, the
// rest in place; a folder or a missing folder is refused before anything.
TEST(OutputTargets, KindsOfDestination) {
  ScratchDir dir;
  std::ofstream(dir / "file") << "x";
  std::filesystem::create_directories(dir.path() / "folder");
  std::filesystem::create_symlink(dir / "file", dir / "link-to-file");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0644), 0);

  struct Case {
    std::string name;
    bool in_place, standard_output;
    std::string path;  // where the bytes go
  };
  const Case cases[] = {
      {dir / "file", false, false, dir / "file"},
      {dir / "new.png", false, false, dir / "new.png"},
      {dir / "link-to-file", false, false, dir / "file"},  // the link stays a link
      {dir / "fifo", true, false, dir / "fifo"},
      {"-", true, true, "-"},
  };
  for (const Case& c : cases) {
    const OutputTarget t = examine_output(c.name);
    EXPECT_EQ(t.in_place, c.in_place) << c.name;
    EXPECT_EQ(t.standard_output, c.standard_output) << c.name;
    EXPECT_EQ(t.path, c.path) << c.name;
  }

  struct Refused {
    std::string name, says;
  };
  const Refused refused[] = {
      {dir / "folder", "it is a folder, not a file"},
      {".", "it is a folder, not a file"},
      {dir / "gone/x.png", "the folder '" + (dir / "gone") + "' does not exist"},
      {dir / "file/x.png", "'" + (dir / "file") + "' is not a folder"},
      {dir / "new-folder/", "it names a folder, not a file"},
      {"", "empty name"},
  };
  for (const Refused& r : refused) {
    try {
      examine_output(r.name);
      ADD_FAILURE() << "no error for '" << r.name << "'";
    } catch (const OutputError& e) {
      EXPECT_NE(std::string(e.what()).find(r.says), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "file", "folder", "link-to-file"}));
}

TEST(OutputTargets, OneDestinationNamedTwiceIsRefused) {
  ScratchDir dir;
  std::ofstream(dir / "file") << "x";
  std::filesystem::create_symlink(dir / "file", dir / "link");
  const std::string cases[][2] = {
      {dir / "a.png", dir / "a.png"},
      {dir / "a.png", dir.path().string() + "/./a.png"},
      {dir / "file", dir / "link"},
      {"-", "-"},
      {"-", "/proc/self/fd/1"},
  };
  for (const auto& c : cases) {
    EXPECT_THROW(OutputSet({c[0], c[1]}), RepeatedOutputError) << c[0] << " " << c[1];
  }
  EXPECT_NO_THROW(OutputSet({dir / "a.png", dir / "b.png"}));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"file", "link"}));
}

// A FIFO is written in place: the reader gets the bytes and the FIFO is
// still a FIFO, not replaced by a file.
TEST(OutputTargets, FifoIsWrittenInPlace) {
  ScratchDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::vector<std::uint8_t> received;
  std::thread reader([&] { received = read_bytes(fifo); });
  write_files_atomically({{dir / "beside.bin", {4, 5}}, {fifo, {1, 2, 3}}});
  reader.join();
  EXPECT_EQ(received, (std::vector<std::uint8_t>{1, 2, 3}));
  struct stat info {};
  ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"beside.bin", "fifo"}));
}

}  // namespace
}  // namespace render_tool
