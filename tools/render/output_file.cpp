#include "tools/render/output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include "tools/render/interrupt_cleanup.h"

namespace render_tool {
namespace {

std::string describe_failure(const std::string& name, int error) {
  return "cannot write '" + name + "': " + std::strerror(error);
}

std::string folder_of(const std::string& path) {
  const std::string parent = std::filesystem::path(path).parent_path().string();
  return parent.empty() ? "." : parent;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool is_our_standard_output(const struct stat& info) {
  struct stat out {};
  return ::fstat(STDOUT_FILENO, &out) == 0 && same_file(info, out);
}

// Twelve letters and digits from the kernel's random source: 60 bits, not
// guessable from the process id or the time.
std::string random_letters() {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz012345";
  unsigned char bytes[12];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OutputError(std::string("cannot make a temporary name: ") + std::strerror(errno));
    }
    got += static_cast<std::size_t>(n);
  }
  std::string text;
  for (unsigned char b : bytes) text += kAlphabet[b % 32];
  return text;
}

void write_all_bytes(int fd, std::span<const std::uint8_t> bytes, const std::string& name) {
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OutputError(describe_failure(name, errno));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

OutputTarget examine_output(const std::string& name) {
  if (name.empty()) throw OutputError("cannot write a file with an empty name");
  OutputTarget target{name, name, false, false};
  if (name == "-") {
    target.in_place = target.standard_output = true;
    return target;
  }

  struct stat info {};
  if (::stat(name.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw OutputError("cannot write '" + name + "': it is a folder, not a file");
    if (is_our_standard_output(info)) {
      target.in_place = target.standard_output = true;
      return target;
    }
    if (S_ISREG(info.st_mode)) {
      // A link to a file: the file is replaced and the link stays a link.
      struct stat link {};
      if (::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        std::error_code ignored;
        const auto resolved = std::filesystem::canonical(name, ignored);
        if (!resolved.empty()) target.path = resolved.string();
      }
      return target;
    }
    // A device, FIFO or terminal: written in place.
    if (::access(name.c_str(), W_OK) != 0) throw OutputError(describe_failure(name, errno));
    target.in_place = true;
    return target;
  }

  const int error = errno;
  if (std::filesystem::path(name).filename().empty()) {
    throw OutputError("cannot write '" + name + "': it names a folder, not a file");
  }
  const std::string folder = folder_of(name);
  struct stat folder_info {};
  if (error == ENOTDIR || (::stat(folder.c_str(), &folder_info) == 0 && !S_ISDIR(folder_info.st_mode))) {
    throw OutputError("cannot write '" + name + "': '" + folder + "' is not a folder");
  }
  if (error == ENOENT && ::stat(folder.c_str(), &folder_info) != 0 && errno == ENOENT) {
    throw OutputError("cannot write '" + name + "': the folder '" + folder + "' does not exist (No such file or directory)");
  }
  if (error != ENOENT) throw OutputError(describe_failure(name, error));
  return target;
}

void refuse_repeated_outputs(const std::vector<OutputTarget>& targets) {
  std::map<std::string, std::string> seen;  // identity -> first name
  for (const OutputTarget& t : targets) {
    std::string identity;
    struct stat info {};
    if (t.standard_output) {
      identity = "standard output";
    } else if (::stat(t.path.c_str(), &info) == 0) {
      identity = std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    } else {
      std::error_code ignored;
      identity = std::filesystem::weakly_canonical(std::filesystem::absolute(t.path), ignored).string();
    }
    const auto [it, fresh] = seen.emplace(identity, t.name);
    if (!fresh) {
      throw RepeatedOutputError("'" + it->second + "' and '" + t.name +
                                "' are the same output; name each output once");
    }
  }
}

OwnedTemporary::OwnedTemporary(const std::string& folder, const std::string& for_name) : for_name_(for_name) {
  const std::filesystem::path base(folder.empty() ? "." : folder);
  // 0666 less the umask: the permissions any newly created file would get.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = random_letters();
    name.insert(name.begin(), '.');
    name += ".tmp";
    path_ = (base / name).string();
    UninterruptedStep step;
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
      owned_ = true;
      slot_ = remember_temporary(path_);
      return;
    }
    if (errno != EEXIST) break;
  }
  const int error = errno;
  path_.clear();
  throw OutputError(describe_failure(for_name_, error));
}

OwnedTemporary::OwnedTemporary(OwnedTemporary&& other) noexcept
    : for_name_(std::move(other.for_name_)),
      path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      slot_(std::exchange(other.slot_, -1)),
      owned_(std::exchange(other.owned_, false)) {}

OwnedTemporary::~OwnedTemporary() { discard(); }

void OwnedTemporary::discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (owned_) {
    UninterruptedStep step;
    ::unlink(path_.c_str());
    forget_temporary(slot_);
    owned_ = false;
  }
}

