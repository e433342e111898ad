#include "outputs/path_walk.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>

#include "outputs/output_error.h"

namespace outputs {
namespace {

constexpr int kMostLinks = 40;  // as the kernel's own limit

[[noreturn]] void fail(const std::string& what_failed, const std::string& reason, int error) {
  throw OutputError(what_failed + ": " + reason, error);
}

[[noreturn]] void fail_with_errno(const std::string& what_failed, int error) {
  fail(what_failed, std::strerror(error), error);
}

// One part of a name still to walk, and the link whose target it came from.
struct Part {
  std::string name;
  std::string via_link;
};

void push_parts_front(std::deque<Part>& parts, const std::string& text, const std::string& via_link) {
  std::deque<Part> fresh;
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t slash = text.find('/', at);
    const std::size_t end = slash == std::string::npos ? text.size() : slash;
    if (end > at) fresh.push_back({text.substr(at, end - at), via_link});
    if (slash == std::string::npos) break;
    at = slash + 1;
  }
  // "/" alone, or a name that is only slashes: the folder itself.
  if (fresh.empty()) fresh.push_back({".", via_link});
  parts.insert(parts.begin(), fresh.begin(), fresh.end());
}

UniqueFd open_path_handle(int at, const char* name, int flags, const std::string& what_failed) {
  UniqueFd fd(::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags));
  if (!fd) fail_with_errno(what_failed, errno);
  return fd;
}

bool is_on_procfs(int fd) {
  struct statfs info {};
  return ::fstatfs(fd, &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether the folder open at `fd` is this process's own table of open
// descriptors.
bool is_our_descriptor_folder(int fd) {
  struct stat folder {}, ours {};
  if (::fstat(fd, &folder) != 0) return false;
  for (const char* table : {"/proc/self/fd", "/proc/thread-self/fd"}) {
    if (::stat(table, &ours) == 0 && same_file(folder, ours)) return true;
  }
  return false;
}

int descriptor_number(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

// The protected-symlink rule: in a sticky world-writable folder, a link is
// followed only when its owner is the caller or the folder's owner.
void require_followable_link(int folder_fd, const std::string& folder_text, const struct stat& link,
                             const std::string& what_failed) {
  struct stat folder {};
  if (::fstat(folder_fd, &folder) != 0) fail_with_errno(what_failed, errno);
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  if (!shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid) return;
  fail(what_failed,
       "it is a link made by another user in the shared folder " + in_quotes(shown_folder(folder_text)) +
           ", which is not followed",
       EACCES);
}

std::string link_target(int folder_fd, const std::string& name, const std::string& what_failed) {
  std::string target(PATH_MAX, '\0');
  const ssize_t n = ::readlinkat(folder_fd, name.c_str(), target.data(), target.size());
  if (n < 0) fail_with_errno(what_failed, errno);
  if (static_cast<std::size_t>(n) >= target.size()) fail_with_errno(what_failed, ENAMETOOLONG);
  if (n == 0) fail_with_errno(what_failed, ENOENT);
  target.resize(static_cast<std::size_t>(n));
  return target;
}

// The path of the folder `part` of the folder at `text`.  The walk has
// followed every link before it, so each part of `text` is a real folder
// and ".." can be taken off lexically.
std::string descended(const std::string& text, const std::string& part) {
  if (part == ".") return text.empty() ? part : text;
  const std::size_t slash = text.find_last_of('/');
  const std::string last = slash == std::string::npos ? text : text.substr(slash + 1);
  if (part != ".." || last.empty() || last == "." || last == "..") return joined_path(text, part);
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : text.substr(0, slash);
}

}  // namespace

std::string joined_path(const std::string& folder_text, const std::string& leaf) {
  if (folder_text.empty()) return leaf;
  if (folder_text.back() == '/') return folder_text + leaf;
  return folder_text + "/" + leaf;
}

std::string shown_folder(const std::string& folder_text) { return folder_text.empty() ? "." : folder_text; }

int descriptor_named(const std::string& name) {
  if (name == "/dev/stdin") return STDIN_FILENO;
  if (name == "/dev/stdout") return STDOUT_FILENO;
  if (name == "/dev/stderr") return STDERR_FILENO;
  for (const char* table : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
    const std::string prefix = table;
    if (name.rfind(prefix, 0) == 0) return descriptor_number(name.substr(prefix.size()));
  }
  return -1;
}

WalkedName walk_name(int start_fd, const std::string& start_text, const std::string& name, const std::string& what_failed,
                     const MakeMissingFolder& make_missing) {
  std::deque<Part> parts;
  push_parts_front(parts, name, "");
  UniqueFd at;
  std::string text;
  if (name.front() == '/') {
    at = open_path_handle(AT_FDCWD, "/", 0, what_failed);
    text.assign(1, '/');
  } else {
    at = open_path_handle(start_fd, ".", 0, what_failed);
    text = start_text;
  }
  for (int links = 0;;) {
    const Part part = parts.front();
    parts.pop_front();
    const bool last = parts.empty();
    struct stat info {};
    if (::fstatat(at.get(), part.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      const int error = errno;
      if (error == ENOENT && last) return {std::move(at), text, part.name, part.via_link, -1};
      if (error != ENOENT) fail_with_errno(what_failed, error);
      if (!part.via_link.empty()) {
        fail(what_failed, in_quotes(part.via_link) + " is a link to a folder that does not exist", ENOENT);
      }
      if (!make_missing || !make_missing(at.get(), text, part.name)) {
        fail(what_failed,
             "the folder " + in_quotes(joined_path(text, part.name)) + " does not exist (No such file or directory)",
             ENOENT);
      }
      parts.push_front(part);  // made (or made by another meanwhile): walk into it
      continue;
    }
    if (S_ISLNK(info.st_mode)) {
      if (is_on_procfs(at.get())) {
        // A link the kernel makes (a process's open files, its working
        // folder): not text to follow but a handle on what is open.
        if (last) {
          const int n = is_our_descriptor_folder(at.get()) ? descriptor_number(part.name) : -1;
          if (n < 0) fail(what_failed, "it is a link to another process's open file, which is not followed", EACCES);
          return {std::move(at), text, part.name, part.via_link, n};
        }
        at = open_path_handle(at.get(), part.name.c_str(), 0, what_failed);
        text = descended(text, part.name);
        continue;
      }
      if (++links > kMostLinks) fail_with_errno(what_failed, ELOOP);
      require_followable_link(at.get(), text, info, what_failed);
      const std::string target = link_target(at.get(), part.name, what_failed);
      const std::string link = joined_path(text, part.name);
      if (target.front() == '/') {
        at = open_path_handle(AT_FDCWD, "/", 0, what_failed);
        text.assign(1, '/');
      }
      push_parts_front(parts, target, link);
      continue;
    }
    if (last) return {std::move(at), text, part.name, part.via_link, -1};
    if (!S_ISDIR(info.st_mode)) fail(what_failed, in_quotes(joined_path(text, part.name)) + " is not a folder", ENOTDIR);
    at = open_path_handle(at.get(), part.name.c_str(), O_NOFOLLOW, what_failed);
    text = descended(text, part.name);
  }
}

}  // namespace outputs
