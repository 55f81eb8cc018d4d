// Test support: running a program to its end and collecting what it writes
// to standard output.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace test_support {

struct RunResult {
  int status = -1;     // exit status, -1 when the program did not exit normally
  std::string output;  // standard output
};

// Runs `program` with `args` (without args[0], which is the program) in this
// process's environment; standard error stays this process's.
inline RunResult run_program(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  ExecArgs exec(program, std::move(argv));
  // Close-on-exec, so that no other child started meanwhile keeps the pipe
  // open (the copy on standard output is not).
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  ChildProcess child([&]() -> int {
    ::dup2(out[1], 1);
    exec.exec();
  });
  ::close(out[1]);
  RunResult run;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(out[0], buf, sizeof buf)) > 0) run.output.append(buf, static_cast<size_t>(n));
  ::close(out[0]);
  run.status = child.wait();
  return run;
}

}  // namespace test_support
