// One end of a named pipe. The command line waits for the daemon's answer on
// a FIFO of its own ("/var/run/ombrix-vm-cli-fifo.<pid>.<vm id>"); the daemon
// writes the answer into it.
#pragma once

#include <string>

#include "ipc/unique_fd.h"

class Fifo {
 public:
  Fifo() = default;
  ~Fifo() = default;
  Fifo(Fifo&&) noexcept = default;
  Fifo& operator=(Fifo&&) noexcept = default;

  // `path` is the real path; it is mapped under the host root here.
  //
  // Reader mode: creates the FIFO node with mode 0660 unless something exists
  // at the path, and opens it for reading without waiting for a writer.
  // Writer mode: opens an existing FIFO for writing without waiting; fails
  // with ENXIO when nobody has it open for reading, and with ENOTSUP when the
  // path is not a FIFO (nothing else is ever written to).
  // The descriptor is non-blocking. False with errno kept on failure.
  bool open(bool reader, const std::string& path);

  void close() { fd_.reset(); }
  bool is_open() const { return fd_.valid(); }
  int fd() const { return fd_.get(); }

  // The node is never removed here: its creator unlinks it.

 private:
  UniqueFd fd_;
};
