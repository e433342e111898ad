#include "outputs/destination.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "outputs/output_error.h"
#include "outputs/path_walk.h"
#include "outputs/standard_streams.h"

namespace outputs {
namespace {

[[noreturn]] void fail(const std::string& name, const std::string& reason, int error = 0) {
  throw OutputError("cannot write " + in_quotes(name) + ": " + reason, error);
}

[[noreturn]] void fail_with_errno(const std::string& name, int error) { fail(name, std::strerror(error), error); }

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool is_our_standard_output(const struct stat& info) {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && same_file(info, out);
}

bool names_standard_output(const std::string& name) {
  return name == "-" || descriptor_named(name) == STDOUT_FILENO;
}

// A descriptor this program was given, written through a duplicate of its
// own: the same open file, so its offset and append mode are honoured, and
// the file behind it (`2>>log.txt`) is written in place, never replaced.
// A descriptor marked close-on-exec is one the program opened itself, not
// one it was given.
Destination examine_descriptor(Destination d, int n) {
  if (n == STDOUT_FILENO) {
    if (standard_output_was_closed()) {
      throw OutputError("cannot write standard output: it was closed when the program started", EBADF);
    }
    d.kind = DestinationKind::standard_output;
    return d;
  }
  const int status = ::fcntl(n, F_GETFL);
  const int descriptor_flags = ::fcntl(n, F_GETFD);
  if (status < 0 || descriptor_flags < 0 || (descriptor_flags & FD_CLOEXEC) != 0) {
    fail(d.name, "descriptor " + std::to_string(n) + " is not open (Bad file descriptor)", EBADF);
  }
  if ((status & O_ACCMODE) == O_RDONLY) {
    fail(d.name, "descriptor " + std::to_string(n) + " is open only for reading", EBADF);
  }
  struct stat info {};
  if (::fstat(n, &info) != 0) fail_with_errno(d.name, errno);
  if (S_ISDIR(info.st_mode)) fail(d.name, "it is a folder, not a file", EISDIR);
  if (!standard_output_was_closed() && is_our_standard_output(info)) {
    // `5>&1`: the frame goes to standard output, and the report elsewhere.
    d.kind = DestinationKind::standard_output;
    return d;
  }
  UniqueFd copy(::fcntl(n, F_DUPFD_CLOEXEC, 3));
  if (!copy) fail_with_errno(d.name, errno);
  d.kind = DestinationKind::in_place;
  d.existing = info;
  d.opened_device = std::make_shared<UniqueFd>(std::move(copy));
  return d;
}

Destination examine_walked(Destination d, WalkedName walked) {
  if (walked.descriptor >= 0) return examine_descriptor(std::move(d), walked.descriptor);
  d.folder = std::make_shared<const Folder>(std::move(walked.folder), shown_folder(walked.folder_text));
  d.leaf = walked.leaf;
  d.path = joined_path(walked.folder_text, walked.leaf);
  const int folder = d.folder->fd();
  const bool names_a_folder = d.name.back() == '/';
  struct stat info {};
  if (::fstatat(folder, d.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) fail_with_errno(d.name, errno);
    if (names_a_folder) fail(d.name, "it names a folder, not a file", EISDIR);
    require_writable_folder(*d.folder, d.name);
    d.kind = DestinationKind::new_file;
    return d;
  }
  if (!standard_output_was_closed() && is_our_standard_output(info)) {
    d.kind = DestinationKind::standard_output;
    return d;
  }
  if (S_ISDIR(info.st_mode)) fail(d.name, "it is a folder, not a file", EISDIR);
  if (S_ISSOCK(info.st_mode)) fail(d.name, "it is a socket, not a file", ENXIO);
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
    // Opened now, so that a device that cannot be opened, such as a
    // terminal we have none of, is found before anything is made.
    UniqueFd fd(::openat(folder, d.leaf.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) fail_with_errno(d.name, errno);
    d.kind = DestinationKind::in_place;
    d.existing = info;
    d.opened_device = std::make_shared<UniqueFd>(std::move(fd));
    return d;
  }
  if (S_ISFIFO(info.st_mode)) {
    // Opened when written: opening waits for a reader.
    if (::faccessat(folder, d.leaf.c_str(), W_OK, AT_EACCESS) != 0) fail_with_errno(d.name, errno);
    d.kind = DestinationKind::in_place;
    d.existing = info;
    return d;
  }
  if (names_a_folder) fail(d.name, "it names a folder, not a file", EISDIR);
  if (!S_ISREG(info.st_mode)) fail(d.name, "it is not a regular file", EINVAL);  // changed under us
  require_replaceable_file(*d.folder, d.leaf, info, d.name);
  d.kind = DestinationKind::existing_file;
  d.existing = info;
  return d;
}

}  // namespace

void require_writable_folder(const Folder& folder, const std::string& for_name) {
  if (::faccessat(folder.fd(), ".", W_OK | X_OK, AT_EACCESS) == 0) return;
  const int error = errno;
  fail(for_name, "the folder " + in_quotes(folder.path()) + " is not writable (" + std::strerror(error) + ")", error);
}

void require_replaceable_file(const Folder& folder, const std::string& leaf, const struct stat& info,
                              const std::string& for_name) {
  // What the shell's `>` would refuse: a file the caller may not write
  // (read-only to it, immutable, on a read-only file system).
  if (::faccessat(folder.fd(), leaf.c_str(), W_OK, AT_EACCESS) != 0) {
    const int error = errno;
    const std::string why = error == EACCES ? " (it is read-only to you)"
                            : error == EPERM ? " (it is immutable)"
                                             : "";
    fail(for_name, std::string(std::strerror(error)) + why + "; it was left as it was", error);
  }
  // Writable but not replaceable: an append-only file, a mount point.
  const UniqueFd fd(::openat(folder.fd(), leaf.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  int flags = 0;
  if (fd && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
    fail(for_name, "it is append-only or immutable, so it cannot be replaced", EPERM);
  }
  struct statx sx {};
  if (::statx(folder.fd(), leaf.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
    fail(for_name, "it is a mount point (a bind mount), which cannot be replaced", EBUSY);
  }
  require_writable_folder(folder, for_name);
  // In a sticky folder, another user's file is refused as the kernel would
  // refuse it: rename() lets only the file's owner, the folder's owner or
  // root replace it, and the protected-regular rule keeps even root from
  // writing, in a world-writable one, a file that is neither the caller's
  // nor the folder owner's.
  struct stat folder_info {};
  if (::fstat(folder.fd(), &folder_info) == 0 && (folder_info.st_mode & S_ISVTX) != 0 &&
      info.st_uid != ::geteuid()) {
    const bool kept_from_root = (folder_info.st_mode & S_IWOTH) != 0 && info.st_uid != folder_info.st_uid;
    const bool kept_from_others = folder_info.st_uid != ::geteuid() && ::geteuid() != 0;
    if (kept_from_root || kept_from_others) {
      fail(for_name, "it belongs to another user, in the shared folder " + in_quotes(folder.path()), EPERM);
    }
  }
}

Destination examine_destination(const std::string& name) {
  if (name.empty()) throw OutputError("cannot write a file with an empty name");
  Destination d;
  d.name = d.path = name;

  if (standard_output_was_closed() && names_standard_output(name)) {
    throw OutputError("cannot write standard output: it was closed when the program started", EBADF);
  }
  if (name == "-") {
    d.kind = DestinationKind::standard_output;
    return d;
  }
  // A descriptor's name stands for the descriptor, whatever the file system
  // at /dev or /proc shows.
  const int descriptor = descriptor_named(name);
  if (descriptor >= 0) return examine_descriptor(std::move(d), descriptor);
  return examine_walked(std::move(d), walk_name(AT_FDCWD, "", name, "cannot write " + in_quotes(name)));
}

Destination examine_destination_in(const std::shared_ptr<const Folder>& folder, const std::string& leaf,
                                   const std::string& name) {
  Destination d;
  d.name = d.path = name;
  return examine_walked(std::move(d), walk_name(folder->fd(), folder->path(), leaf, "cannot write " + in_quotes(name)));
}

void refuse_repeated_destinations(const std::vector<Destination>& destinations) {
  std::map<std::string, std::string> seen;  // identity -> first name
  for (const Destination& d : destinations) {
    std::string identity;
    struct stat info {};
    if (d.kind == DestinationKind::standard_output) {
      identity = "standard output";
    } else if ((d.opened_device && ::fstat(d.opened_device->get(), &info) == 0) ||
               (d.folder && ::fstatat(d.folder->fd(), d.leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0)) {
      identity = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    } else if (d.folder && ::fstat(d.folder->fd(), &info) == 0) {
      identity = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + "/" + d.leaf;
    } else {
      identity = d.path;
    }
    const auto [it, fresh] = seen.emplace(identity, d.name);
    if (!fresh) {
      throw RepeatedOutputError(in_quotes(it->second) + " and " + in_quotes(d.name) +
                                " are the same output; name each output once");
    }
  }
}

}  // namespace outputs
