// Test-only control of the timers: make the next call of one timer
// operation fail (return 0, doing nothing), so that tests can drive the
// host layer's timer checks.
#pragma once

namespace cutil_test_hooks {

enum class TimerOp { create, start, stop, destroy };

void fail_next(TimerOp op);

// Disarms a failure that has not happened yet.
void reset();

}  // namespace cutil_test_hooks
