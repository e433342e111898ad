// The standard streams, held to the same discipline as any other output: a
// report that never reached standard output is a failure, said once, with
// its reason.
#pragma once

#include <optional>
#include <string>

namespace outputs {

// A standard stream closed by whoever started us would hand its number to
// the next file opened, and what is meant for the stream would land in that
// file.  A placeholder that refuses writes keeps the number taken; which
// streams were closed is remembered for messages.  Call first in main.
void keep_standard_streams_taken();
bool standard_output_was_closed();

// Standard output, when not a terminal, is held in one buffer large enough
// for any report until the end, so that a failure to write it is seen once,
// at the close.
void buffer_standard_output();

// Closes standard output.  Empty when everything written reached it;
// otherwise why not ("it was closed when the program started", "No space
// left on device").
std::optional<std::string> close_standard_output();

// Whether standard output was found to be a pipe whose reader has gone.
bool standard_output_reader_gone();

}  // namespace outputs
