// The stand-in hypervisor: "/usr/sbin/bhyve" of a simulated host.
#include <cstdio>
#include <string>
#include <vector>

#include <ev++.h>
#include <fmt/format.h>

#include "sim/bhyve/command_line.h"
#include "sim/bhyve/exit_status.h"
#include "sim/bhyve/sim_control.h"
#include "sim/bhyve/sim_vm.h"
#include "sim/bhyve/trace_file.h"

int main(int argc, char** argv) {
  using namespace bhyve_sim;
  std::vector<std::string> args(argv, argv + argc);
  std::string error;
  if (!write_trace(".", args, &error)) fmt::print(stderr, "bhyve: trace: {}\n", error);

  CommandLineResult parsed =
      parse_command_line(std::vector<std::string>(args.begin() + (argc > 0 ? 1 : 0), args.end()));
  if (!parsed.command_line) {
    fmt::print(stderr, "bhyve: {}\n{}", parsed.error, usage_text());
    return exit_usage;
  }

  SimControlResult control = load_sim_control(control_file_name);
  if (!control.error.empty()) {
    fmt::print(stderr, "bhyve: {}: {}\n", control_file_name, control.error);
    return exit_setup;
  }

  struct ev_loop* loop = ev_default_loop(EVFLAG_NOENV);
  if (!loop) {
    fmt::print(stderr, "bhyve: cannot create the event loop\n");
    return exit_setup;
  }
  int status;
  {
    SimVm vm(loop, std::move(*parsed.command_line), control.control);
    status = vm.run();
  }
  std::fflush(stdout);
  return status;
}
