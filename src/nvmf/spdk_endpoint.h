// Where the storage target's JSON-RPC service is: the address that stands for
// "127.0.0.1" and the port (7000, mapped through the host root on connect).
#pragma once

#include <string>

namespace nvmf {

// Replaces the process-wide address of the local target ("" = "127.0.0.1").
void set_spdk_address(const std::string& address);
std::string get_spdk_address();
int spdk_port();
// The key a host is cached and connected under: "127.0.0.1" is the local
// target's address, every other host text stands for itself.
std::string spdk_host_key(const std::string& host);

}  // namespace nvmf
