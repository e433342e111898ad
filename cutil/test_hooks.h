// Test-only control of the timers: make the next call of one timer
// operation fail (return 0, doing nothing), so that tests can drive the
// host layer's timer checks, and choose the next handle.
#pragma once

namespace cutil_test_hooks {

enum class TimerOp { create, start, stop, destroy };

void fail_next(TimerOp op);

// The handle the next created timer is given, unless it is 0 or in use:
// lets a test reach the wrap of the handles without creating 2^32 timers.
void set_next_handle(unsigned int handle);

// Disarms a failure that has not happened yet.
void reset();

}  // namespace cutil_test_hooks
