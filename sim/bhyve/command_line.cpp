#include "sim/bhyve/command_line.h"

#include <cctype>
#include <cstring>

#include <fmt/format.h>

#include "sim/include/vmm_sim_protocol.h"

namespace bhyve_sim {
namespace {

constexpr const char* kFlags = "AHS";
constexpr const char* kWithValue = "cmsloUrL";

bool is_uuid(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

CommandLineResult refuse(std::string error) { return {std::nullopt, std::move(error)}; }

// Applies option `opt` with `value` to the command line.
std::optional<std::string> apply(CommandLine& cl, char opt, const std::string& value) {
  switch (opt) {
    case 'c': return add_topology(cl.config, value);
    case 'm': return add_memory(cl.config, value);
    case 's': return add_slot(cl.config, value);
    case 'l': return add_lpc(cl.config, value);
    case 'o': return add_setting(cl.config, value);
    case 'U':
      if (!is_uuid(value)) return fmt::format("invalid uuid '{}'", value);
      cl.uuid = value;
      return std::nullopt;
    case 'r':
      if (value.empty()) return std::string("-r needs an image path");
      if (!cl.restore_path.empty()) return std::string("-r given twice");
      cl.restore_path = value;
      return std::nullopt;
    case 'L': {
      auto port = parse_number(value, 1, 65535);
      if (!port) return fmt::format("invalid migration port '{}'", value);
      if (cl.listen_port) return std::string("-L given twice");
      cl.listen_port = static_cast<int>(*port);
      return std::nullopt;
    }
  }
  return fmt::format("unknown option -{}", opt);
}

}  // namespace

const char* usage_text() {
  return "usage: bhyve [-AHS] [-c topology] [-m memsize] [-s pci,emulation[,conf]]\n"
         "             [-l lpc-device,conf] [-o key=value] [-U uuid]\n"
         "             [-r checkpoint | -L port] vmname\n";
}

CommandLineResult parse_command_line(const std::vector<std::string>& args) {
  CommandLine cl;
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;
    for (size_t pos = 1; pos < arg.size(); ++pos) {
      char opt = arg[pos];
      if (std::strchr(kFlags, opt)) {
        if (opt == 'A') cl.config["acpi_tables"] = "true";
        if (opt == 'H') cl.config["x86.vmexit_on_hlt"] = "true";
        if (opt == 'S') cl.config["memory.wired"] = "true";
        continue;
      }
      if (!std::strchr(kWithValue, opt)) return refuse(fmt::format("unknown option -{}", opt));
      std::string value;
      if (pos + 1 < arg.size()) {
        value = arg.substr(pos + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return refuse(fmt::format("option -{} needs a value", opt));
      }
      if (auto error = apply(cl, opt, value)) return refuse(*error);
      break;
    }
  }
  if (i == args.size()) return refuse("missing VM name");
  if (i + 1 != args.size()) return refuse(fmt::format("unexpected argument '{}'", args[i + 1]));
  if (!vmm_sim::valid_vm_name(args[i])) return refuse(fmt::format("invalid VM name '{}'", args[i]));
  cl.vm_name = args[i];
  if (!cl.restore_path.empty() && cl.listen_port)
    return refuse("-r and -L cannot be used together");
  if (cl.restore_path.empty() && !cl.listen_port) {
    if (auto error = check_settings(cl.config)) return refuse(*error);
  }
  return {std::move(cl), ""};
}

}  // namespace bhyve_sim
