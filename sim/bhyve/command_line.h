// The stand-in hypervisor's command line:
//
//   bhyve [-AHS] [-c topology] [-m memory] [-s slot,emulation[,options]]...
//         [-l com1|com2|com3|com4|bootrom,path]... [-o key=value]...
//         [-U uuid] [-r image | -L port] vm-name
//
// An option's value may follow in the next argument or directly ("-c4");
// flags may be grouped ("-AH").
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/bhyve/vm_settings.h"

namespace bhyve_sim {

struct CommandLine {
  std::string vm_name;
  std::string uuid;          // -U, "" when not given
  std::string restore_path;  // -r: the checkpoint image (a real host path)
  int listen_port = 0;       // -L: wait for a migration stream on this TCP port
  // Settings from the options; over those of an image or a stream when resuming.
  Settings config;
};

struct CommandLineResult {
  std::optional<CommandLine> command_line;
  std::string error;  // why the command line was refused
};

// `args` without the program name.
CommandLineResult parse_command_line(const std::vector<std::string>& args);

// The usage text printed with a refusal.
const char* usage_text();

}  // namespace bhyve_sim
