// BhyveChildStart: everything the child that becomes bhyve needs, made in the
// wrapper before the fork: the argument array, the program's path, the start
// log's descriptor (bhyve's standard output and error) and the null device
// (its standard input), the working directory, the priority, the CPU set,
// and the texts the child writes to the log.
//
// The wrapper runs other threads (the null-modem relays, the console bridge)
// that may hold a lock at the fork, so the child makes async-signal-safe
// calls only: no logger, no allocation, no file-system library. exec() is
// the whole of the child's life.
#pragma once

#include <sched.h>

#include <optional>
#include <string>
#include <vector>

#include "ipc/unique_fd.h"

class BhyveChildStart {
 public:
  // `args` with the program ("/usr/sbin/bhyve") first; `program` its host
  // path. `log_fd` and `null_fd` are taken over (-1: the child keeps those
  // descriptors as they are). `exec_failed` is written to the log when the
  // program cannot be executed.
  BhyveChildStart(std::vector<std::string> args, std::string program, int log_fd, int null_fd,
                  std::string workdir, std::string header, std::string exec_failed);
  BhyveChildStart(const BhyveChildStart&) = delete;
  BhyveChildStart& operator=(const BhyveChildStart&) = delete;

  void set_priority(int nice) { priority_ = nice; }
  void set_cpus(const std::vector<int>& cpus);

  // In the forked child: resets the signal handling, points descriptors 0, 1
  // and 2 at the null device and the log, applies the priority and the CPU
  // set, changes to the working directory, writes the header and executes
  // the program. When that fails: writes exec_failed and ends with status 127.
  [[noreturn]] void exec() const;

  // In the wrapper after the fork: closes its copies of the descriptors.
  void close_descriptors();

  const std::vector<std::string>& args() const { return args_; }

 private:
  std::vector<std::string> args_;
  std::vector<char*> argv_;
  std::string program_;
  UniqueFd log_fd_;
  UniqueFd null_fd_;
  std::string workdir_;
  std::string header_;
  std::string exec_failed_;
  std::optional<int> priority_;
  bool bind_cpus_ = false;
  cpu_set_t cpus_;
};
