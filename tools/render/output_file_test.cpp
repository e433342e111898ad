#include "tools/render/output_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>

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

TEST(AtomicOutput, TemporaryNameKeepsFolderAndExtension) {
  const std::string t = temporary_name_beside("some/folder/movie.mp4");
  EXPECT_EQ(t.rfind("some/folder/.movie.mp4.", 0), 0u) << t;
  EXPECT_EQ(t.substr(t.size() - 4), ".mp4");
  EXPECT_NE(temporary_name_beside("x.png"), temporary_name_beside("x.png"));
}

}  // namespace
}  // namespace render_tool
