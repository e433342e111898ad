#include "outputs/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace outputs {
namespace {

bool stdout_closed_at_start = false;
bool stdout_reader_gone = false;

}  // namespace

void keep_standard_streams_taken() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) stdout_closed_at_start = true;
    // A folder opened for reading: it takes the number and refuses writes.
    const int placeholder = ::open("/", O_RDONLY | O_DIRECTORY);
    if (placeholder >= 0 && placeholder != fd) {
      ::dup2(placeholder, fd);
      ::close(placeholder);
    }
  }
}

bool standard_output_was_closed() { return stdout_closed_at_start; }

void buffer_standard_output() {
  if (::isatty(STDOUT_FILENO)) return;
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

std::optional<std::string> close_standard_output() {
  const bool failed_before = std::ferror(stdout) != 0;
  errno = 0;
  const bool failed_now = std::fclose(stdout) != 0;
  if (!failed_before && !failed_now) return std::nullopt;
  const int error = errno;
  if (stdout_closed_at_start) return std::string("it was closed when the program started");
  if (error == EPIPE) stdout_reader_gone = true;
  return std::string(error ? std::strerror(error) : "write error");
}

bool standard_output_reader_gone() { return stdout_reader_gone; }

}  // namespace outputs
