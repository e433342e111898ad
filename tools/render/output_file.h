// Writing outputs so that a reader never sees half a file: the bytes go to a
// temporary file beside the destination, which is renamed over it only once
// everything has been written.  On any failure the temporary is removed.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace render_tool {

// An output could not be written; what() is one line naming the path and
// the reason.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A temporary file in the destination's folder, renamed into place by
// commit(); destroyed without commit, it is removed.
class PendingFile {
 public:
  explicit PendingFile(std::string destination);  // throws OutputError
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&&) = delete;

  void write(std::span<const std::uint8_t> bytes);  // throws OutputError
  void commit();                                    // throws OutputError

  const std::string& temporary_path() const { return temporary_; }
  const std::string& destination() const { return destination_; }

 private:
  void discard() noexcept;

  std::string destination_;
  std::string temporary_;
  int fd_ = -1;
  bool committed_ = false;
};

struct OutputBlob {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

// Writes every blob to its temporary first and renames them only when all
// were written, so a failure leaves none of them behind.
void write_files_atomically(const std::vector<OutputBlob>& blobs);

// A temporary name beside `destination`, for a program (such as a video
// encoder) that writes the file itself: "<folder>/.<name>.<pid>-<n>.tmp<ext>",
// keeping the extension so the program can tell the format from it.
std::string temporary_name_beside(const std::string& destination);

}  // namespace render_tool
