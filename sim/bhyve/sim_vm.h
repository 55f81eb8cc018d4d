// One VM of the stand-in hypervisor: its configuration, serial ports, node,
// shared-memory objects, readiness and the misbehaviour a test asked for.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include <ev++.h>

#include "sim/bhyve/command_line.h"
#include "sim/bhyve/guest_script.h"
#include "sim/bhyve/migration.h"
#include "sim/bhyve/node_server.h"
#include "sim/bhyve/serial_port.h"
#include "sim/bhyve/shm_object.h"
#include "sim/bhyve/sim_control.h"

namespace bhyve_sim {

class SimVm {
 public:
  SimVm(struct ev_loop* loop, CommandLine command_line, SimControl control);
  ~SimVm();
  SimVm(const SimVm&) = delete;
  SimVm& operator=(const SimVm&) = delete;

  // Sets the VM up and runs it until it ends; returns the exit status.
  int run();

 private:
  enum class State { receiving, booting, running, paused };

  // Opens the devices of the final configuration and starts booting; on
  // failure returns the exit status and sets `error`.
  std::optional<int> start_guest(std::string* error);
  std::string receive_done(std::optional<Settings> config, const std::string& error);
  void finish(int status);
  [[noreturn]] void crash();

  std::string handle_request(const std::string& request);
  std::string reconfig(const std::string& text);
  std::string checkpoint(const std::string& args);
  std::string livestream(const std::string& args);
  std::string stats(const std::string& args) const;
  bool guest_up() const { return state_ == State::running || state_ == State::paused; }

  void ready_cb(ev::timer& timer, int revents);
  void misbehave_cb(ev::timer& timer, int revents);
  void shutdown_cb(ev::timer& timer, int revents);
  void sigterm_cb(ev::sig& watcher, int revents);
  void after_reply();

  struct ev_loop* loop_;
  CommandLine command_line_;
  SimControl control_;
  Settings config_;
  State state_ = State::booting;
  int vcpu_class_ = 0;
  int status_ = 1;
  std::optional<int> exit_after_reply_;
  std::chrono::steady_clock::time_point running_since_;
  bool seen_running_ = false;  // a ping has found the guest running

  NodeServer node_;
  std::unique_ptr<MigrationReceiver> receiver_;
  std::map<std::string, std::unique_ptr<SerialPort>> ports_;
  std::unique_ptr<GuestScript> script_;
  ShmObject devices_shm_;
  ShmObject reconfig_shm_;
  bool shm_created_ = false;

  ev::timer ready_timer_;
  ev::timer reset_timer_;
  ev::timer crash_timer_;
  ev::timer exit_timer_;
  ev::timer shutdown_timer_;
  ev::sig sigterm_;
};

}  // namespace bhyve_sim
