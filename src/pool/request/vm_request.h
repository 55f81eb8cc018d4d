// The command line's requests to the daemon for one VM: one command record on
// the daemon's queue, then the wait for the answer on a FIFO of this process
// ("/var/run/ombrix-vm-cli-fifo.<pid>.<vm id>"). The senders below are also
// the per-VM steps of the pool operations.
//
// Each sender prints its opening line ("VM_id=<id> stopping; fifo=<path>"),
// then the daemon's answer ("VM_id=<id> finish Status=<code>" and the result
// text), and returns true only when the daemon reported success. A record
// that cannot be sent (the daemon is not running) fails at once.
#pragma once

#include <cstdint>
#include <string>

// How long pause and unpause wait for the answer, counted from the last data.
inline constexpr double kPauseReplyWait = 30.0;
// The stop time-out in seconds handed to the daemon ("status" of the record).
inline constexpr int64_t kStopTimeout = 30;

// "/var/run/ombrix-vm-cli-fifo.<pid>.<vm id>" (real path).
std::string cli_fifo_path(const std::string& vm_id);

// Sends the record alone; on failure prints
// "### MQ send error: <why>; VM_id=<id> command='<command>'" on standard error.
bool vm_request_send(const std::string& vm_id, const std::string& command,
                     const std::string& fifo_path, int64_t status);

// Sends the record and, with a FIFO path, waits for the answer (without limit
// when `timeout_s` is 0 or less). The FIFO is removed on every path.
bool vm_request(const std::string& vm_id, const std::string& command,
                const std::string& fifo_path, int64_t status, double timeout_s);

// "force_start" when `param` is "force", else "start"; the answer is awaited
// only `with_fifo`.
bool vm_start_request(const std::string& vm_id, bool with_fifo, const std::string& param);
bool vm_stop_request(const std::string& vm_id);
bool vm_restart_request(const std::string& vm_id);
// "suspend_pool" when `pool` is given, else "suspend".
bool vm_suspend_request(const std::string& vm_id, const std::string& pool);
// "force_resume" when `param` is "force", else "resume".
bool vm_resume_request(const std::string& vm_id, const std::string& param);
bool vm_pause_request(const std::string& vm_id, double wait_s = kPauseReplyWait);
bool vm_unpause_request(const std::string& vm_id, double wait_s = kPauseReplyWait);
