#include "outputs/folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "outputs/interrupts.h"
#include "outputs/output_error.h"
#include "outputs/path_walk.h"

namespace outputs {
namespace {

std::string cannot_make_text(const std::string& path) { return "cannot create the folder " + in_quotes(path); }

[[noreturn]] void cannot_make(const std::string& path, const std::string& reason, int error) {
  throw OutputError(cannot_make_text(path) + ": " + reason, error);
}

// Makes the new entry `name` in the folder open at `parent_fd` durable, as
// a file's would be.  A parent the caller cannot read (mode 300) cannot be
// opened to be synced; the file system is synced through the new folder.
int sync_new_entry(int parent_fd, const std::string& name) {
  UniqueFd readable(::openat(parent_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (readable) return ::fsync(readable.get()) == 0 || errno == EINVAL ? 0 : errno;
  if (errno != EACCES) return errno;
  readable = UniqueFd(::openat(parent_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!readable) return errno;
  return ::syncfs(readable.get()) == 0 ? 0 : errno;
}

}  // namespace

MadeFolders::MadeFolders(const std::string& path) : path_(path) {
  if (path.empty()) cannot_make(path, "the name is empty", ENOENT);
  try {
    WalkedName walked = walk_name(AT_FDCWD, "", path, cannot_make_text(path),
                                  [this](int parent_fd, const std::string& parent_text, const std::string& name) {
                                    make(parent_fd, parent_text, name);
                                    return true;
                                  });
    struct stat info {};
    if (::fstatat(walked.folder.get(), walked.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) cannot_make(path, std::strerror(errno), errno);
      if (!walked.via_link.empty()) {
        cannot_make(path, in_quotes(walked.via_link) + " is a link to a folder that does not exist", ENOENT);
      }
      make(walked.folder.get(), walked.folder_text, walked.leaf);
    }
    const std::string text = joined_path(walked.folder_text, walked.leaf);
    UniqueFd fd(::openat(walked.folder.get(), walked.leaf.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
      if (errno == ENOTDIR) cannot_make(path, in_quotes(text) + " is not a folder", ENOTDIR);
      cannot_make(path, std::strerror(errno), errno);
    }
    folder_ = std::make_shared<const Folder>(std::move(fd), path);
  } catch (...) {
    remove_made();
    throw;
  }
  if (made_.empty() && ::faccessat(folder_->fd(), ".", W_OK | X_OK, AT_EACCESS) != 0) {
    const int error = errno;
    throw OutputError("cannot write into the folder " + in_quotes(path) + ": " + std::strerror(error), error);
  }
}

void MadeFolders::make(int parent_fd, const std::string& parent_text, const std::string& name) {
  {
    // Made and remembered as one step, so that an interrupt either removes
    // it or finds nothing made.
    UninterruptedStep step;
    if (::mkdirat(parent_fd, name.c_str(), 0777) != 0) {
      if (errno == EEXIST) return;  // another run made it meanwhile: it is walked into as found
      cannot_make(path_, std::strerror(errno), errno);
    }
    UniqueFd parent(::fcntl(parent_fd, F_DUPFD_CLOEXEC, 3));
    const int slot = remember_made_folder(parent_fd, name);
    entries_.push_back({std::move(parent), name, slot});
    made_.push_back(joined_path(parent_text, name));
  }
  if (const int error = sync_new_entry(parent_fd, name); error != 0) {
    cannot_make(path_, "its entry in " + in_quotes(shown_folder(parent_text)) + " could not be made durable (" +
                           std::strerror(error) + ")",
                error);
  }
}

void MadeFolders::keep() {
  for (const Made& m : entries_) forget_temporary(m.slot);
  entries_.clear();
  made_.clear();
}

void MadeFolders::remove_made() {
  // Deepest first; a folder that is not empty stays, and so do those above.
  while (!entries_.empty()) {
    const Made& m = entries_.back();
    if (::unlinkat(m.parent.get(), m.name.c_str(), AT_REMOVEDIR) != 0) break;
    forget_temporary(m.slot);
    entries_.pop_back();
  }
  keep();
}

MadeFolders::~MadeFolders() { remove_made(); }

FolderLock::FolderLock(MadeFolders& folders, const std::string& what_for)
    : fd_(::openat(folders.folder()->fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  const std::string& path = folders.folder()->path();
  if (!fd_ && errno == EACCES) {
    // A lock is taken on an open folder, and only a readable one opens.
    throw OutputError("cannot lock the folder " + in_quotes(path) + ": it is not readable to you (" +
                          std::strerror(EACCES) + "), and one run at a time is let write " + what_for + " there",
                      EACCES);
  }
  if (!fd_) throw OutputError("cannot write into the folder " + in_quotes(path) + ": " + std::strerror(errno), errno);
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return;
  const int error = errno;
  if (error == EWOULDBLOCK) {
    folders.keep();
    throw OutputError("cannot write into the folder " + in_quotes(path) + ": another run is writing " + what_for +
                          " there; wait for it to end or choose another folder",
                      error);
  }
  throw OutputError("cannot lock the folder " + in_quotes(path) + ": " + std::strerror(error), error);
}

}  // namespace outputs
