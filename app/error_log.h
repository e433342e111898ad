// The program's error log, Err.txt in the current folder: created empty (or
// emptied) at every start and never written.  It is opened without
// following a symbolic link and without waiting: a link, a FIFO or anything
// else that is not a regular file counts as a file that cannot be opened,
// and the stream is then left closed, as for any other failure.
#pragma once

#include <fstream>

std::ofstream open_error_log(const char* path);
