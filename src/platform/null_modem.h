// A null-modem pair: two terminal devices joined so that what is written to
// one side is read from the other (a VM's serial port: the hypervisor opens
// side A, the VM wrapper side B).
//
// Linux has no such device, so a pair is made of two pseudo-terminals whose
// slave devices are linked at the two paths, and a relay thread that copies
// bytes between the two masters. The relay keeps one descriptor of each slave
// open itself, so a side never hangs up when its user closes it: the user may
// close and reopen the side and the pair goes on working. Both sides start in
// raw mode at 115200 baud; a user may change its side's settings.
//
// While a side has no user (nobody but the relay has it open), what the other
// side writes towards it is discarded, as on a cable with nothing plugged in:
// the writer is never held up, and a user that opens the side later gets only
// what is written after it opened. When its last user closes a side, the
// input queued for it is dropped.
//
// Forking: the relay is a thread of the process that made the pair. A forked
// child has no relay thread; its copy of the object knows it is not the owner,
// and destroying it only closes the child's copies of the descriptors (links
// and relay stay with the owner). Every descriptor of the pair is
// close-on-exec, so a program the child executes inherits none of them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class NullModemPair {
 public:
  // Makes the pair with its sides at the real device paths `side_a` and
  // `side_b` (e.g. "/dev/nmdm7A", "/dev/nmdm7B"), mapped with host_path. An
  // existing symbolic link at either path (left by an earlier pair) is
  // replaced; any other existing file is refused, as is a missing directory.
  // On failure nothing is left behind and `error` (when given) says why.
  static std::optional<NullModemPair> create(std::string_view side_a, std::string_view side_b,
                                             std::string* error = nullptr);

  // In the owner: stops the relay, closes the devices (users still holding a
  // side see a hang-up) and removes the links that still name this pair.
  ~NullModemPair();
  NullModemPair(NullModemPair&& other) noexcept;
  NullModemPair& operator=(NullModemPair&& other) noexcept;
  NullModemPair(const NullModemPair&) = delete;
  NullModemPair& operator=(const NullModemPair&) = delete;

  // The real paths given to create().
  const std::string& side_a() const;
  const std::string& side_b() const;

 private:
  struct Impl;
  explicit NullModemPair(std::unique_ptr<Impl> impl);

  std::unique_ptr<Impl> impl_;
};

}  // namespace platform
