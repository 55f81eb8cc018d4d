// The daemon's side of a reply FIFO: writes an answer without ever blocking
// the daemon on a reader that went away or stopped reading.
#pragma once

#include <string>

inline constexpr int kFifoWriteTimeoutMs = 5000;

// Writes `text` into the FIFO at `path` (real path, mapped here). Returns ""
// when all of it was written; else why not: nobody reads the FIFO (it was
// opened by no reader, or the reader closed it), the path is not a FIFO, or the
// reader did not take the text within `timeout_ms`.
std::string fifo_write_answer(const std::string& path, const std::string& text,
                              int timeout_ms = kFifoWriteTimeoutMs);
