#include "model/vm_guest.h"

#include "ipc/json_readers.h"
#include "model/record_json.h"

namespace {

void read_list_if_list(const nlohmann::json& j, const std::string& key,
                       std::vector<std::string>& out) {
  const nlohmann::json* v = json_member(j, key);
  if (v && v->is_array()) out = json_string_list(*v);
}

}  // namespace

void from_json(const nlohmann::json& j, VmGuest& guest) {
  guest.hostname = json_string_or(j, "hostname", guest.hostname);
  guest.kms_host = json_string_or(j, "kms_host", guest.kms_host);
  guest.operator_script = json_string_or(j, "operator-script", guest.operator_script);
  guest.ssh_password_auth = json_int_or(j, "ssh_password_auth", guest.ssh_password_auth);
  if (!j.is_object()) return;

  if (const nlohmann::json* r = json_member(j, "resolver"); r && r->is_object()) {
    read_list_if_list(*r, "name_server", guest.resolver.name_server);
    guest.resolver.search = json_string_or(*r, "search", guest.resolver.search);
  }
  read_list_if_list(j, "boot_cmds", guest.boot_cmds);
  read_list_if_list(j, "run_cmds", guest.run_cmds);
  if (const nlohmann::json* users = json_member(j, "users"); users && users->is_object()) {
    guest.users.clear();
    for (const auto& [name, entry] : users->items()) {
      VmGuestUser user;
      user.name = name;
      user.password = json_string_or(entry, "password", "");
      read_list_if_list(entry, "ssh-authorized-keys", user.ssh_authorized_keys);
      guest.users.push_back(std::move(user));
    }
  }
}

void to_json(nlohmann::json& j, const VmGuest& guest) {
  nlohmann::json users = nlohmann::json::object();
  for (const VmGuestUser& user : guest.users)
    users[user.name] = {{"password", user.password},
                        {"ssh-authorized-keys", user.ssh_authorized_keys}};
  j = nlohmann::json{
      {"hostname", guest.hostname},
      {"kms_host", guest.kms_host},
      {"operator-script", guest.operator_script},
      {"ssh_password_auth", guest.ssh_password_auth},
      {"resolver", {{"name_server", guest.resolver.name_server}, {"search", guest.resolver.search}}},
      {"boot_cmds", guest.boot_cmds},
      {"run_cmds", guest.run_cmds},
      {"users", users},
  };
}
