#include "outputs/temporary.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "outputs/interrupts.h"
#include "outputs/output_error.h"
#include "outputs/path_walk.h"

namespace outputs {
namespace {

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
      throw OutputError(std::string("cannot make a temporary name: ") + std::strerror(errno), errno);
    }
    got += static_cast<std::size_t>(n);
  }
  std::string text;
  for (unsigned char b : bytes) text += kAlphabet[b % 32];
  return text;
}

}  // namespace

std::string unpredictable_hidden_name() {
  std::string name(1, '.');
  name += random_letters();
  name += ".tmp";
  return name;
}

void throw_write_failure(const std::string& name, int error) {
  throw OutputError("cannot write " + in_quotes(name) + ": " + std::strerror(error), error);
}

void write_all_bytes(int fd, std::span<const std::uint8_t> bytes, const std::string& name) {
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_write_failure(name, errno);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

Folder::Folder(const std::string& path, const std::string& for_name) : path_(path) {
  WalkedName walked = walk_name(AT_FDCWD, "", path + "/.", "cannot write " + in_quotes(for_name));
  fd_ = std::move(walked.folder);
}

Folder::Folder(UniqueFd handle, std::string path) : path_(std::move(path)), fd_(std::move(handle)) {}

void Folder::sync(const std::string& for_name, int file_in_it) const {
  const UniqueFd readable(::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!readable && errno == EACCES && file_in_it >= 0) {
    if (::syncfs(file_in_it) != 0) throw_write_failure(for_name, errno);
    return;
  }
  if (!readable) throw_write_failure(for_name, errno);
  if (::fsync(readable.get()) != 0 && errno != EINVAL) throw_write_failure(for_name, errno);
}

Temporary::Temporary(std::shared_ptr<const Folder> folder, std::string for_name, mode_t mode)
    : folder_(std::move(folder)), for_name_(std::move(for_name)) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = unpredictable_hidden_name();
    // Created and remembered as one step, so that an interrupt either sees
    // it to remove or finds nothing made.
    UninterruptedStep step;
    fd_ = UniqueFd(::openat(folder_->fd(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (fd_) {
      slot_ = remember_temporary(folder_->fd(), name);
      if (slot_ < 0) {
        const int error = errno;
        ::unlinkat(folder_->fd(), name.c_str(), 0);
        throw_write_failure(for_name_, error);
      }
      name_ = std::move(name);
      return;
    }
    if (errno != EEXIST) break;
  }
  throw_write_failure(for_name_, errno);
}

Temporary::~Temporary() {
  fd_.reset();
  if (slot_ < 0) return;
  UninterruptedStep step;
  ::unlinkat(folder_->fd(), name_.c_str(), 0);
  forget_temporary(slot_);
}

void Temporary::release() {
  if (slot_ < 0) return;
  forget_temporary(slot_);
  slot_ = -1;
}

void Temporary::write(std::span<const std::uint8_t> bytes) { write_all_bytes(fd_.get(), bytes, for_name_); }

void Temporary::take_owner_and_mode(uid_t owner, gid_t group, mode_t mode) {
  // The owner first: changing it clears the set-id bits that the mode then
  // puts back.  Only root may give a file away; anyone may keep a group
  // they belong to.  What cannot be kept is left as the caller's own.
  if (::fchown(fd_.get(), owner, group) != 0) (void)!::fchown(fd_.get(), static_cast<uid_t>(-1), group);
  if (::fchmod(fd_.get(), mode & 07777) != 0) throw_write_failure(for_name_, errno);
}

void Temporary::sync() {
  if (::fsync(fd_.get()) != 0) throw_write_failure(for_name_, errno);
}

}  // namespace outputs
