#include "driver/command_line.h"

#include <algorithm>
#include <optional>
#include <cstdio>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "driver/config.h"

#ifndef OMBRIX_VERSION
#define OMBRIX_VERSION "0.0.0"
#endif

namespace {

const std::vector<std::string_view> kTopActions = {"start", "stop", "status", "inventory"};
const std::vector<std::string_view> kVmActions = {
    "list",    "status",  "start",   "stop",    "restart", "suspend",   "resume",      "pause",
    "unpause", "unshare", "config",  "nice",    "setnice", "vcpuclass", "setvcpuclass"};
// Actions whose parameter is the value of --value=.
const std::vector<std::string_view> kValueActions = {"setnice", "setvcpuclass"};
const std::vector<std::string_view> kPoolActions = {"list",    "status", "start",  "stop",
                                                    "suspend", "resume", "unshare"};
const std::vector<std::string_view> kLogLevels = {"trace", "debug",    "info", "warning",
                                                  "warn",  "error", "critical", "off"};

bool contains(const std::vector<std::string_view>& words, std::string_view word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

bool is_action_word(std::string_view word) {
  return contains(kTopActions, word) || contains(kVmActions, word) || contains(kPoolActions, word);
}

// A command line that cannot be run: the error, then the usage.
int fail(const std::string& text) {
  std::fprintf(stderr, "Error: %s\n", text.c_str());
  print_usage();
  return -1;
}

// "--name=value": the value when `arg` is that option, else nothing.
bool option_value(std::string_view arg, std::string_view name, std::string& value) {
  if (arg.size() < name.size() + 1 || arg.substr(0, name.size()) != name || arg[name.size()] != '=')
    return false;
  value = std::string(arg.substr(name.size() + 1));
  return true;
}

// An option that is only ever given as "--name=VALUE", written without "=".
bool takes_value(std::string_view arg) {
  return arg == "--id" || arg == "--value" || arg == "--config" || arg == "--log-level";
}

}  // namespace

std::string version_text() { return fmt::format("{} {}", program_name, OMBRIX_VERSION); }

void print_usage() {
  std::fputs(
      "Usage: ombrix-vm <ACTION> {OPTIONS}\n"
      "       ombrix-vm <SYSTEM> <ACTION> {OPTIONS}\n"
      "\n"
      "Actions:\n"
      "  start --daemon   start the service (daemon and AMQP daemon) in the background\n"
      "  stop             stop the service\n"
      "  status           show whether the service processes run\n"
      "  inventory        the pools of this host with their states and VMs (JSON)\n"
      "Systems:\n"
      "  vm    list                     every VM with its status and its pool's state\n"
      "        status, config           one VM; config: the running VM's settings\n"
      "        start, stop, restart, suspend, resume, pause, unpause\n"
      "                                 a command to the daemon; waits for its answer\n"
      "        nice, vcpuclass          the CPU priority (-20..20) and vCPU class (0..9)\n"
      "        setnice, setvcpuclass    set them to --value=\n"
      "        unshare                  the VM's suspend image and disks shared over\n"
      "                                 NVMe-oF: listed; with --force unshared\n"
      "  pool  list                     the started pools\n"
      "        status                   one pool's state\n"
      "        start, stop, suspend, resume\n"
      "                                 every VM of the pool; the pool's state follows\n"
      "        unshare                  unshare for every VM of a started pool\n"
      "Options:\n"
      "  --id=ID            the VM id (as vm list prints it, or without the leading\n"
      "                     zeros) or the pool name\n"
      "  --force            vm start: start afresh even when a suspend image is there;\n"
      "                     vm and pool unshare: unshare what is shared (without it\n"
      "                     they only list it)\n"
      "  --value=N          the new value of setnice and setvcpuclass\n"
      "  --no-service       pool start and stop: leave the service VMs alone\n"
      "  --parallel         pool actions on all VMs at once (the default)\n"
      "  --serial           pool actions one VM after the other\n"
      "  --daemon           run the service in the background (with start)\n"
      "  --config=FILE      the configuration file (default: ombrix-vm.config in the\n"
      "                     program's directory, /usr/local/etc or /etc)\n"
      "  --log-level=LEVEL  trace, debug, info, warning, error, critical or off\n"
      "  --help             this text\n"
      "  --version          the program's version\n"
      "An action may also be given as an option, e.g. \"ombrix-vm vm --status --id=ID\".\n",
      stdout);
}

int parse_command_line(int argc, const char* const* argv, Config& config) {
  if (argc < 2) {
    print_usage();
    return -1;
  }
  std::string system, action;
  std::optional<std::string> new_value;
  auto set_action = [&](std::string_view word) {
    if (!action.empty() && action != word)
      return fail(fmt::format("two actions given: '{}' and '{}'", action, word));
    action = std::string(word);
    return 0;
  };

  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i] ? argv[i] : "";
    std::string value;
    if (arg == "--help" || arg == "-h") {
      print_usage();
      return 1;
    } else if (arg == "--version") {
      std::printf("%s\n", version_text().c_str());
      return 1;
    } else if (arg == "--daemon") {
      config.daemon = true;
    } else if (arg == "--force") {
      config.force = true;
    } else if (arg == "--no-service") {
      config.no_service = true;
    } else if (arg == "--parallel") {
      config.parallel_option = true;
    } else if (arg == "--serial") {
      config.serial_option = true;
    } else if (option_value(arg, "--id", value)) {
      if (value.empty()) return fail("--id= needs a VM id or a pool name");
      config.id = value;
    } else if (option_value(arg, "--value", value)) {
      new_value = value;
    } else if (option_value(arg, "--log-level", value)) {
      if (!contains(kLogLevels, value)) return fail(fmt::format("unknown log level '{}'", value));
      config.cli_log_level = value;
    } else if (option_value(arg, "--config", value)) {
      if (value.empty()) return fail("--config= needs a file name");
      config.config_path = value;
    } else if (takes_value(arg)) {
      return fail(fmt::format("option '{}' needs a value: {}=VALUE", arg, arg));
    } else if (arg.size() > 2 && arg.substr(0, 2) == "--" && is_action_word(arg.substr(2))) {
      if (int r = set_action(arg.substr(2))) return r;
    } else if (!arg.empty() && arg.front() == '-') {
      return fail(fmt::format("unknown option '{}'", arg));
    } else if (system.empty() && action.empty() && (arg == "vm" || arg == "pool")) {
      system = std::string(arg);
    } else if (is_action_word(arg)) {
      if (int r = set_action(arg)) return r;
    } else {
      return fail(fmt::format("unknown word '{}'", arg));
    }
  }

  if (config.parallel_option && config.serial_option)
    return fail("--parallel and --serial exclude each other");
  if (action.empty())
    return fail(system.empty() ? "no action given" : fmt::format("no action given for {}", system));
  const auto& allowed = system == "vm" ? kVmActions : system == "pool" ? kPoolActions : kTopActions;
  if (!contains(allowed, action)) {
    return fail(system.empty() ? fmt::format("unknown action '{}'", action)
                               : fmt::format("unknown {} action '{}'", system, action));
  }
  config.system = system;
  config.action = action;
  if (new_value && !(system == "vm" && contains(kValueActions, action)))
    return fail(fmt::format("--value= is not an option of '{}'", action));
  config.action_param = config.force ? "force" : config.no_service ? "1" : "";
  if (system == "vm" && contains(kValueActions, action)) config.action_param = new_value.value_or("");
  if (config.serial_option) config.parallel = false;
  if (config.parallel_option) config.parallel = true;
  return 0;
}
