#include "outputs/folders.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <fcntl.h>

#include <filesystem>
#include <fstream>

#include "outputs/output_error.h"
#include "test_support/scratch_dir.h"

namespace outputs {
namespace {

// Every folder a run made and left empty goes, deepest first; a folder it
// did not make, or one that holds something, stays.
TEST(MadeFolders, RemovesWhatItMadeAndNothingElse) {
  ScratchDir dir;
  std::filesystem::create_directories(dir.path() / "existing");
  {
    MadeFolders made(dir / "existing/a/b/c");
    EXPECT_EQ(made.made(), (std::vector<std::string>{dir / "existing/a", dir / "existing/a/b", dir / "existing/a/b/c"}));
  }
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"existing"});
  EXPECT_TRUE(std::filesystem::is_empty(dir.path() / "existing"));

  {
    MadeFolders made(dir / "x/y");
    std::ofstream(dir / "x/kept-file") << "something";
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "x/kept-file"));
  EXPECT_FALSE(std::filesystem::exists(dir / "x/y"));

  {
    MadeFolders made(dir / "kept/folder");
    made.keep();
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "kept/folder"));
  {
    MadeFolders again(dir / "kept/folder");
    EXPECT_TRUE(again.made().empty());
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir / "kept/folder"));
}

TEST(MadeFolders, RefusesWhatCannotBeAFolder) {
  ScratchDir dir;
  std::ofstream(dir / "file") << "x";
  std::filesystem::create_symlink("nowhere", dir / "dangling");
  struct Case {
    std::string path, says;
  };
  const Case cases[] = {
      {dir / "file", dir / "file" + "' is not a folder"},
      {dir / "file/sub", "is not a folder"},
      {dir / "dangling", "is a link to a folder that does not exist"},
      {dir / "dangling/sub", "is a link to a folder that does not exist"},
  };
  for (const Case& c : cases) {
    try {
      MadeFolders made(c.path);
      ADD_FAILURE() << c.path;
    } catch (const OutputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dangling", "file"}));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
}

// A second lock on the same folder, by another open file (as another
// process would hold it), is refused at once; once the first is gone it is
// granted.
TEST(FolderLock, OneHolderAtATime) {
  ScratchDir dir;
  const int other = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  MadeFolders folders(dir.path().string());
  try {
    FolderLock lock(folders, "frames");
    ADD_FAILURE() << "locked twice";
  } catch (const OutputError& e) {
    EXPECT_NE(std::string(e.what()).find("another run is writing frames there"), std::string::npos) << e.what();
  }
  ::close(other);
  EXPECT_NO_THROW(FolderLock(folders, "frames"));
}

}  // namespace
}  // namespace outputs
