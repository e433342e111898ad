// Temporary files beside their destinations, in a folder held open.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "outputs/unique_fd.h"

namespace outputs {

// A folder held open, so that the files in it are named relative to it: a
// temporary then works beside any destination whose own path is valid, even
// when the temporary's full path would pass PATH_MAX, and nothing is found
// again by its path once it was walked.  The handle is a path handle
// (O_PATH), which needs no read permission on the folder.
class Folder {
 public:
  // Walks `path` (see walk_name) to the folder.  Throws OutputError naming
  // `for_name`.
  Folder(const std::string& path, const std::string& for_name);
  // The folder a walk ended in; `path` is for messages.
  Folder(UniqueFd handle, std::string path);
  int fd() const { return fd_.get(); }
  const std::string& path() const { return path_; }
  // Makes the folder's entries (renames, removals) durable.  A folder the
  // caller cannot read (mode 300) cannot be opened to be synced; its file
  // system is synced instead, through `file_in_it`, a file open there.
  // Throws.
  void sync(const std::string& for_name, int file_in_it = -1) const;

 private:
  std::string path_;
  UniqueFd fd_;
};

// A temporary file of our own: created exclusively under an unpredictable
// short hidden name (no file planted there is written through, and no valid
// destination name grows past the file system's limit), remembered for
// removal on an interrupt, and removed on destruction unless it was put in
// place.
class Temporary {
 public:
  // `mode`: the permissions it is created with (before the umask).  Throws
  // OutputError naming `for_name`.
  Temporary(std::shared_ptr<const Folder> folder, std::string for_name, mode_t mode);
  ~Temporary();
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  Temporary(Temporary&&) = delete;

  void write(std::span<const std::uint8_t> bytes);  // throws
  // Gives it the owner, group and mode of the file it replaces, as far as
  // the caller may set them (the mode always; the owner only as root).
  void take_owner_and_mode(uid_t owner, gid_t group, mode_t mode);  // throws
  // Makes its contents durable.  Throws.
  void sync();

  int fd() const { return fd_.get(); }
  const std::string& name() const { return name_; }  // within the folder
  const Folder& folder() const { return *folder_; }
  const std::string& for_name() const { return for_name_; }
  // It is no longer ours to remove: it was put in place.
  void release();

 private:
  std::shared_ptr<const Folder> folder_;
  std::string for_name_;
  std::string name_;
  UniqueFd fd_;
  int slot_ = -1;
};

// A short hidden name not guessable from the process or the time
// (".<twelve letters>.tmp"), for a file of the tool's own beside others.
std::string unpredictable_hidden_name();

// "cannot write '<name>': <strerror>", as an OutputError.
[[noreturn]] void throw_write_failure(const std::string& name, int error);

// Writes all of `bytes` to `fd`, or throws naming `name`.
void write_all_bytes(int fd, std::span<const std::uint8_t> bytes, const std::string& name);

}  // namespace outputs
