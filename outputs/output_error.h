// The one kind of failure the output layer reports: an output that cannot be
// written, with a one-line message that names it and says why.
#pragma once

#include <stdexcept>
#include <string>

namespace outputs {

// A name as messages quote it: 'name'.
inline std::string in_quotes(const std::string& text) { return "'" + text + "'"; }

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
