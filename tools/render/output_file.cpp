#include "tools/render/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace render_tool {
namespace {

std::string describe_failure(const std::string& path, int error) {
  return "cannot write '" + path + "': " + std::strerror(error);
}

}  // namespace

std::string temporary_name_beside(const std::string& destination) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path dest(destination);
  std::string name = ".";
  name += dest.filename().string();
  name += '.';
  name += std::to_string(::getpid());
  name += '-';
  name += std::to_string(counter++);
  name += ".tmp";
  name += dest.extension().string();
  return (dest.parent_path() / name).string();
}

PendingFile::PendingFile(std::string destination) : destination_(std::move(destination)) {
  if (destination_.empty()) throw OutputError("cannot write a file with an empty name");
  if (std::filesystem::path(destination_).filename().empty()) {
    throw OutputError("cannot write '" + destination_ + "': it names a folder, not a file");
  }
  // A fresh name each time, created exclusively; 0666 less the umask, the
  // permissions any newly created file would get.
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary_ = temporary_name_beside(destination_);
    fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0) return;
    if (errno != EEXIST) break;
  }
  const int error = errno;
  temporary_.clear();
  throw OutputError(describe_failure(destination_, error));
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : destination_(std::move(other.destination_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)),
      committed_(std::exchange(other.committed_, true)) {}

PendingFile::~PendingFile() { discard(); }

void PendingFile::discard() noexcept {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

void PendingFile::write(std::span<const std::uint8_t> bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw OutputError(describe_failure(destination_, errno));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void PendingFile::commit() {
  // close() can report a failed delayed write (full disk on some file
  // systems); only a file that closed cleanly is renamed into place.
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0) throw OutputError(describe_failure(destination_, errno));
  if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
    throw OutputError(describe_failure(destination_, errno));
  }
  committed_ = true;
}

void write_files_atomically(const std::vector<OutputBlob>& blobs) {
  std::vector<PendingFile> pending;
  pending.reserve(blobs.size());
  for (const OutputBlob& blob : blobs) {
    pending.emplace_back(blob.path);
    pending.back().write(blob.bytes);
  }
  for (PendingFile& file : pending) file.commit();
}

}  // namespace render_tool
