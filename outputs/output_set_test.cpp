#include "outputs/output_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>

#include "outputs/output_error.h"
#include "test_support/scratch_dir.h"

namespace outputs {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_files(const std::vector<std::pair<std::string, Bytes>>& files) {
  std::vector<std::string> names;
  std::vector<Bytes> contents;
  for (const auto& [name, bytes] : files) {
    names.push_back(name);
    contents.push_back(bytes);
  }
  OutputSet(names).write_all(contents);
}

mode_t mode_of(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

std::vector<std::string> hidden_entries(const ScratchDir& dir) {
  std::vector<std::string> hidden;
  for (const std::string& name : dir.entries()) {
    if (name[0] == '.') hidden.push_back(name);
  }
  return hidden;
}

TEST(OutputSet, WritesTheBytesAndLeavesNoTemporary) {
  ScratchDir dir;
  write_files({{dir / "a.bin", {1, 2, 3}}, {dir / "b.bin", {9, 8}}});
  EXPECT_EQ(read_bytes(dir / "a.bin"), (Bytes{1, 2, 3}));
  EXPECT_EQ(read_bytes(dir / "b.bin"), (Bytes{9, 8}));

  // An existing file is replaced whole.
  write_files({{dir / "a.bin", {7}}});
  EXPECT_EQ(read_bytes(dir / "a.bin"), Bytes{7});
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.bin", "b.bin"}));
}

// A new file gets what any new file would (0666 less the umask); a replaced
// file keeps its own mode, private or read-only to others.
TEST(OutputSet, ReplacedFilesKeepTheirModeAndNewOnesGetTheUsual) {
  ScratchDir dir;
  const mode_t mask = ::umask(022);
  write_files({{dir / "new.png", {0}}});
  EXPECT_EQ(mode_of(dir / "new.png"), 0644u);
  for (const mode_t kept : {0600u, 0640u, 0604u, 0755u}) {
    std::ofstream(dir / "old.png") << "old";
    ASSERT_EQ(::chmod((dir / "old.png").c_str(), kept), 0);
    write_files({{dir / "old.png", {1}}});
    EXPECT_EQ(mode_of(dir / "old.png"), kept);
    EXPECT_EQ(read_bytes(dir / "old.png"), Bytes{1});
  }
  ::umask(mask);
  EXPECT_TRUE(hidden_entries(dir).empty());
}

// A failure while preparing leaves nothing behind: not the file that
// failed, not the ones before it, not a temporary.
TEST(OutputSet, FailureBeforeWritingLeavesNothing) {
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
      write_files({{dir / "good.png", {1, 2}}, {bad, {3}}});
      ADD_FAILURE() << "no error for '" << bad << "'";
    } catch (const OutputError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(bad), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain-file"})) << bad;
  }
}

// When a later file cannot be put in place, the earlier ones, already
// exchanged, are put back: every destination is as it was.
TEST(OutputSet, FailedLaterReplacementLeavesTheEarlierOnesAsTheyWere) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "sub");
  std::ofstream(dir / "a.png") << "old a";
  std::ofstream(dir / "sub/b.raw") << "old b";
  for (const bool b_exists : {true, false}) {
    if (!b_exists) std::filesystem::remove(dir / "sub/b.raw");
    OutputSet set({dir / "new.png", dir / "a.png", dir / "sub/b.raw"});
    // The last temporary vanishes before the files are put in place, so its
    // rename fails after the first two have succeeded.
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / "sub")) {
      if (e.path().filename().string()[0] == '.') std::filesystem::remove(e.path());
    }
    EXPECT_THROW(set.write_all({{1}, {2}, {3}}), OutputError);
    EXPECT_EQ(read_bytes(dir / "a.png"), Bytes({'o', 'l', 'd', ' ', 'a'}));
    EXPECT_FALSE(std::filesystem::exists(dir / "new.png"));
    EXPECT_EQ(std::filesystem::exists(dir / "sub/b.raw"), b_exists);
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.png", "sub"}));
}

