// What belongs to a file besides its bytes, owner and mode: its extended
// attributes, its POSIX access list among them.  A replacement keeps them,
// or the file is not replaced, so that access is never widened silently.
#pragma once

#include <string>

namespace outputs {

// Copies every extended attribute of the file open at `from_fd` that the
// caller can read (the access list included; the few that belong to one
// file system alone are left, as the system's table of them says) to the
// file open at `to_fd`.  Throws OutputError naming `for_name` when one
// cannot be kept there.
void copy_extended_attributes(int from_fd, int to_fd, const std::string& for_name);

}  // namespace outputs
