#include "outputs/output_set.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "outputs/file_attributes.h"
#include "outputs/interrupts.h"
#include "outputs/output_error.h"
#include "outputs/path_walk.h"

namespace outputs {
namespace {

// The file being replaced, opened only to read its attributes: for reading,
// or for writing when it is write-only to the caller (opening changes
// nothing: it is neither truncated nor written).
UniqueFd open_old_file(const Destination& d) {
  constexpr int kFlags = O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
  UniqueFd fd(::openat(d.folder->fd(), d.leaf.c_str(), O_RDONLY | kFlags));
  if (!fd && errno == EACCES) fd = UniqueFd(::openat(d.folder->fd(), d.leaf.c_str(), O_WRONLY | kFlags));
  if (!fd) throw_write_failure(d.name, errno);
  return fd;
}

// A name for messages: standard output is named as such.
std::string shown_name(const Destination& d) {
  return d.kind == DestinationKind::standard_output && d.name == "-" ? "standard output" : d.name;
}

[[noreturn]] void throw_in_place_failure(const Destination& d, int error) {
  if (error == EPIPE && d.kind == DestinationKind::standard_output) {
    throw ReaderGoneError("cannot write standard output: its reader has gone", EPIPE);
  }
  throw_write_failure(shown_name(d), error);
}

void write_bytes_in_place(int fd, const Destination& d, std::span<const std::uint8_t> bytes) {
  try {
    write_all_bytes(fd, bytes, shown_name(d));
  } catch (const OutputError& e) {
    throw_in_place_failure(d, e.error_number());
  }
}

// The descriptor an in-place destination is written through, and whether it
// is ours to close.
struct InPlaceWriter {
  int fd = -1;
  UniqueFd owned;
};

InPlaceWriter open_in_place(const Destination& d) {
  InPlaceWriter w;
  if (d.kind == DestinationKind::standard_output) {
    if (std::fflush(stdout) != 0) throw_in_place_failure(d, errno);
    w.fd = STDOUT_FILENO;
  } else if (d.opened_device) {
    w.fd = d.opened_device->get();
  } else {
    // A FIFO: opening waits here for its reader.
    w.owned = UniqueFd(::openat(d.folder->fd(), d.leaf.c_str(), O_WRONLY | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
    if (!w.owned) throw_in_place_failure(d, errno);
    w.fd = w.owned.get();
  }
  return w;
}

void close_in_place(InPlaceWriter& w, const Destination& d) {
  // close() can report a failed delayed write; only a clean close counts.
  if (w.owned && ::close(w.owned.release()) != 0) throw_in_place_failure(d, errno);
}

// How a file was put in place, and so how it is undone.
enum class Step {
  exchanged,     // exchanged with the old entry, now under the temporary's name
  created,       // nothing was there
  linked_aside,  // no exchange here: the old file kept under a second name, then replaced
  replaced,      // no exchange here and the last of the set: replaced for good
};

struct Placed {
  Step step;
  std::string old_name;  // where the old file is kept until the set is complete, or ""
};

std::string kind_of_entry(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a link";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  return "something other than a file";
}

// Only a regular file is replaced: that is what was examined.  Throws when
// the entry `name` of `folder` has become something else since.
void require_still_a_file(int folder, const std::string& name, const Destination& d) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) throw_write_failure(d.name, errno);
  if (S_ISREG(info.st_mode)) return;
  throw OutputError("cannot write " + in_quotes(d.name) + ": it became " + kind_of_entry(info.st_mode) +
                        " while the output was made, so it was left as it is",
                    EEXIST);
}

// A file system that cannot exchange names (FUSE, for one): the old file is
// first given a second name, so that it can be put back until the whole set
// is in place, and then replaced.  The last file of a set needs no way back.
Placed put_one_without_exchange(PendingFile& file, bool last) {
  Temporary& t = file.temporary();
  const Destination& d = file.destination();
  const int folder = t.folder().fd();
  struct stat existing {};
  if (::fstatat(folder, d.leaf.c_str(), &existing, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno != ENOENT) throw_write_failure(d.name, errno);
    if (::renameat(folder, t.name().c_str(), folder, d.leaf.c_str()) != 0) throw_write_failure(d.name, errno);
    return {Step::created, ""};
  }
  require_still_a_file(folder, d.leaf, d);
  if (last) {
    if (::renameat(folder, t.name().c_str(), folder, d.leaf.c_str()) != 0) throw_write_failure(d.name, errno);
    return {Step::replaced, ""};
  }
  const std::string aside = unpredictable_hidden_name();
  if (::linkat(folder, d.leaf.c_str(), folder, aside.c_str(), 0) != 0) {
    const int error = errno;
    throw OutputError("cannot write " + in_quotes(d.name) + ": its folder's file system can neither exchange names "
                          "nor keep the old file under a second name (" + std::strerror(error) +
                          "), so it was left as it was",
                      error);
  }
  // The entry linked is the one checked: a folder cannot be linked, but a
  // link or a device put there meanwhile could.
  try {
    require_still_a_file(folder, aside, d);
  } catch (...) {
    ::unlinkat(folder, aside.c_str(), 0);
    throw;
  }
  if (::renameat(folder, t.name().c_str(), folder, d.leaf.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(folder, aside.c_str(), 0);
    throw_write_failure(d.name, error);
  }
  return {Step::linked_aside, aside};
}

// Puts one temporary in its destination's place.
Placed put_one(PendingFile& file, bool last) {
  Temporary& t = file.temporary();
  const Destination& d = file.destination();
  const int folder = t.folder().fd();
  // The old file, if any, is exchanged with the new one and kept until the
  // whole set is in place; a file that appeared since it was examined is
  // exchanged too rather than overwritten.
  if (::renameat2(folder, t.name().c_str(), folder, d.leaf.c_str(), RENAME_NOREPLACE) == 0) return {Step::created, ""};
  if (errno == EEXIST) {
    if (::renameat2(folder, t.name().c_str(), folder, d.leaf.c_str(), RENAME_EXCHANGE) == 0) {
      // What now has the temporary's name is what was there: if it is not
      // a file (a folder or a device appeared during the render), it goes
      // back.
      try {
        require_still_a_file(folder, t.name(), d);
      } catch (const OutputError&) {
        if (::renameat2(folder, t.name().c_str(), folder, d.leaf.c_str(), RENAME_EXCHANGE) == 0) throw;
        const int error = errno;
        throw OutputError("cannot write " + in_quotes(d.name) + ": what took its place while the output was made "
                              "could not be put back (" + std::strerror(error) + ") and is now " +
                              in_quotes(joined_path(t.folder().path(), t.name())),
                          error);
      }
      return {Step::exchanged, t.name()};
    }
  }
  if (errno == EINVAL || errno == ENOSYS) return put_one_without_exchange(file, last);
  throw_write_failure(d.name, errno);
}

// Undoes one step; returns 0, or the errno of an undo that failed.
int undo_one(PendingFile& file, const Placed& placed) {
  Temporary& t = file.temporary();
  const int folder = t.folder().fd();
  const char* target = file.destination().leaf.c_str();
  int done = 0;
  switch (placed.step) {
    case Step::exchanged:
      done = ::renameat2(folder, t.name().c_str(), folder, target, RENAME_EXCHANGE);
      break;
    case Step::created:
      done = ::renameat2(folder, target, folder, t.name().c_str(), RENAME_NOREPLACE);
      if (done != 0 && errno == EINVAL) done = ::renameat(folder, target, folder, t.name().c_str());
      break;
    case Step::linked_aside:
      done = ::renameat(folder, placed.old_name.c_str(), folder, target);
      break;
    case Step::replaced:
      break;
  }
  return done == 0 ? 0 : errno;
}

std::string names_in_quotes(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += in_quotes(names[i]);
  }
  return text;
}

// After a failure: the files put in place so far are put back, and the
// message says what became of each of them.
[[noreturn]] void undo_and_throw(std::span<PendingFile* const> files, const std::vector<Placed>& done,
                                 const OutputError& failure) {
  std::vector<std::string> put_back;
  std::string message = failure.what();
  for (std::size_t i = done.size(); i-- > 0;) {
    const Destination& d = files[i]->destination();
    const int error = undo_one(*files[i], done[i]);
    if (error == 0) {
      put_back.insert(put_back.begin(), d.name);
      continue;
    }
    message += "; " + in_quotes(d.name) + " was replaced and could not be put back (" + std::strerror(error) + ")";
    if (!done[i].old_name.empty()) {
      message += ", its old file is " + in_quotes(joined_path(files[i]->temporary().folder().path(), done[i].old_name));
    }
  }
  if (!put_back.empty()) {
    message += "; " + names_in_quotes(put_back) + (put_back.size() == 1 ? " was" : " were") + " left as before";
  }
  throw OutputError(message, failure.error_number());
}

[[noreturn]] void throw_not_confirmed(std::span<PendingFile* const> files, const Folder& folder, int error) {
  std::vector<std::string> names;
  for (PendingFile* file : files) names.push_back(file->destination().name);
  throw OutputError("wrote " + names_in_quotes(names) + (files.size() == 1 ? ", which is" : ", which are") +
                        " in place, but cannot confirm that " + (files.size() == 1 ? "it" : "they") +
                        " would survive a crash: syncing the folder " + in_quotes(folder.path()) + " failed (" +
                        std::strerror(error) + ")",
                    error);
}

// Puts every file in place, or undoes what it did and throws.
void put_all_in_place(std::span<PendingFile* const> files) {
  std::vector<Placed> done;
  try {
    for (std::size_t i = 0; i < files.size(); ++i) done.push_back(put_one(*files[i], i + 1 == files.size()));
  } catch (const OutputError& e) {
    undo_and_throw(files, done, e);
  }
  // Every new file is in place; the old ones, kept under other names, go.
  // One that cannot be removed is named, not left unsaid.
  std::string left_behind;
  int left_error = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    Temporary& t = files[i]->temporary();
    const std::string& old_name = done[i].old_name;
    if (!old_name.empty() && ::unlinkat(t.folder().fd(), old_name.c_str(), 0) != 0) {
      left_error = errno;
      left_behind += (left_behind.empty() ? "" : "; ") + in_quotes(files[i]->destination().name) +
                     " is in place, but the file it replaced is left as " +
                     in_quotes(joined_path(t.folder().path(), old_name)) + " (" + std::strerror(left_error) + ")";
    }
    t.release();
  }
  // The files are in place whatever the folders' sync says: a failed sync
  // names them as written, and says what is not known.
  std::set<int> synced;
  for (PendingFile* file : files) {
    const Folder& folder = file->temporary().folder();
    if (!synced.insert(folder.fd()).second) continue;
    try {
      folder.sync(file->destination().name, file->temporary().fd());
    } catch (const OutputError& e) {
      throw_not_confirmed(files, folder, e.error_number());
    }
  }
  if (!left_behind.empty()) throw OutputError(left_behind, left_error);
}

}  // namespace

