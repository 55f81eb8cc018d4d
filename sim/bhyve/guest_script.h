// A scripted guest on the VM's serial ports, started once the VM runs. One
// step per line; blank lines and lines starting with "#" are skipped:
//
//   send <port> <text>     writes text to the port ("\n", "\r", "\t", "\\"
//                          are escapes; nothing is added)
//   expect <port> <text>   waits until the port has received text (same
//                          escapes); what came before and the text itself
//                          are consumed. Gives up after the expect time-out:
//                          the script stops there.
//   sleep <ms>             waits
//   exit <status>          the guest ends the VM with that exit status
//
// <port> is "com1" .. "com4" and must be open.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <ev++.h>

#include "sim/bhyve/serial_port.h"

namespace bhyve_sim {

struct ScriptStep {
  enum Kind { send, expect, sleep, exit } kind;
  std::string port;
  std::string text;
  int number = 0;  // milliseconds or exit status
};

struct GuestScriptResult {
  std::vector<ScriptStep> steps;
  std::string error;
};

// Parses the script text.
GuestScriptResult parse_guest_script(const std::string& text);

class GuestScript {
 public:
  // `on_exit` is called with the status of an "exit" step.
  GuestScript(struct ev_loop* loop, std::vector<ScriptStep> steps,
              std::map<std::string, SerialPort*> ports, int expect_timeout_ms,
              std::function<void(int)> on_exit);
  ~GuestScript();
  GuestScript(const GuestScript&) = delete;
  GuestScript& operator=(const GuestScript&) = delete;

  // Checks that every port named is open.
  std::optional<std::string> check() const;

  void start();
  // Called when a port received input.
  void on_input();
  // True while the script has steps left and has not given up.
  bool running() const { return running_; }

 private:
  void run();
  void timer_cb(ev::timer& timer, int revents);

  std::vector<ScriptStep> steps_;
  std::map<std::string, SerialPort*> ports_;
  int expect_timeout_ms_;
  std::function<void(int)> on_exit_;
  ev::timer timer_;
  size_t next_ = 0;
  bool running_ = false;
  bool waiting_ = false;  // a sleep or an expect is pending
};

}  // namespace bhyve_sim
