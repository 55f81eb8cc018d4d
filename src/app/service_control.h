// The service processes as the command line sees them: finding, detaching,
// waiting for their end.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct ServiceProcesses {
  std::vector<int32_t> daemons;       // "Ombrix QTR (daemon)"
  std::vector<int32_t> amqp_daemons;  // "Ombrix QTR (AMQP-daemon)"

  bool complete() const { return !daemons.empty() && !amqp_daemons.empty(); }
  bool none() const { return daemons.empty() && amqp_daemons.empty(); }
  std::vector<int32_t> all() const;
};

// The service processes of this host.
ServiceProcesses find_service_processes();

// Polls up to `polls` times, `interval` apart, until none of `pids` lives;
// true when all have ended.
bool wait_until_gone(const std::vector<int32_t>& pids, int polls,
                     std::chrono::milliseconds interval);

// Sends `signal` to each of `pids`.
void signal_all(const std::vector<int32_t>& pids, int signal);

// Makes the calling process a daemon: a session of its own, umask 0, the
// host's "/" as its working directory, standard descriptors on /dev/null and
// every other inherited descriptor closed, except `keep_fd` (3 or more) and
// those below it. False with `error` set when the session cannot be made.
bool detach_from_terminal(std::string* error, int keep_fd = -1);
