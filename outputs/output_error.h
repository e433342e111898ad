// The one kind of failure the output layer reports: an output that cannot be
// written, with a one-line message that names it and says why.
#pragma once

#include <stdexcept>
#include <string>

namespace outputs {

// A name as messages quote it, always between quotes and safe to show on a
// terminal, in the form a shell reads back as the same name: 'name'.
// Control characters, DEL and bytes that are not UTF-8 are written as
// escapes ('a'$'\n''b', 'x'$'\377'), so a name can neither move the cursor,
// retitle the terminal nor forge a line.  A name with a single quote in it
// (and nothing else a shell reads inside double quotes) is put in double
// quotes: "it's".
std::string in_quotes(const std::string& text);

// As in_quotes, but a name made only of letters, digits, printable
// characters beyond ASCII and - . / _ : , + = @ % ^ is shown as it is.
std::string quoted_if_needed(const std::string& text);

// A whole message made safe for a terminal, for text that may hold a name
// that nothing quoted (a parser's or the C++ library's message): control
// characters and bytes that are not UTF-8 become escapes (\n, \033, \377);
// everything else, quoted names included, is left as it is.
std::string terminal_safe(const std::string& text);

class OutputError : public std::runtime_error {
 public:
  explicit OutputError(const std::string& message, int error_number = 0)
      : std::runtime_error(message), error_number_(error_number) {}
  // The errno behind the failure, or 0 when it is a rule of ours.
  int error_number() const { return error_number_; }

 private:
  int error_number_;
};

// The same destination was named twice (a usage mistake rather than a file
// that cannot be written).
class RepeatedOutputError : public OutputError {
 public:
  using OutputError::OutputError;
};

// Standard output is a pipe whose reader has gone (`... | head -c 10`): by
// convention the writer then ends quietly, having replaced nothing.
class ReaderGoneError : public OutputError {
 public:
  using OutputError::OutputError;
};

}  // namespace outputs
