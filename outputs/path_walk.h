// Names walked one part at a time from a folder handle, so that every link
// anywhere in a name, not only the last part, is held to the kernel's
// protected-symlink rule (applied by us whatever the machine's own
// setting): in a sticky world-writable folder, a link is followed only when
// it is the caller's or the folder owner's.  A tool that writes as root into
// a shared folder is then never steered by another user's link.
//
// The walk ends in a folder held open as a path handle (O_PATH: it needs no
// read permission, so a folder of mode 300 works as the shell's `>` does)
// and the name of the last part in it; everything after is done relative to
// that handle, never by the path again.
#pragma once

#include <functional>
#include <string>

#include "outputs/unique_fd.h"

namespace outputs {

struct WalkedName {
  UniqueFd folder;          // a path handle on the folder the name ends in
  std::string folder_text;  // that folder as a path, for messages ("" for the working folder)
  std::string leaf;         // the last part: not a link (a link there is followed); it may not exist
  std::string via_link;     // the link the last part was reached through, or ""
  int descriptor = -1;      // the name is a descriptor of ours (/proc/self/fd/N, /dev/stderr): N
};

// Makes the missing folder `name` in the folder open at `parent_fd` (its
// path `parent_text`).  Returns false to have the walk refuse it instead.
using MakeMissingFolder = std::function<bool(int parent_fd, const std::string& parent_text, const std::string& name)>;

// Walks `name` from the folder open at `start_fd` (AT_FDCWD for the working
// folder), whose path for messages is `start_text`.  Throws OutputError,
// "<what_failed>: <why>": a link the rule does not follow, a missing folder
// (when `make_missing` does not make it), a part that is not a folder, a
// loop of links.
WalkedName walk_name(int start_fd, const std::string& start_text, const std::string& name,
                     const std::string& what_failed, const MakeMissingFolder& make_missing = {});

// `folder_text` and `leaf` as one path, for messages.
std::string joined_path(const std::string& folder_text, const std::string& leaf);

// A folder's path as messages show it: "." for the working folder.
std::string shown_folder(const std::string& folder_text);

// The descriptor a name written as one stands for (/dev/stdout, /dev/stderr,
// /dev/stdin, /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N), or -1.
int descriptor_named(const std::string& name);

}  // namespace outputs
