#include "outputs/output_set.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>

#include "outputs/interrupts.h"
#include "outputs/output_error.h"

namespace outputs {
namespace {

std::string file_name_of(const std::string& path) { return std::filesystem::path(path).filename().string(); }

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
    w.owned = UniqueFd(::open(d.path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (!w.owned) throw_in_place_failure(d, errno);
    w.fd = w.owned.get();
  }
  return w;
}

void close_in_place(InPlaceWriter& w, const Destination& d) {
  // close() can report a failed delayed write; only a clean close counts.
  if (w.owned && ::close(w.owned.release()) != 0) throw_in_place_failure(d, errno);
}

enum class Step { none, exchanged, created, replaced_for_good };

// Puts one temporary in its destination's place.
Step put_one(PendingFile& file) {
  Temporary& t = file.temporary();
  const int folder = t.folder().fd();
  const std::string target = file_name_of(file.destination().path);
  // The old file, if any, is exchanged with the new one and kept until the
  // whole set is in place; a file that appeared since it was examined is
  // exchanged too rather than overwritten.
  if (::renameat2(folder, t.name().c_str(), folder, target.c_str(), RENAME_NOREPLACE) == 0) return Step::created;
  if (errno == EEXIST && ::renameat2(folder, t.name().c_str(), folder, target.c_str(), RENAME_EXCHANGE) == 0) {
    return Step::exchanged;
  }
  // A file system that cannot exchange (or refuse to replace) still gets
  // the file whole, but the step cannot be undone.
  if ((errno == EINVAL || errno == ENOSYS) && ::renameat(folder, t.name().c_str(), folder, target.c_str()) == 0) {
    return Step::replaced_for_good;
  }
  throw_write_failure(t.for_name(), errno);
}

void undo_one(PendingFile& file, Step step) {
  Temporary& t = file.temporary();
  const int folder = t.folder().fd();
  const std::string target = file_name_of(file.destination().path);
  if (step == Step::exchanged) {
    ::renameat2(folder, t.name().c_str(), folder, target.c_str(), RENAME_EXCHANGE);
  } else if (step == Step::created) {
    ::renameat2(folder, target.c_str(), folder, t.name().c_str(), RENAME_NOREPLACE);
  }
}

// Puts every file in place, or undoes what it did and throws.
void put_all_in_place(std::span<PendingFile* const> files) {
  std::vector<Step> done;
  try {
    for (PendingFile* file : files) done.push_back(put_one(*file));
  } catch (...) {
    for (std::size_t i = done.size(); i-- > 0;) undo_one(*files[i], done[i]);
    throw;
  }
  // Every new file is in place; the old ones, now under the temporaries'
  // names, go.
  for (std::size_t i = 0; i < files.size(); ++i) {
    Temporary& t = files[i]->temporary();
    if (done[i] == Step::exchanged) ::unlinkat(t.folder().fd(), t.name().c_str(), 0);
    t.release();
  }
  std::set<int> synced;
  for (PendingFile* file : files) {
    if (synced.insert(file->temporary().folder().fd()).second) {
      file->temporary().folder().sync(file->destination().name);
    }
  }
}

}  // namespace

PendingFile::PendingFile(Destination destination) : destination_(std::move(destination)) {
  folder_ = std::make_shared<const Folder>(folder_of(destination_.path), destination_.name);
  // A new file is created as any would be (the umask and the folder's
  // default permissions apply); a replacement starts private and takes the
  // old file's mode once written.
  const mode_t mode = destination_.kind == DestinationKind::existing_file ? 0600 : 0666;
  temporary_ = std::make_unique<Temporary>(folder_, destination_.name, mode);
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
      throw OutputError("cannot read back the temporary of '" + d.name + "': " + std::strerror(errno), errno);
    }
    if (n == 0) break;
    write_bytes_in_place(w.fd, d, std::span(chunk.data(), static_cast<std::size_t>(n)));
    at += n;
  }
  close_in_place(w, d);
}

OutputSet::OutputSet(const std::vector<std::string>& names) {
  for (const std::string& name : names) destinations_.push_back(examine_destination(name));
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