PendingFile::PendingFile(Destination destination) : destination_(std::move(destination)) {
  folder_ = destination_.folder;
  // A new file is created as any would be (the umask and the folder's
  // default permissions apply); a replacement starts private and takes the
  // old file's mode once written.
  const mode_t mode = destination_.kind == DestinationKind::existing_file ? 0600 : 0666;
  temporary_ = std::make_unique<Temporary>(folder_, destination_.name, mode);
  // The old file's extended attributes and access list are kept now, before
  // anything is rendered, so that one that cannot be kept costs nothing.
  if (destination_.kind == DestinationKind::existing_file) {
    copy_extended_attributes(open_old_file(destination_).get(), temporary_->fd(), destination_.name);
  }
}

void finish_temporary(PendingFile& file) {
  const Destination& d = file.destination();
  if (d.kind == DestinationKind::existing_file) {
    file.temporary().take_owner_and_mode(d.existing.st_uid, d.existing.st_gid, d.existing.st_mode);
  }
  file.temporary().sync();
}

void put_in_place(std::span<PendingFile* const> files, const std::function<void()>& report) {
  {
    // No interrupt cuts the set in two: its cleanup waits for the whole set
    // to be in place and reported, or finds none of it done.
    UninterruptedStep step;
    if (!interrupt_arrived()) {
      put_all_in_place(files);
      if (report) report();
      return;
    }
  }
  // An interrupt came first: nothing is put in place, and the cleanup, free
  // to run now, ends the program.
  wait_for_interrupt_to_end_the_run();
}

