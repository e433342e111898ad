#include "app/error_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

std::ofstream open_error_log(const char* path) {
  std::ofstream log;
  // O_NOFOLLOW: a planted link is not followed to truncate its target.
  // O_NONBLOCK: a FIFO with no reader fails at once instead of waiting.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return log;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    // The stream opens the very file checked above, through the descriptor's
    // name, so nothing can be swapped in between; opening it truncates it.
    log.open("/proc/self/fd/" + std::to_string(fd), std::ios::out | std::ios::trunc);
  }
  ::close(fd);
  return log;
}
