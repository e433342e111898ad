// Test-only controls of the CPU runtime: make one chosen call fail with a
// chosen code, or pretend the machine has no device or no capable device,
// so that tests can drive every error path of the host layer.  Nothing
// outside the tests uses these.
#pragma once

#include "cpu_runtime/runtime.h"

namespace cpurt::test_hooks {

enum class Op {
  get_device_count,
  get_device_properties,
  set_device,
  malloc,
  free,
  memcpy,
  memcpy_to_symbol,
  create_texture_object,
  destroy_texture_object,
  launch,
  synchronize,
};

// The call of `op` that follows `skip` further calls of it fails with
// `code`: it does nothing else, returns `code` and records it as the last
// error.  One failure is armed at a time; arming another replaces it.
void fail_next(Op op, cudaError_t code, int skip = 0);

// cudaGetDeviceCount then reports `count` devices (with success), and every
// device reports the major compute capability `major`.
void set_device_count(int count);
void set_device_major(int major);

// Fills every later allocation with `byte` (0 to 255), so that tests can
// see which device bytes a kernel or copy left alone; a negative value
// turns the filling off.  Without it new blocks hold whatever they held.
void fill_new_allocations(int byte);

// Back to one capable device, no armed failure and no filling.
void reset();

// Calls `observer` with "register" when a module is registered and with
// "unregister" when it is unregistered, so that a test program can see when
// these happen among its own start-up and exit steps; null turns it off.
// It may be set before main (it is a plain pointer, valid from the first
// instruction) and is not reset by reset().
using ModuleObserver = void (*)(const char* event);
void observe_modules(ModuleObserver observer);

}  // namespace cpurt::test_hooks
