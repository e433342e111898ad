// The program's start-up and exit order around the kernel module, made
// visible: built from the program's own error logs, scene storage and CPU
// back-end, it prints how many Err.txt streams are open when the module is
// registered, when main starts, and when the module is unregistered.
//
//   velmora-exit-order          sets up the scene, then exit(0)
//   velmora-exit-order fail     fails gpu_init's first allocation: exit(1)
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/frame_step.h"
#include "cpu_runtime/test_hooks.h"
#include "rtlib/rtlib.h"
#include "scene/scene.h"

namespace {

// Descriptors of this process open on a file named Err.txt.
int open_error_logs() {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(fds)) {
    char link[300];
    char target[4096];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%s", entry->d_name);
    const ssize_t n = readlink(link, target, sizeof(target) - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    if (slash != nullptr && std::strcmp(slash + 1, "Err.txt") == 0) ++count;
  }
  closedir(fds);
  return count;
}

// Straight to the descriptor: at the last exit step no stream is trusted.
void report(const char* step) {
  char line[128];
  const int n = std::snprintf(line, sizeof(line), "%s: %d Err.txt streams open\n", step,
                              open_error_logs());
  if (write(STDOUT_FILENO, line, static_cast<std::size_t>(n)) != n) std::_Exit(3);
}

struct ObserveModules {
  ObserveModules() { cpurt::test_hooks::observe_modules(report); }
};

// Before any other static object of the program.
__attribute__((init_priority(101))) ObserveModules observe_modules_from_the_start;

}  // namespace

int main(int argc, char** argv) {
  report("main");
  if (argc > 1 && std::strcmp(argv[1], "fail") == 0) {
    cpurt::test_hooks::fail_next(cpurt::test_hooks::Op::malloc, cudaErrorMemoryAllocation);
  }
  init_scene();
  std::exit(0);
}
