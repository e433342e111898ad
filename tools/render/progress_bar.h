// A one-line progress bar redrawn in place with a carriage return.
//
// A few lines of our own rather than a progress-bar library: one bar, one
// stream, no colours or spinners, and it is drawn only when standard error is
// a terminal, so logs and pipes get no control characters at all.
#pragma once

#include <cstdio>
#include <string>

namespace render_tool {

// "[#########-----------]  45/100 frames" with a bar of `bar_width` cells;
// with no cells, only " 45/100 frames".
std::string progress_line(int done, int total, int bar_width);

// The widest bar (at most 30 cells) whose line fits in `columns` without
// touching the last column, where a terminal would wrap; 0 when not even a
// few cells fit.
int bar_width_for(int columns, int total);

class ProgressBar {
 public:
  // Draws on `stream` only when `enabled`; otherwise every call does nothing.
  ProgressBar(std::FILE* stream, int total, bool enabled);
  ~ProgressBar();  // ends the line if anything was drawn
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void update(int done);

 private:
  std::FILE* stream_;
  int total_;
  int bar_width_;
  bool enabled_;
  bool drawn_ = false;
};

// Whether `stream` is a terminal.
bool is_terminal(std::FILE* stream);

// The width of the terminal `stream` writes to, or 80 when it cannot tell.
int terminal_columns(std::FILE* stream);

}  // namespace render_tool
