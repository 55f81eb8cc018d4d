// ServiceLock: the pid file "/var/run/ombrix-vm.pid" of the host root, locked
// while the service's daemon lives, so that only one start can start it.
//
// The starting process takes the lock before it detaches the daemon; the
// daemon inherits it (the lock belongs to the open file, not to a process)
// and writes its pid into the file. Processes the daemon forks close the
// descriptor, so that the lock goes when the daemon ends.
#pragma once

#include <sys/types.h>

#include <string>

class ServiceLock {
 public:
  ServiceLock() = default;
  ~ServiceLock();
  ServiceLock(const ServiceLock&) = delete;
  ServiceLock& operator=(const ServiceLock&) = delete;

  // Opens (creating it and its directory) and locks the pid file without
  // waiting. False with `error` set when it cannot be opened; false with
  // `error` empty when another process holds it.
  bool acquire(std::string* error);
  // The pid written in the file, 0 when none.
  pid_t recorded_pid() const;
  // Writes the calling process's pid into the held file.
  void record_own_pid() const;
  // Moves the descriptor to `fd` (close-on-exec), for a process that closes
  // all others.
  bool move_to(int fd);

 private:
  int fd_ = -1;
};

// The pid file's real path.
std::string service_pid_file();

// The daemon's descriptor of the pid file, registered once it has moved
// there; close_service_lock_in_child closes it in a process the daemon forked.
void set_service_lock_fd(int fd);
void close_service_lock_in_child();
