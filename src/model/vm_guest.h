// The cloud-init settings of a VM: the record's "guest" object, also stored
// on its own as the VM's guest.json.
//
//   "guest": {"hostname", "kms_host", "operator-script", "ssh_password_auth",
//             "resolver": {"name_server": [...], "search"},
//             "boot_cmds": [...], "run_cmds": [...],
//             "users": {"<name>": {"password", "ssh-authorized-keys": [...]}}}
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct VmGuestResolver {
  std::vector<std::string> name_server;
  std::string search;
};

struct VmGuestUser {
  std::string name;  // the key of the user's entry in "users"
  std::string password;
  std::vector<std::string> ssh_authorized_keys;  // JSON "ssh-authorized-keys"
};

struct VmGuest {
  std::string hostname;
  std::string kms_host;
  std::string operator_script;  // JSON "operator-script"
  int64_t ssh_password_auth = 0;
  VmGuestResolver resolver;
  std::vector<std::string> boot_cmds;
  std::vector<std::string> run_cmds;
  std::vector<VmGuestUser> users;  // in the key order of the JSON object
};

// Reads the keys present over the values `guest` already holds. "resolver" and
// "users" are taken only when they are objects, the command lists, "name_server"
// and "ssh-authorized-keys" only when they are lists.
void from_json(const nlohmann::json& j, VmGuest& guest);
// Writes every key, "users" as an object keyed by user name. Never fails.
void to_json(nlohmann::json& j, const VmGuest& guest);
