// The controller's processes in the host's process table, found by their
// titles.
//
// Titles:
//   "Ombrix QTR (daemon)", "Ombrix QTR (AMQP-daemon)"   the service processes
//   "qtr-bhyve: <vm id>" (and "-r" after it for a remote VM)   a VM's wrapper
//   a bhyve process: its first argument is "/usr/sbin/bhyve" (as the wrapper
//   writes it, or mapped under the host root) and its last argument is the VM
//   id; or it titled itself "bhyve: <vm id>"
// A title matches as a whole: the process's arguments joined by single spaces.
//
// Several simulated hosts may run side by side on one machine. A process
// belongs to this host when its working directory lies within the host root:
// the service processes and the wrappers change to the host's "/"
// (platform::host_path("/")), bhyve runs in its VM's directory. Without a host
// root (the real host) a process belongs unless its working directory lies
// inside a simulated host: a directory below "/" that holds
// usr/local/etc/ombrix-vm.config, as scripts/sandbox lays it out.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

inline constexpr const char* daemon_title = "Ombrix QTR (daemon)";
inline constexpr const char* amqp_daemon_title = "Ombrix QTR (AMQP-daemon)";
inline constexpr const char* wrapper_title_prefix = "qtr-bhyve: ";
inline constexpr const char* bhyve_program = "/usr/sbin/bhyve";

// The wrapper process and the bhyve process of one VM; 0 for one not found.
struct ProcessPair {
  int32_t wrapper = 0;
  int32_t bhyve = 0;
};

// Sets the calling process's title (needs platform::init_process_title at the
// start of main).
void set_process_title(const std::string& text);

// True when the process's working directory lies within the host root.
bool process_belongs_to_host(pid_t pid);

// The processes of this host whose title is exactly `title`, lowest pid first.
std::vector<int32_t> find_titled_processes(const std::string& title);

// VM id -> process id of each running bhyve process of this host.
std::map<std::string, int32_t> find_bhyve_processes();

// The wrapper ("qtr-bhyve: <vm_id>" or "qtr-bhyve: <vm_id>-r") and the bhyve
// process of the VM.
ProcessPair find_wrapper_processes(const std::string& vm_id);