void OwnedTemporary::write(std::span<const std::uint8_t> bytes) { write_all_bytes(fd_, bytes, for_name_); }

void OwnedTemporary::close() {
  // close() can report a failed delayed write (a full disk on some file
  // systems); only a file that closed cleanly is used.
  if (fd_ < 0) return;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) throw OutputError(describe_failure(for_name_, errno));
}

void OwnedTemporary::rename_to(const std::string& destination) {
  close();
  UninterruptedStep step;
  if (::rename(path_.c_str(), destination.c_str()) != 0) throw OutputError(describe_failure(for_name_, errno));
  forget_temporary(slot_);
  owned_ = false;
}

PendingFile::PendingFile(const OutputTarget& target)
    : destination_(target.path), temporary_(folder_of(target.path), target.name) {}

void PendingFile::commit() { temporary_.rename_to(destination_); }

void write_in_place(const OutputTarget& target, std::span<const std::uint8_t> bytes) {
  if (target.standard_output) {
    const std::string name = target.name == "-" ? "standard output" : target.name;
    if (std::fflush(stdout) != 0) throw OutputError("cannot write '" + name + "': " + std::strerror(errno));
    write_all_bytes(STDOUT_FILENO, bytes, name);
    return;
  }
  // No O_CREAT: the output is a device, FIFO or terminal that exists.  A
  // FIFO waits here for its reader.
  const int fd = ::open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw OutputError(describe_failure(target.name, errno));
  try {
    write_all_bytes(fd, bytes, target.name);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw OutputError(describe_failure(target.name, errno));
}

void copy_in_place(const OutputTarget& target, int fd) {
  const bool to_standard_output = target.standard_output;
  if (to_standard_output) std::fflush(stdout);
  const int out = to_standard_output ? STDOUT_FILENO : ::open(target.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (out < 0) throw OutputError(describe_failure(target.name, errno));
  std::vector<std::uint8_t> chunk(1 << 20);
  off_t at = 0;
  try {
    while (true) {
      const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), at);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw OutputError("cannot read back the temporary of '" + target.name + "': " + std::strerror(errno));
      if (n == 0) break;
      write_all_bytes(out, std::span(chunk.data(), static_cast<std::size_t>(n)), target.name);
      at += n;
    }
  } catch (...) {
    if (!to_standard_output) ::close(out);
    throw;
  }
  if (!to_standard_output && ::close(out) != 0) throw OutputError(describe_failure(target.name, errno));
}

OutputSet::OutputSet(const std::vector<std::string>& names) {
  for (const std::string& name : names) targets_.push_back(examine_output(name));
  refuse_repeated_outputs(targets_);
  pending_.reserve(targets_.size());
  for (const OutputTarget& t : targets_) {
    if (!t.in_place) pending_.emplace_back(t);
  }
}

void OutputSet::write_all(const std::vector<std::vector<std::uint8_t>>& contents) {
  std::size_t next_pending = 0;
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (!targets_[i].in_place) pending_[next_pending++].write(contents[i]);
  }
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (targets_[i].in_place) write_in_place(targets_[i], contents[i]);
  }
  for (PendingFile& file : pending_) file.commit();
}

bool OutputSet::uses_standard_output() const {
  for (const OutputTarget& t : targets_) {
    if (t.standard_output) return true;
  }
  return false;
}

void write_files_atomically(const std::vector<OutputBlob>& blobs) {
  std::vector<std::string> names;
  std::vector<std::vector<std::uint8_t>> contents;
  for (const OutputBlob& b : blobs) {
    names.push_back(b.path);
    contents.push_back(b.bytes);
  }
  OutputSet(names).write_all(contents);
}

}  // namespace render_tool
