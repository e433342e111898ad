// Folders that a run writes into: made when missing (and removed again when
// the run fails or is interrupted before using them), and held by one run at
// a time.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "outputs/temporary.h"
#include "outputs/unique_fd.h"

namespace outputs {

// Makes `path` and each missing folder above it, remembering which it
// made.  The path is walked one part at a time under the protected-symlink
// rule (see path_walk.h); an existing folder must be writable; a link to a
// missing folder is refused (it stays a link); a folder another run makes
// at the same moment is taken as found.  Unless keep() is called, the
// folders it made are removed again on destruction or on an interrupt,
// deepest first, each only if empty.  A folder it did not make is never
// removed.  Throws OutputError.
class MadeFolders {
 public:
  explicit MadeFolders(const std::string& path);
  ~MadeFolders();
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;

  void keep();
  const std::vector<std::string>& made() const { return made_; }
  // The folder, held open: what is written there is named relative to it.
  const std::shared_ptr<const Folder>& folder() const { return folder_; }

 private:
  void make(int parent_fd, const std::string& parent_text, const std::string& name);
  void remove_made();

  struct Made {
    UniqueFd parent;
    std::string name;
    int slot;  // remembered for an interrupt's cleanup
  };
  std::string path_;
  std::vector<std::string> made_;  // outermost first
  std::vector<Made> entries_;      // the same, as handles
  std::shared_ptr<const Folder> folder_;
};

// An exclusive lock on the folder for the lifetime of the value: a second
// run asking for the same folder fails at once.  Throws OutputError naming
// `what_for` when another process holds it; the folders `folders` made are
// then kept, for that run writes into them.
class FolderLock {
 public:
  FolderLock(MadeFolders& folders, const std::string& what_for);

 private:
  UniqueFd fd_;
};

}  // namespace outputs