void write_in_place(const Destination& d, std::span<const std::uint8_t> bytes) {
  InPlaceWriter w = open_in_place(d);
  write_bytes_in_place(w.fd, d, bytes);
  close_in_place(w, d);
}

void copy_in_place(const Destination& d, int fd) {
  InPlaceWriter w = open_in_place(d);
  std::vector<std::uint8_t> chunk(1 << 20);
  off_t at = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      throw OutputError("cannot read back the temporary of " + in_quotes(d.name) + ": " + std::strerror(errno), errno);
    }
    if (n == 0) break;
    write_bytes_in_place(w.fd, d, std::span(chunk.data(), static_cast<std::size_t>(n)));
    at += n;
  }
  close_in_place(w, d);
}

OutputSet::OutputSet(const std::vector<std::string>& names) : OutputSet([&] {
  std::vector<Destination> examined;
  for (const std::string& name : names) examined.push_back(examine_destination(name));
  return examined;
}()) {}

OutputSet::OutputSet(std::vector<Destination> destinations) : destinations_(std::move(destinations)) {
  refuse_repeated_destinations(destinations_);
  for (const Destination& d : destinations_) {
    if (d.is_replaced()) pending_.push_back(std::make_unique<PendingFile>(d));
  }
}

void OutputSet::write_all(const std::vector<std::vector<std::uint8_t>>& contents, const std::function<void()>& report) {
  std::size_t next = 0;
  for (std::size_t i = 0; i < destinations_.size(); ++i) {
    if (!destinations_[i].is_replaced()) continue;
    PendingFile& file = *pending_[next++];
    file.temporary().write(contents[i]);
    finish_temporary(file);
  }
  for (std::size_t i = 0; i < destinations_.size(); ++i) {
    if (!destinations_[i].is_replaced()) write_in_place(destinations_[i], contents[i]);
  }
  std::vector<PendingFile*> files;
  for (auto& p : pending_) files.push_back(p.get());
  put_in_place(files, report);
}

bool OutputSet::uses_standard_output() const {
  for (const Destination& d : destinations_) {
    if (d.kind == DestinationKind::standard_output) return true;
  }
  return false;
}

}  // namespace outputs
