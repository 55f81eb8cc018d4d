// One serial port of the VM: side A of a null-modem pair, named on the
// command line ("-l com1,<path>"). What the host side sends is appended to
// "bhyve-sim.<port>.in" in the working directory and kept for the guest
// script; the guest writes with `send`.
#pragma once

#include <functional>
#include <string>

#include <ev++.h>

#include "sim/include/sim_fd.h"

namespace bhyve_sim {

class SerialPort {
 public:
  // `name`: "com1" .. "com4". `on_input` runs after new input arrived.
  SerialPort(struct ev_loop* loop, std::string name, std::function<void()> on_input);
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the device at `path` (as this process opens it) read-write; a
  // terminal is put in raw mode. A plain file is only written to.
  bool open(const std::string& path, std::string* error);

  const std::string& name() const { return name_; }
  // Everything received that the guest script has not consumed yet.
  std::string& received() { return received_; }

  // Writes `text` to the host side; false when the device refused it.
  bool send(const std::string& text);

 private:
  void read_cb(ev::io& watcher, int revents);

  std::string name_;
  std::function<void()> on_input_;
  ev::io watcher_;
  sim::UniqueFd fd_;
  sim::UniqueFd log_fd_;
  std::string received_;
};

}  // namespace bhyve_sim
