// What an interrupted run leaves behind: nothing of its own.  SIGINT,
// SIGTERM and SIGHUP remove every temporary file the run still holds, stop
// the encoder it started, and end the program with status 128 + the signal's
// number (130, 143, 129).
//
// The handler runs at any moment, so what it needs is kept where it may
// read it without locks or allocation: fixed slots of paths and one child id.
#pragma once

#include <sys/types.h>

#include <string>

namespace render_tool {

// Installs the handlers; call once, before the first temporary is made.
void install_interrupt_cleanup();

// Remembers a temporary for the handler to remove; returns its slot, or -1
// when the path does not fit (it is then only removed in the ordinary way).
int remember_temporary(const std::string& path);
// Forgets the slot (after the file was renamed into place or removed).
void forget_temporary(int slot);

// The encoder the handler must stop and wait for; 0 for none.
void remember_child(pid_t pid);

// Called by a thread that sees the encoder end: when the end was the
// handler's doing (it runs on whichever thread the signal reached), the
// thread waits here for the handler to finish the program with the signal's
// status, instead of reporting an encoder failure of its own.
void wait_if_interrupted();

// A step that an interrupt must not cut in two (a file created and
// remembered, a child started and remembered): for its lifetime the signals
// are held back in this thread, and a handler running on another thread
// waits for the step to end before it looks at what to clean up.
class UninterruptedStep {
 public:
  UninterruptedStep();
  ~UninterruptedStep();
  UninterruptedStep(const UninterruptedStep&) = delete;
  UninterruptedStep& operator=(const UninterruptedStep&) = delete;
};

}  // namespace render_tool
