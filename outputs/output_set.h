// Every output of one step of a run (one frame, or one video), written whole
// or not at all.
//
// The destinations are examined and the temporaries of the files made
// before anything is rendered, so that a bad destination costs nothing.
// Then every temporary is written and synced, the outputs written in place
// (devices, FIFOs, standard output, descriptors) are written, and last the
// files are put in place together: each new file is exchanged with the old
// one, which is kept under the temporary's name until every exchange has
// succeeded and is then removed.  Where the file system cannot exchange
// names, the old file is kept under a second name (a hard link) instead.
// A failure puts the earlier ones back, so the destinations are left as
// they were, and the message says so of each.  Only a regular file, what
// was examined, is replaced: an entry that became a folder, a link or a
// device meanwhile is left as it is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "outputs/destination.h"
#include "outputs/temporary.h"

namespace outputs {

// A file destination with the temporary that will take its place.
class PendingFile {
 public:
  explicit PendingFile(Destination destination);  // throws OutputError
  const Destination& destination() const { return destination_; }
  Temporary& temporary() { return *temporary_; }

 private:
  Destination destination_;
  std::shared_ptr<const Folder> folder_;
  std::unique_ptr<Temporary> temporary_;
};

// Gives each temporary its destination's owner and mode and syncs it.
void finish_temporary(PendingFile& file);

// Puts every file in place, or none (see above), and syncs their folders.
// `report` runs once all are in place, before an interrupt may end the run,
// so that a run that put its outputs in place also says so.
void put_in_place(std::span<PendingFile* const> files, const std::function<void()>& report);

// Writes `bytes` to a destination written in place.  A closed pipe on
// standard output throws ReaderGoneError.
void write_in_place(const Destination& destination, std::span<const std::uint8_t> bytes);
// Copies the whole file open at `fd` to a destination written in place.
void copy_in_place(const Destination& destination, int fd);

class OutputSet {
 public:
  explicit OutputSet(const std::vector<std::string>& names);  // throws OutputError
  // Destinations already examined.
  explicit OutputSet(std::vector<Destination> destinations);  // throws OutputError
  // Writes contents[i] to output i; `report` as for put_in_place.
  void write_all(const std::vector<std::vector<std::uint8_t>>& contents, const std::function<void()>& report = {});
  bool uses_standard_output() const;
  const std::vector<Destination>& destinations() const { return destinations_; }

 private:
  std::vector<Destination> destinations_;
  std::vector<std::unique_ptr<PendingFile>> pending_;  // one per file, in order
};

}  // namespace outputs
