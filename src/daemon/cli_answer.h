// The daemon's answer to a command that came from the command line (or a pool
// operation): one line and a terminating byte written into the FIFO that the
// sender named in its record and waits on.
#pragma once

#include <cstdint>
#include <string>

inline constexpr char kAnswerOk = 0x01;
inline constexpr char kAnswerFailed = 0x02;

// "VM_id=<id> finish Status=<status>\n<text>" followed by 0x01 when the status
// is 1, else 0x02.
std::string format_cli_answer(const std::string& vm_id, int64_t status, const std::string& text);

// Writes the answer into the FIFO `fifo` (real path) without blocking the
// daemon on a reader that is gone; nothing is written when `fifo` is empty.
// Returns "" when written (or nothing was to be written), else why not
// (logged).
std::string send_cli_answer(const std::string& fifo, const std::string& vm_id, int64_t status,
                            const std::string& text);
