// Folders that a run writes into: made when missing (and removed again when
// the run fails before using them), and held by one run at a time.
#pragma once

#include <string>
#include <vector>

#include "outputs/unique_fd.h"

namespace outputs {

// Makes `path` and each missing folder above it, remembering which it
// made.  An existing folder must be writable; a link to a missing folder is
// refused (it stays a link).  Unless keep() is called, the folders it made
// are removed again on destruction, deepest first, each only if empty.  A
// folder it did not make is never removed.  Throws OutputError.
class MadeFolders {
 public:
  explicit MadeFolders(const std::string& path);
  ~MadeFolders();
  MadeFolders(const MadeFolders&) = delete;
  MadeFolders& operator=(const MadeFolders&) = delete;

  void keep() { made_.clear(); }
  const std::vector<std::string>& made() const { return made_; }

 private:
  std::vector<std::string> made_;  // outermost first
};

// An exclusive lock on a folder for the lifetime of the value: a second run
// asking for the same folder fails at once.  Throws OutputError naming
// `what_for` when another process holds it.
class FolderLock {
 public:
  FolderLock(const std::string& path, const std::string& what_for);

 private:
  UniqueFd fd_;
};

}  // namespace outputs
