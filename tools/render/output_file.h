// Writing outputs so that a reader never sees half a file.
//
// A regular file (or a name not yet taken) is written to a temporary file
// beside it, which is renamed over it only once everything has been
// written; on any failure the temporary is removed.  Anything else that can
// be written (a device such as /dev/null, a FIFO, a terminal, standard
// output given as "-" or /dev/stdout) cannot be replaced: it is written in
// place, after every temporary of the run has been written, so that a
// failure before that point leaves nothing written anywhere.
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

// The same destination was named twice on one command line (a usage
// mistake rather than a file that cannot be written).
class RepeatedOutputError : public OutputError {
 public:
  using OutputError::OutputError;
};

// Where one output goes, decided by looking at its name before anything is
// written.
struct OutputTarget {
  std::string name;        // as given, for messages
  std::string path;        // where the bytes go: the name, or a link's target
  bool in_place = false;   // not a regular file: written in place, never replaced
  bool standard_output = false;  // our own standard output ("-", /dev/stdout, ...)
};

// Looks at `name`: throws OutputError when it is a folder, its folder is
// missing or is not a folder, or it exists and cannot be written.
OutputTarget examine_output(const std::string& name);

// Throws RepeatedOutputError when two targets are one file or device.
void refuse_repeated_outputs(const std::vector<OutputTarget>& targets);

// A temporary file of our own in `folder`: created exclusively under an
// unpredictable short name (so that no file planted there is written
// through, and no valid destination name grows past the file system's
// limit), remembered for removal on an interrupt, and removed on
// destruction unless released.
class OwnedTemporary {
 public:
  explicit OwnedTemporary(const std::string& folder, const std::string& for_name);  // throws OutputError
  ~OwnedTemporary();
  OwnedTemporary(const OwnedTemporary&) = delete;
  OwnedTemporary& operator=(const OwnedTemporary&) = delete;
  OwnedTemporary(OwnedTemporary&& other) noexcept;
  OwnedTemporary& operator=(OwnedTemporary&&) = delete;

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }
  void write(std::span<const std::uint8_t> bytes);  // throws OutputError naming `for_name`
  void close();                                     // throws OutputError
  // Renames the file to `destination` and stops owning it.
  void rename_to(const std::string& destination);  // throws OutputError

 private:
  void discard() noexcept;

  std::string for_name_;
  std::string path_;
  int fd_ = -1;
  int slot_ = -1;
  bool owned_ = false;
};

// A temporary beside a regular destination, renamed into place by commit().
class PendingFile {
 public:
  explicit PendingFile(const OutputTarget& target);  // throws OutputError
  explicit PendingFile(const std::string& destination) : PendingFile(examine_output(destination)) {}

  void write(std::span<const std::uint8_t> bytes) { temporary_.write(bytes); }
  void commit();  // throws OutputError
  const OwnedTemporary& temporary() const { return temporary_; }
  const std::string& destination() const { return destination_; }

 private:
  std::string destination_;
  OwnedTemporary temporary_;
};

// Writes `bytes` to an output that is written in place.
void write_in_place(const OutputTarget& target, std::span<const std::uint8_t> bytes);  // throws OutputError

// Copies the whole file open at `fd` (from its start) to an output that is
// written in place.
void copy_in_place(const OutputTarget& target, int fd);  // throws OutputError

// Every output of one step of a run, checked and prepared before anything
// is made, so that a bad destination costs no rendering.
class OutputSet {
 public:
  explicit OutputSet(const std::vector<std::string>& names);  // throws OutputError
  // Writes contents[i] to output i: the temporaries first, then the
  // outputs written in place, then the renames.
  void write_all(const std::vector<std::vector<std::uint8_t>>& contents);
  bool uses_standard_output() const;
  const std::vector<OutputTarget>& targets() const { return targets_; }

 private:
  std::vector<OutputTarget> targets_;
  std::vector<PendingFile> pending_;  // one per regular target, in order
};

struct OutputBlob {
  std::string path;
  std::vector<std::uint8_t> bytes;
};

// Shorthand for an OutputSet of the blobs' paths written with their bytes.
void write_files_atomically(const std::vector<OutputBlob>& blobs);

}  // namespace render_tool
