// The NoCloud documents: meta-data, user-data ("#cloud-config") and
// network-config. Everything goes through the YAML emitter, so record values
// come out quoted as YAML needs them.
#include <string>

#include <yaml-cpp/yaml.h>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/cloudinit_yaml.h"

namespace {

// Each command between two blanks, as the guest's cloud-init expects them.
YAML::Node command_list(const std::vector<std::string>& commands) {
  YAML::Node list(YAML::NodeType::Sequence);
  for (const std::string& command : commands) list.push_back(" " + command + " ");
  return list;
}

YAML::Node module_entry(const char* module) { return yaml_list({module, "once-per-instance"}); }

}  // namespace

void Cloudinit::generate_nocloud(const std::string& hostname) {
  const VmGuest& guest = vm_config_.guest;

  YAML::Node meta(YAML::NodeType::Map);
  meta["instance-id"] = vm_config_.id;
  meta["local-hostname"] = hostname;
  meta_data_ = "---\n" + emit_yaml(meta);

  YAML::Node user(YAML::NodeType::Map);
  if (!guest.boot_cmds.empty()) user["bootcmd"] = command_list(guest.boot_cmds);
  if (!guest.run_cmds.empty()) user["runcmd"] = command_list(guest.run_cmds);
  YAML::Node chpasswd(YAML::NodeType::Map);
  chpasswd["expire"] = kYamlFalse;
  user["chpasswd"] = chpasswd;
  if (guest.ssh_password_auth != 0) user["ssh_pwauth"] = kYamlTrue;
  YAML::Node modules(YAML::NodeType::Sequence);
  modules.push_back(module_entry("set_passwords"));
  modules.push_back(module_entry("set_hostname"));
  modules.push_back(module_entry("scripts-user"));
  user["cloud_final_modules"] = modules;
  user["package_upgrade"] = kYamlFalse;
  user["resize_rootfs"] = kYamlTrue;
  user["manage_etc_hosts"] = "localhost";

  if (!guest.users.empty()) {
    YAML::Node passwords(YAML::NodeType::Sequence);
    YAML::Node users(YAML::NodeType::Sequence);
    for (const VmGuestUser& account : guest.users) {
      YAML::Node entry(YAML::NodeType::Map);
      entry["name"] = account.name;
      entry["lock_passwd"] = kYamlFalse;
      if (!account.password.empty()) {
        entry["passwd"] = account.password;
        passwords.push_back(account.name + ":" + account.password);
      }
      if (!account.ssh_authorized_keys.empty())
        entry["ssh_authorized_keys"] = yaml_list(account.ssh_authorized_keys);
      if (account.name != "root") {
        entry["sudo"] = "ALL=(ALL) NOPASSWD:ALL";
        entry["shell"] = vm_config_.default_shell;
      }
      users.push_back(entry);
    }
    chpasswd["list"] = passwords;
    user["users"] = users;
  }
  user_data_ = "#cloud-config\n" + emit_yaml(user);

  network_config_ = make_network_config(vm_config_).text;
}
