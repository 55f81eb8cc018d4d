#include "sim/bhyve/sim_vm.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fmt/format.h>

#include <vmmapi.h>

#include "sim/include/sim_host.h"
#include "sim/bhyve/checkpoint_image.h"
#include "sim/bhyve/exit_status.h"
#include "sim/include/vmm_sim_protocol.h"

namespace bhyve_sim {
namespace {

constexpr const char* kDefaultMemory = "268435456";

std::string ok(const std::string& payload = "") {
  return payload.empty() ? "OK" : "OK " + vmm_sim::escape(payload);
}

std::string err(int code, const std::string& text) {
  return fmt::format("ERR {} {}", code, vmm_sim::escape(text));
}

void note(const std::string& text) { fmt::print(stderr, "bhyve: {}\n", text); }

std::string read_text(const std::string& path, std::string* error) {
  std::ifstream in(path);
  if (!in) {
    *error = fmt::format("{}: {}", path, std::strerror(errno));
    return "";
  }
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

SimVm::SimVm(struct ev_loop* loop, CommandLine command_line, SimControl control)
    : loop_(loop),
      command_line_(std::move(command_line)),
      control_(std::move(control)),
      node_(loop, [this](const std::string& r) { return handle_request(r); },
            [this] { after_reply(); }),
      devices_shm_(command_line_.vm_name, "devices"),
      reconfig_shm_(command_line_.vm_name, "reconfig"),
      ready_timer_(loop),
      reset_timer_(loop),
      crash_timer_(loop),
      exit_timer_(loop),
      shutdown_timer_(loop),
      sigterm_(loop) {
  vcpu_class_ = control_.vcpu_class;
  ready_timer_.set<SimVm, &SimVm::ready_cb>(this);
  reset_timer_.set<SimVm, &SimVm::misbehave_cb>(this);
  crash_timer_.set<SimVm, &SimVm::misbehave_cb>(this);
  exit_timer_.set<SimVm, &SimVm::misbehave_cb>(this);
  shutdown_timer_.set<SimVm, &SimVm::shutdown_cb>(this);
  sigterm_.set<SimVm, &SimVm::sigterm_cb>(this);
}

SimVm::~SimVm() {
  for (ev::timer* t : {&ready_timer_, &reset_timer_, &crash_timer_, &exit_timer_, &shutdown_timer_})
    t->stop();
  sigterm_.stop();
}

int SimVm::run() {
  sigterm_.start(SIGTERM);
  std::string error;
  if (!node_.listen(sim_host::path(fmt::format("{}/{}", vmm_sim::node_dir,
                                                   command_line_.vm_name)),
                    &error)) {
    note(error);
    return exit_setup;
  }

  auto arm = [](ev::timer& timer, int ms) {
    if (ms >= 0) timer.start(ms / 1000.0, 0.0);
  };
  arm(reset_timer_, control_.reset_after_ms);
  arm(crash_timer_, control_.crash_after_ms);
  arm(exit_timer_, control_.exit_after_ms);

  if (command_line_.listen_port) {
    state_ = State::receiving;
    receiver_ = std::make_unique<MigrationReceiver>(
        loop_, [this](std::optional<Settings> config, const std::string& e) {
          return receive_done(std::move(config), e);
        });
    if (!receiver_->listen(command_line_.listen_port, &error)) {
      note(error);
      return exit_setup;
    }
  } else {
    if (!command_line_.restore_path.empty()) {
      CheckpointRead image = read_checkpoint(sim_host::path(command_line_.restore_path),
                                             kernel_memory_layout());
      if (!image.error.empty()) {
        note(image.error);
        return exit_setup;
      }
      config_ = std::move(image.config);
    }
    if (auto status = start_guest(&error)) {
      note(error);
      return *status;
    }
  }

  ev_run(loop_, 0);

  if (shm_created_) {
    devices_shm_.unlink();
    reconfig_shm_.unlink();
  }
  return status_;
}

std::string SimVm::receive_done(std::optional<Settings> config, const std::string& error) {
  receiver_.reset();
  if (!config) {
    note(fmt::format("migration stream: {}", error));
    finish(exit_setup);
    return error;
  }
  config_ = std::move(*config);
  std::string why;
  if (auto status = start_guest(&why)) {
    note(why);
    finish(*status);
    return why;
  }
  return "";
}

std::optional<int> SimVm::start_guest(std::string* error) {
  // The command line's settings go over those of an image or a stream.
  for (const auto& [key, value] : command_line_.config) config_[key] = value;
  config_["name"] = command_line_.vm_name;
  if (!command_line_.uuid.empty()) config_["uuid"] = command_line_.uuid;
  config_.emplace("cpus", "1");
  config_.emplace("memory.size", kDefaultMemory);
  if (auto e = check_settings(config_)) {
    *error = *e;
    return exit_setup;
  }

  for (const char* port : {"com1", "com2", "com3", "com4"}) {
    auto it = config_.find(fmt::format("lpc.{}.path", port));
    if (it == config_.end()) continue;
    auto serial = std::make_unique<SerialPort>(loop_, port, [this] {
      if (script_) script_->on_input();
    });
    if (!serial->open(sim_host::path(it->second), error)) return exit_setup;
    ports_[port] = std::move(serial);
  }

  if (control_.boot_rom_fail) {
    *error = "boot ROM verification failed (as the control file asks)";
    return exit_bootrom;
  }
  if (auto it = config_.find("lpc.bootrom"); it != config_.end()) {
    struct stat st{};
    if (::stat(sim_host::path(it->second).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      *error = fmt::format("boot ROM verification failed: {}: {}", it->second,
                           std::strerror(errno ? errno : EISDIR));
      return exit_bootrom;
    }
  }

  if (!control_.guest_script.empty()) {
    std::string text = read_text(control_.guest_script, error);
    if (!error->empty()) return exit_setup;
    GuestScriptResult parsed = parse_guest_script(text);
    if (!parsed.error.empty()) {
      *error = fmt::format("{}: {}", control_.guest_script, parsed.error);
      return exit_setup;
    }
    std::map<std::string, SerialPort*> ports;
    for (auto& [name, port] : ports_) ports[name] = port.get();
    script_ = std::make_unique<GuestScript>(loop_, std::move(parsed.steps), std::move(ports),
                                            control_.expect_timeout_ms,
                                            [this](int status) { finish(status); });
    if (auto e = script_->check()) {
      *error = *e;
      return exit_setup;
    }
  }

  std::string devices;
  for (const auto& [key, value] : config_)
    if (key.rfind("pci.", 0) == 0) devices += key + "=" + value + "\n";
  shm_created_ = true;
  if (!devices_shm_.write(devices, error) || !reconfig_shm_.write("", error)) return exit_setup;

  state_ = State::booting;
  if (!control_.never_ready) ready_timer_.start(control_.ready_delay_ms / 1000.0, 0.0);
  return std::nullopt;
}

void SimVm::ready_cb(ev::timer&, int) {
  state_ = State::running;
  running_since_ = std::chrono::steady_clock::now();
  if (script_) script_->start();
}

void SimVm::misbehave_cb(ev::timer& timer, int) {
  if (&timer == &reset_timer_) {
    note("guest reset");
    finish(exit_reset);
  } else if (&timer == &crash_timer_) {
    crash();
  } else {
    finish(control_.exit_status);
  }
}

void SimVm::sigterm_cb(ev::sig&, int) {
  if (control_.ignore_sigterm) {
    note("SIGTERM ignored");
    return;
  }
  if (shutdown_timer_.is_active()) return;
  shutdown_timer_.start(control_.shutdown_delay_ms / 1000.0, 0.0);
}

void SimVm::shutdown_cb(ev::timer&, int) {
  note("guest powered off");
  finish(exit_poweroff);
}

void SimVm::finish(int status) {
  status_ = status;
  ev_break(loop_, EVBREAK_ALL);
}

void SimVm::crash() {
  rlimit no_core{0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);
  ::signal(SIGSEGV, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGSEGV);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(SIGSEGV);
  std::abort();
}

void SimVm::after_reply() {
  if (exit_after_reply_) finish(*exit_after_reply_);
}

std::string SimVm::handle_request(const std::string& request) {
  size_t sp = request.find(' ');
  std::string word = request.substr(0, sp);
  std::string args = sp == std::string::npos ? "" : request.substr(sp + 1);

  if (word == "PING") {
    int code = state_ == State::receiving ? VM_PING_RECEIVING
               : state_ == State::booting ? VM_PING_BOOTING
                                          : 0;
    if (code == 0 && !seen_running_) {
      seen_running_ = true;
      if (control_.reset_after_seen_ms >= 0)
        reset_timer_.start(control_.reset_after_seen_ms / 1000.0, 0.0);
    }
    return ok(std::to_string(code));
  }
  if (word == "STATE") {
    switch (state_) {
      case State::receiving: return ok("receiving");
      case State::booting: return ok("booting");
      case State::running: return ok("running");
      case State::paused: return ok("paused");
    }
  }
  if (word == "CONFIG") return ok(settings_text(config_));
  if (word == "GET_VCPU_CLASS") return ok(std::to_string(vcpu_class_));
  if (word == "SET_VCPU_CLASS") {
    auto n = parse_number(args, VM_VCPU_CLASS_MIN, VM_VCPU_CLASS_MAX);
    if (!n) return err(EINVAL, fmt::format("bad vCPU class '{}'", args));
    vcpu_class_ = static_cast<int>(*n);
    return ok();
  }
  if (word == "VCPUS") return ok(config_.count("cpus") ? config_["cpus"] : "1");
  if (word == "STATS") return stats(args);

  if (!guest_up()) return err(EBUSY, "the VM is not running");
  if (word == "PAUSE" || word == "RESUME") {
    state_ = word == "PAUSE" ? State::paused : State::running;
    return ok();
  }
  if (word == "RECONFIG") return reconfig(vmm_sim::unescape(args));
  if (word == "CHECKPOINT") return checkpoint(args);
  if (word == "LIVESTREAM") return livestream(args);
  return err(EINVAL, fmt::format("unknown request '{}'", word));
}

std::string SimVm::reconfig(const std::string& text) {
  Settings changes;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (add_setting(changes, line)) return err(EINVAL, fmt::format("bad setting '{}'", line));
  }
  if (changes.empty()) return err(EINVAL, "no settings");
  std::string error;
  if (!reconfig_shm_.write(text, &error)) return err(EIO, error);
  for (const auto& [key, value] : changes) config_[key] = value;
  return ok();
}

std::string SimVm::checkpoint(const std::string& args) {
  size_t sp = args.find(' ');
  std::string mode = args.substr(0, sp);
  std::string path = sp == std::string::npos ? "" : vmm_sim::unescape(args.substr(sp + 1));
  if ((mode != "stop" && mode != "keep") || path.empty())
    return err(EINVAL, fmt::format("bad checkpoint request '{}'", args));
  if (auto error = write_checkpoint(sim_host::path(path), config_, kernel_memory_layout())) {
    note(*error);
    return err(EIO, *error);
  }
  note(fmt::format("checkpoint written to {}", path));
  if (mode == "stop") exit_after_reply_ = exit_poweroff;
  return ok();
}

std::string SimVm::livestream(const std::string& args) {
  size_t sp = args.find(' ');
  auto port = parse_number(sp == std::string::npos ? "" : args.substr(sp + 1), 1, 65535);
  if (sp == std::string::npos || !port)
    return err(EINVAL, fmt::format("bad live stream request '{}'", args));
  if (auto error = send_migration_stream(args.substr(0, sp), static_cast<int>(*port), config_)) {
    note(*error);
    return err(EIO, *error);
  }
  note("VM sent away");
  exit_after_reply_ = exit_poweroff;
  return ok();
}

std::string SimVm::stats(const std::string& args) const {
  auto cpus = parse_number(config_.count("cpus") ? config_.at("cpus") : "1", 1, 1 << 16);
  auto vcpu = parse_number(args, 0, 1 << 16);
  if (!vcpu || !cpus || *vcpu >= *cpus) return err(EINVAL, fmt::format("no vCPU '{}'", args));
  long long usec = guest_up() ? std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now() - running_since_)
                                    .count()
                              : 0;
  return ok(fmt::format("{} {}", usec, usec / 100));
}

}  // namespace bhyve_sim