// Only what was examined is replaced: an entry that became a folder, a link
// or a FIFO after the set was prepared is left as it is, and so is the
// set's other file, already put in place and then put back.
TEST(OutputSet, EntryThatChangedKindIsLeftAsItIs) {
  struct Case {
    std::string what;
    std::function<void(const std::string&)> change;
  };
  const Case cases[] = {
      {"a folder", [](const std::string& p) { std::filesystem::create_directories(p + "/inside"); }},
      {"a link", [](const std::string& p) { std::filesystem::create_symlink("elsewhere", p); }},
      {"a FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
  };
  for (const Case& c : cases) {
    for (const bool existed : {true, false}) {
      ScratchDir dir;
      std::ofstream(dir / "first.png") << "old";
      if (existed) std::ofstream(dir / "changed") << "old";
      try {
        OutputSet set({dir / "first.png", dir / "changed"});
        std::filesystem::remove(dir / "changed");
        c.change(dir / "changed");
        set.write_all({{1}, {2}});
        ADD_FAILURE() << c.what;
      } catch (const OutputError& e) {
        EXPECT_NE(std::string(e.what()).find("it became " + c.what), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("'" + (dir / "first.png") + "' was left as before"), std::string::npos)
            << e.what();
      }
      EXPECT_EQ(read_bytes(dir / "first.png"), Bytes({'o', 'l', 'd'})) << c.what;
      EXPECT_NE(std::filesystem::symlink_status(dir / "changed").type(), std::filesystem::file_type::regular);
      EXPECT_TRUE(hidden_entries(dir).empty()) << c.what;
    }
  }
}

TEST(OutputSet, UnwrittenSetLeavesNoTemporary) {
  ScratchDir dir;
  {
    OutputSet set({dir / "half.png"});
    EXPECT_EQ(hidden_entries(dir).size(), 1u);  // the temporary, under a name of its own
  }
  EXPECT_TRUE(dir.entries().empty());
}

// The temporary's name is short whatever the destination's (so a valid name
// of 255 bytes still works), hidden, and not guessable from the process.
TEST(OutputSet, TemporaryNamesAreShortHiddenAndUnpredictable) {
  ScratchDir dir;
  const std::string longest(255, 'n');
  const auto folder = std::make_shared<const Folder>(dir.path().string(), longest);
  Temporary a(folder, longest, 0600);
  Temporary b(folder, longest, 0600);
  for (const Temporary* t : {&a, &b}) {
    EXPECT_EQ(t->name()[0], '.');
    EXPECT_LE(t->name().size(), 20u) << t->name();
    EXPECT_EQ(t->name().find(std::to_string(::getpid())), std::string::npos) << t->name();
  }
  EXPECT_NE(a.name(), b.name());
  write_files({{dir / longest, {7}}});
  EXPECT_EQ(read_bytes(dir / longest), Bytes{7});
}

// A destination whose own path is just valid, though its temporary's full
// path would pass PATH_MAX: the temporary is named from its folder.
TEST(OutputSet, DestinationNearPathMax) {
  ScratchDir dir;
  std::filesystem::path folder = dir.path();
  while (folder.string().size() < PATH_MAX - 300) folder /= std::string(200, 'd');
  folder /= std::string(PATH_MAX - 12 - folder.string().size(), 'e');
  std::filesystem::create_directories(folder);
  const std::string destination = (folder / "f.png").string();
  ASSERT_LT(destination.size(), static_cast<std::size_t>(PATH_MAX));
  ASSERT_GT(destination.size() + 12, static_cast<std::size_t>(PATH_MAX));
  write_files({{destination, {5}}});
  EXPECT_EQ(read_bytes(destination), Bytes{5});
}

TEST(OutputSet, OneDestinationNamedTwiceIsRefused) {
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
TEST(OutputSet, FifoIsWrittenInPlace) {
  ScratchDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  Bytes received;
  std::thread reader([&] { received = read_bytes(fifo); });
  write_files({{dir / "beside.bin", {4, 5}}, {fifo, {1, 2, 3}}});
  reader.join();
  EXPECT_EQ(received, (Bytes{1, 2, 3}));
  struct stat info {};
  ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"beside.bin", "fifo"}));
}

// Links: the file at the end of the chain is written and the links stay
// links; a dangling link gets its target created.
TEST(OutputSet, LinksStayLinks) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "elsewhere");
  std::ofstream(dir / "elsewhere/file") << "old";
  std::filesystem::create_symlink("elsewhere/file", dir / "relative");
  std::filesystem::create_symlink(dir / "relative", dir / "chain");
  std::filesystem::create_symlink("elsewhere/new", dir / "dangling");
  write_files({{dir / "chain", {1}}, {dir / "dangling", {2}}});
  EXPECT_EQ(read_bytes(dir / "elsewhere/file"), Bytes{1});
  EXPECT_EQ(read_bytes(dir / "elsewhere/new"), Bytes{2});
  for (const char* link : {"relative", "chain", "dangling"}) {
    EXPECT_TRUE(std::filesystem::is_symlink(dir / link)) << link;
  }
  EXPECT_TRUE(hidden_entries(dir).empty());
}

}  // namespace
}  // namespace outputs
