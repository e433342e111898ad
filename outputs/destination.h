// What a destination is, decided by looking at its name before anything is
// written, and the rules for writing there.
//
// - A regular file, existing or new, is replaced whole (by a temporary put
//   in its place).  It is refused when the caller could not write it with
//   the shell's `>`, when it cannot be replaced (a mount point, an immutable
//   or append-only file, another user's file in a sticky folder), and when
//   its folder is not writable.
// - A link is followed only where the kernel's protected-symlink rule would
//   follow it: outside a sticky world-writable folder always, inside one
//   only when the link is the caller's or the folder owner's.  The file at
//   the end of the chain is the one written, so the link stays a link, and
//   a dangling link gets its target created.
// - A device, FIFO or terminal is written in place, never replaced; a
//   device is opened now, so one that cannot be opened costs no rendering.
// - Standard output ("-", or a name for the same file) is written in place.
// - A folder, a socket, and a missing or non-folder parent are refused.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

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
  std::string path;  // the file written: the name, or the end of its chain of links
  DestinationKind kind = DestinationKind::new_file;
  struct stat existing {};                 // an existing file's owner, group and mode
  std::shared_ptr<UniqueFd> opened_device;  // a device, open for writing

  bool is_replaced() const { return kind == DestinationKind::new_file || kind == DestinationKind::existing_file; }
};

// Throws OutputError with one line naming `name` when it may not be written.
Destination examine_destination(const std::string& name);

// Throws RepeatedOutputError when two destinations are one file or device.
void refuse_repeated_destinations(const std::vector<Destination>& destinations);

// The folder a path is in ("." for a bare name).
std::string folder_of(const std::string& path);

// Throws OutputError naming `for_name` and the folder when files cannot be
// created in `folder` by the caller.
void require_writable_folder(const std::string& folder, const std::string& for_name);

// Throws OutputError when the existing regular file at `path` may not be
// replaced by the caller (see above); `info` is its lstat.
void require_replaceable_file(const std::string& path, const struct stat& info, const std::string& for_name);

}  // namespace outputs
