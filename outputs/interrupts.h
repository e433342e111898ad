// What an interrupted run leaves behind: nothing of its own.
//
// SIGINT, SIGTERM and SIGHUP are received in one place, a thread of their
// own, never on whichever worker thread the kernel picks.  That thread waits
// for any step that must not be cut in two (a temporary being created and
// remembered, a set of files being put in place and reported), then stops
// and reaps the child processes the run started, removes every temporary it
// still holds and every folder it made that is still empty, and ends the
// program with 128 + the signal's number (130, 143, 129).  A run therefore either completes all of a step's outputs and
// says so, or replaces none of them.
//
// SIGPIPE and SIGXFSZ are ignored instead: the write that caused them fails
// with EPIPE or EFBIG, and the run ends as any failed write does, through
// its own cleanup.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>

namespace outputs {

// Call once at the start of main, before any other thread exists: the
// signals are blocked in the caller, so every thread started later inherits
// that and only the interrupt thread receives them.  A program that ends
// through exit() instead (a failed check of the host layer) is cleaned up as
// an interrupt would: its temporaries removed, its children stopped.
void start_interrupt_thread();

// Remembers the temporary `name` in the folder open at `folder_fd` (the
// descriptor is duplicated) for removal on an interrupt; returns its slot,
// or -1 with errno set when the descriptor cannot be duplicated (too many
// open files): the temporary is then the caller's to remove.
int remember_temporary(int folder_fd, const std::string& name);
void forget_temporary(int slot);

// Remembers the folder `name`, made by the run in the folder open at
// `parent_fd`, for removal on an interrupt if it is still empty; returns its
// slot, forgotten as a temporary's is.  Entries are removed newest first, so
// a folder's temporaries and the folders made inside it go before it.
int remember_made_folder(int parent_fd, const std::string& name);

// A child process an interrupt must stop and reap before the program ends.
void remember_child(pid_t pid);
void forget_child(pid_t pid);

// Kills the process group that the child `leader` leads, reaps the leader
// and returns its wait status, then reaps the rest of the group as far as
// it is ours.
int stop_process_group(pid_t leader);

// Holds off the interrupt's cleanup for its lifetime (in every thread).
// Steps taken while one is held are seen by the cleanup either not at all
// or whole.
class UninterruptedStep {
 public:
  UninterruptedStep();
  ~UninterruptedStep();
  UninterruptedStep(const UninterruptedStep&) = delete;
  UninterruptedStep& operator=(const UninterruptedStep&) = delete;

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};

// Whether an interrupt has arrived: its cleanup is waiting or under way,
// and the run must not start to put anything in place.
bool interrupt_arrived();

// For a thread that has seen the effect of an interrupt (its child was
// killed): waits for the interrupt thread to end the program.
[[noreturn]] void wait_for_interrupt_to_end_the_run();

// The run has put all its outputs in place and reported them: an interrupt
// from now on changes nothing, and the program ends with its own status.
void mark_run_complete();

}  // namespace outputs
