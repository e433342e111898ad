#include "tools/render/progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace render_tool {

std::string progress_line(int done, int total, int bar_width) {
  done = std::clamp(done, 0, std::max(total, 0));
  const int filled =
      total > 0 ? static_cast<int>(static_cast<long long>(done) * bar_width / total) : bar_width;
  const std::string count = std::to_string(total);
  std::string done_text = std::to_string(done);
  done_text.insert(0, count.size() - std::min(count.size(), done_text.size()), ' ');
  if (bar_width <= 0) return done_text + "/" + count + " frames";
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(bar_width - filled), '-');
  line += "] " + done_text + "/" + count + " frames";
  return line;
}

int bar_width_for(int columns, int total) {
  constexpr int kWidest = 30;
  constexpr int kNarrowest = 5;
  const int counter = static_cast<int>(progress_line(total, total, 0).size());
  const int room = columns - 1 - counter - 3;  // "[", "] " around the cells
  if (room < kNarrowest) return 0;
  return std::min(room, kWidest);
}

ProgressBar::ProgressBar(std::FILE* stream, int total, bool enabled)
    : stream_(stream),
      total_(total),
      bar_width_(enabled ? bar_width_for(terminal_columns(stream), total) : 0),
      enabled_(enabled) {}

ProgressBar::~ProgressBar() {
  if (drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
}

void ProgressBar::update(int done) {
  if (!enabled_) return;
  std::fprintf(stream_, "\r%s", progress_line(done, total_, bar_width_).c_str());
  std::fflush(stream_);
  drawn_ = true;
}

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

int terminal_columns(std::FILE* stream) {
  struct winsize size {};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

}  // namespace render_tool
