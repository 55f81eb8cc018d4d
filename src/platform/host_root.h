// The host root: every fixed path the program knows, every POSIX IPC name and
// every well-known port goes through here, so that a whole simulated host can
// live under one directory (the environment variable OMBRIX_ROOT).
//
// Paths that travel between processes (message records, runtime records,
// command lines) are always the real host paths; the process that touches the
// file maps it once, here.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The directory named by OMBRIX_ROOT (without a trailing '/'), or "" when the
// program runs on the real host. Read once per process.
const std::string& host_root();

// A fixed host path ("/var/run/x.lock") as this process must open it.
// Relative paths and "" are returned unchanged.
std::string host_path(std::string_view real_path);

// The inverse of host_path: a mapped path back to the real host path; a path
// outside the root is returned unchanged.
std::string real_path(std::string_view mapped_path);

// A POSIX IPC object name ("/ombrix-vm.mq") as this process must use it: under
// a root, the name carries a tag derived from the root so two roots never share
// an object. The result is always "/" plus a name without further '/'.
std::string ipc_name(std::string_view name);

// The tag that IPC names carry under the root `root` (".r" and 8 hex digits;
// "" for the real host), e.g. to find a root's objects in /dev/mqueue.
std::string ipc_tag(std::string_view root);

// A well-known TCP port (the storage target's 7000) as this process must use it.
int host_port(int port);

// Tests only: re-read OMBRIX_ROOT after changing it.
void reload_host_root_for_tests();

}  // namespace platform
