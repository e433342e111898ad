// Command-line flags and wall-clock timers for the GPU host layer and the
// program's entry.
//
// Every call that can fail returns 1 for success and 0 for failure (a null
// out-parameter or a handle that names no timer).  Timers are safe to use
// from several threads.
#pragma once

// 1 when one of argv[1] .. argv[argc - 1] is the flag `flag_name` written
// with one or two leading dashes ("-noprompt" or "--noprompt"), else 0.
// Only the exact name counts: "--noprompt=1" or "-nopromptx" do not.
int cutCheckCmdLineFlag(int argc, const char* const* argv, const char* flag_name);

// Creates a stopped timer and stores its handle (never 0) in *timer.
int cutCreateTimer(unsigned int* timer);

// Starts the timer; starting a running timer starts it again from now.
int cutStartTimer(unsigned int timer);

// Stops the timer; stopping a stopped timer changes nothing.
int cutStopTimer(unsigned int timer);

// Milliseconds of monotonic wall-clock time from the last start to the
// stop that followed it, or to now while the timer runs; 0 for a timer
// never started and for an unknown handle.
float cutGetTimerValue(unsigned int timer);

int cutDeleteTimer(unsigned int timer);
