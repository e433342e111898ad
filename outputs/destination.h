// What a destination is, decided by looking at its name before anything is
// written, and the rules for writing there.
//
// - A regular file, existing or new, is replaced whole (by a temporary put
//   in its place).  It is refused when the caller could not write it with
//   the shell's `>`, when it cannot be replaced (a mount point, an immutable
//   or append-only file, another user's file in a sticky folder), and when
//   its folder is not writable.
// - Every link in the name, in any part of it, is followed only where the
//   kernel's protected-symlink rule would follow it (see path_walk.h).  The
//   file at the end of the chain is the one written, so the link stays a
//   link, and a dangling link gets its target created.
// - A device, FIFO or terminal is written in place, never replaced; a
//   device is opened now, so one that cannot be opened costs no rendering.
// - A name for a descriptor the program was given (/dev/stderr, /dev/fd/N,
//   /proc/self/fd/N) is written through that descriptor, in place, at its
//   offset and in its append mode; standard output ("-", or a name for the
//   same file) is written in place too.
// - A folder, a socket, and a missing or non-folder parent are refused.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "outputs/temporary.h"
#include "outputs/unique_fd.h"

namespace outputs {

enum class DestinationKind {
  new_file,
  existing_file,
  in_place,
  standard_output,
};

struct Destination {
  std::string name;  // as given, for messages
  std::string path;  // the file written: the name, or the end of its chain of links (for messages)
  DestinationKind kind = DestinationKind::new_file;
  struct stat existing {};                 // an existing file's owner, group and mode
  std::shared_ptr<UniqueFd> opened_device;  // a device or a descriptor, open for writing
  std::shared_ptr<const Folder> folder;     // the folder the name ends in (not for standard output)
  std::string leaf;                         // the entry in it that is written

  bool is_replaced() const { return kind == DestinationKind::new_file || kind == DestinationKind::existing_file; }
};

// Throws OutputError with one line naming `name` when it may not be written.
Destination examine_destination(const std::string& name);

// As examine_destination, for the entry `leaf` of a folder already walked
// (an animation's frames); `name` is its name for messages.
Destination examine_destination_in(const std::shared_ptr<const Folder>& folder, const std::string& leaf,
                                   const std::string& name);

// Throws RepeatedOutputError when two destinations are one file or device.
void refuse_repeated_destinations(const std::vector<Destination>& destinations);

// Throws OutputError naming `for_name` and the folder when files cannot be
// created in `folder` by the caller.
void require_writable_folder(const Folder& folder, const std::string& for_name);

// Throws OutputError when the existing regular file `leaf` of `folder` may
// not be replaced by the caller (see above); `info` is its lstat.
void require_replaceable_file(const Folder& folder, const std::string& leaf, const struct stat& info,
                              const std::string& for_name);

}  // namespace outputs
