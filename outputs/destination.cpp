#include "outputs/destination.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>

#include "outputs/output_error.h"
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
  return name == "-" || name == "/dev/stdout" || name == "/proc/self/fd/1" || name == "/dev/fd/1";
}

bool is_sticky_and_world_writable(const struct stat& folder) {
  return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
}

// The kernel's protected-symlink rule, applied by us whatever the machine's
// setting: in a sticky world-writable folder, a link is followed only when
// its owner is the caller or the folder's owner.
void require_followable_link(const std::string& link, const struct stat& link_info, const std::string& for_name) {
  const std::string folder = folder_of(link);
  struct stat folder_info {};
  if (::stat(folder.c_str(), &folder_info) != 0) fail_with_errno(for_name, errno);
  if (!is_sticky_and_world_writable(folder_info)) return;
  if (link_info.st_uid == ::geteuid() || link_info.st_uid == folder_info.st_uid) return;
  fail(for_name, "it is a link made by another user in the shared folder " + in_quotes(folder) +
                     ", which is not followed");
}

// Follows the chain of links that starts at `name`, one link at a time, to
// the first name that is not a link (it may not exist: a dangling link).
std::string end_of_links(const std::string& name) {
  std::string path = name;
  for (int hops = 0;; ++hops) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    if (hops == 40) fail_with_errno(name, ELOOP);
    require_followable_link(path, info, name);
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) fail_with_errno(name, errno);
    if (static_cast<std::size_t>(n) >= target.size()) fail_with_errno(name, ENAMETOOLONG);
    target.resize(static_cast<std::size_t>(n));
    path = (target.front() == '/' ? std::filesystem::path(target)
                                  : std::filesystem::path(folder_of(path)) / target)
               .string();
  }
}

Destination examine_new_file(Destination d) {
  const std::string folder = folder_of(d.path);
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    if (errno == ENOENT) fail(d.name, "the folder " + in_quotes(folder) + " does not exist (No such file or directory)", ENOENT);
    if (errno == ENOTDIR) fail(d.name, in_quotes(folder) + " is not a folder", ENOTDIR);
    fail_with_errno(d.name, errno);
  }
  if (!S_ISDIR(info.st_mode)) fail(d.name, in_quotes(folder) + " is not a folder", ENOTDIR);
  require_writable_folder(folder, d.name);
  d.kind = DestinationKind::new_file;
  return d;
}

}  // namespace

std::string folder_of(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

void require_writable_folder(const std::string& folder, const std::string& for_name) {
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0) return;
  const int error = errno;
  fail(for_name, "the folder " + in_quotes(folder) + " is not writable (" + std::strerror(error) + ")", error);
}

void require_replaceable_file(const std::string& path, const struct stat& info, const std::string& for_name) {
  // What the shell's `>` would refuse: a file the caller may not write
  // (read-only to it, immutable, on a read-only file system).
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) {
    const int error = errno;
    const std::string why = error == EACCES ? " (it is read-only to you)"
                            : error == EPERM ? " (it is immutable)"
                                             : "";
    fail(for_name, std::string(std::strerror(error)) + why + "; it was left as it was", error);
  }
  // Writable but not replaceable: an append-only file, a mount point.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  int flags = 0;
  if (fd && ::ioctl(fd.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & (FS_APPEND_FL | FS_IMMUTABLE_FL)) != 0) {
    fail(for_name, "it is append-only or immutable, so it cannot be replaced", EPERM);
  }
  struct statx sx {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS, &sx) == 0 &&
      (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0) {
    fail(for_name, "it is a mount point (a bind mount), which cannot be replaced", EBUSY);
  }
  const std::string folder = folder_of(path);
  require_writable_folder(folder, for_name);
  // In a sticky folder, another user's file is refused as the kernel would
  // refuse it: rename() lets only the file's owner, the folder's owner or
  // root replace it, and the protected-regular rule keeps even root from
  // writing, in a world-writable one, a file that is neither the caller's
  // nor the folder owner's.
  struct stat folder_info {};
  if (::stat(folder.c_str(), &folder_info) == 0 && (folder_info.st_mode & S_ISVTX) != 0 &&
      info.st_uid != ::geteuid()) {
    const bool kept_from_root = (folder_info.st_mode & S_IWOTH) != 0 && info.st_uid != folder_info.st_uid;
    const bool kept_from_others = folder_info.st_uid != ::geteuid() && ::geteuid() != 0;
    if (kept_from_root || kept_from_others) {
      fail(for_name, "it belongs to another user, in the shared folder " + in_quotes(folder), EPERM);
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

  // Every link on the way is held to the protected-symlink rule, whatever
  // it leads to: a planted link to a device is refused as one to a file.
  const std::string end_path = end_of_links(name);
  struct stat info {};
  if (::stat(name.c_str(), &info) == 0) {
    if (!standard_output_was_closed() && is_our_standard_output(info)) {
      d.kind = DestinationKind::standard_output;
      return d;
    }
    if (S_ISDIR(info.st_mode)) fail(name, "it is a folder, not a file", EISDIR);
    if (S_ISSOCK(info.st_mode)) fail(name, "it is a socket, not a file", ENXIO);
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
      // Opened now (the kernel follows any link, with its own rules), so
      // that a device that cannot be opened, such as a terminal we have
      // none of, is found before anything is made.
      UniqueFd fd(::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
      if (!fd) fail_with_errno(name, errno);
      d.kind = DestinationKind::in_place;
      d.existing = info;
      d.opened_device = std::make_shared<UniqueFd>(std::move(fd));
      return d;
    }
    if (S_ISFIFO(info.st_mode)) {
      // Opened when written: opening waits for a reader.
      if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0) fail_with_errno(name, errno);
      d.kind = DestinationKind::in_place;
      d.existing = info;
      return d;
    }
  } else if (errno == ENOTDIR) {
    fail(name, in_quotes(folder_of(name)) + " is not a folder", ENOTDIR);
  } else if (errno != ENOENT) {
    fail_with_errno(name, errno);
  }

  if (std::filesystem::path(name).filename().empty()) fail(name, "it names a folder, not a file", EISDIR);
  d.path = end_path;
  struct stat end {};
  if (::lstat(d.path.c_str(), &end) != 0) {
    if (errno != ENOENT) fail_with_errno(name, errno);
    return examine_new_file(std::move(d));
  }
  if (!S_ISREG(end.st_mode)) fail(name, "it is not a regular file", EINVAL);  // changed under us
  require_replaceable_file(d.path, end, name);
  d.kind = DestinationKind::existing_file;
  d.existing = end;
  return d;
}

void refuse_repeated_destinations(const std::vector<Destination>& destinations) {
  std::map<std::string, std::string> seen;  // identity -> first name
  for (const Destination& d : destinations) {
    std::string identity;
    struct stat info {};
    if (d.kind == DestinationKind::standard_output) {
      identity = "standard output";
    } else if (::stat(d.path.c_str(), &info) == 0) {
      identity = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    } else {
      std::error_code ignored;
      identity = std::filesystem::weakly_canonical(std::filesystem::absolute(d.path), ignored).string();
    }
    const auto [it, fresh] = seen.emplace(identity, d.name);
    if (!fresh) {
      throw RepeatedOutputError(in_quotes(it->second) + " and " + in_quotes(d.name) +
                                " are the same output; name each output once");
    }
  }
}

}  // namespace outputs
