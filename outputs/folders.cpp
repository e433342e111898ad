#include "outputs/folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "outputs/destination.h"
#include "outputs/output_error.h"

namespace outputs {
namespace {

[[noreturn]] void cannot_make(const std::string& path, const std::string& reason, int error) {
  throw OutputError("cannot create the folder '" + path + "': " + reason, error);
}

}  // namespace

MadeFolders::MadeFolders(const std::string& path) {
  if (path.empty()) cannot_make(path, "the name is empty", ENOENT);
  // The missing folders, from `path` outwards to the first that exists.
  std::vector<std::string> missing;
  std::filesystem::path at = std::filesystem::path(path).lexically_normal();
  if (at.has_filename() == false && at.has_parent_path()) at = at.parent_path();  // "a/b/" is "a/b"
  for (;;) {
    struct stat info {};
    if (::stat(at.c_str(), &info) == 0) {
      if (!S_ISDIR(info.st_mode)) cannot_make(path, in_quotes(at.string()) + " is not a folder", ENOTDIR);
      break;
    }
    if (errno == ENOTDIR) {  // something above is not a folder: find it to name it
      missing.clear();
      at = at.parent_path();
      continue;
    }
    if (errno != ENOENT) cannot_make(path, std::strerror(errno), errno);
    struct stat link {};
    if (::lstat(at.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
      cannot_make(path, in_quotes(at.string()) + " is a link to a folder that does not exist", ENOENT);
    }
    missing.push_back(at.string());
    if (!at.has_parent_path() || at.parent_path() == at) break;
    at = at.parent_path();
  }
  // Outermost first.
  try {
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      if (::mkdir(it->c_str(), 0777) != 0) cannot_make(path, std::strerror(errno), errno);
      made_.push_back(*it);
      // The new entry in its parent is made durable as a file would be.
      const UniqueFd parent(::open(folder_of(*it).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      if (parent) ::fsync(parent.get());
    }
  } catch (...) {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) ::rmdir(it->c_str());
    made_.clear();
    throw;
  }
  if (made_.empty()) {
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
      const int error = errno;
      throw OutputError("cannot write into the folder '" + path + "': " + std::strerror(error), error);
    }
  }
}

MadeFolders::~MadeFolders() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
    if (::rmdir(it->c_str()) != 0) break;  // not empty: it and those above it stay
  }
}

FolderLock::FolderLock(const std::string& path, const std::string& what_for)
    : fd_(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (!fd_) throw OutputError("cannot write into the folder '" + path + "': " + std::strerror(errno), errno);
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return;
  const int error = errno;
  if (error == EWOULDBLOCK) {
    throw OutputError("cannot write into the folder '" + path + "': another run is writing " + what_for +
                          " there; wait for it to end or choose another folder",
                      error);
  }
  throw OutputError("cannot lock the folder '" + path + "': " + std::strerror(error), error);
}

}  // namespace outputs
