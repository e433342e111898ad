#include "tools/render/progress_bar.h"

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
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(bar_width - filled), '-');
  line += "] " + done_text + "/" + count + " frames";
  return line;
}

ProgressBar::ProgressBar(std::FILE* stream, int total, bool enabled)
    : stream_(stream), total_(total), enabled_(enabled) {}

ProgressBar::~ProgressBar() {
  if (drawn_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
}

void ProgressBar::update(int done) {
  if (!enabled_) return;
  std::fprintf(stream_, "\r%s", progress_line(done, total_, 30).c_str());
  std::fflush(stream_);
  drawn_ = true;
}

bool is_terminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

}  // namespace render_tool
