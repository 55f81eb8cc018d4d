#include "sim/spdk_tgt/param_schema.h"

#include <map>
#include <vector>

namespace spdk_sim {
namespace {

using json = nlohmann::json;

enum class Kind { text, flag, count, object };

struct Member {
  const char* name;
  Kind kind;
  bool required = false;
  const std::vector<Member>* members = nullptr;  // for Kind::object
};

const std::vector<Member> kNamespace = {
    {"bdev_name", Kind::text, true}, {"nsid", Kind::count},      {"nguid", Kind::text},
    {"eui64", Kind::text},           {"uuid", Kind::text},       {"ptpl_file", Kind::text},
    {"anagrpid", Kind::count},       {"no_auto_visible", Kind::flag},
};

const std::vector<Member> kListenAddress = {
    {"trtype", Kind::text, true}, {"adrfam", Kind::text}, {"traddr", Kind::text, true}, {"trsvcid", Kind::text},
};

const std::vector<Member> kListener = {
    {"nqn", Kind::text, true},
    {"tgt_name", Kind::text},
    {"listen_address", Kind::object, true, &kListenAddress},
    {"secure_channel", Kind::flag},
    {"anagrpid", Kind::count},
};

const std::map<std::string, std::vector<Member>>& schemas() {
  static const std::map<std::string, std::vector<Member>> table = {
      {"bdev_aio_create",
       {{"name", Kind::text, true},
        {"filename", Kind::text, true},
        {"block_size", Kind::count},
        {"readonly", Kind::flag},
        {"fallocate", Kind::flag},
        {"uuid", Kind::text}}},
      {"bdev_aio_delete", {{"name", Kind::text, true}}},
      {"bdev_get_bdevs", {{"name", Kind::text}, {"timeout", Kind::count}}},
      {"nvmf_create_subsystem",
       {{"nqn", Kind::text, true},
        {"tgt_name", Kind::text},
        {"serial_number", Kind::text},
        {"model_number", Kind::text},
        {"pool", Kind::text},
        {"allow_any_host", Kind::flag},
        {"ana_reporting", Kind::flag},
        {"max_namespaces", Kind::count},
        {"min_cntlid", Kind::count},
        {"max_cntlid", Kind::count}}},
      {"nvmf_delete_subsystem", {{"nqn", Kind::text, true}, {"tgt_name", Kind::text}}},
      {"nvmf_subsystem_add_ns",
       {{"nqn", Kind::text, true}, {"tgt_name", Kind::text}, {"namespace", Kind::object, true, &kNamespace}}},
      {"nvmf_subsystem_remove_ns", {{"nqn", Kind::text, true}, {"tgt_name", Kind::text}, {"nsid", Kind::count, true}}},
      {"nvmf_subsystem_add_listener", kListener},
      {"nvmf_subsystem_remove_listener", kListener},
      {"nvmf_subsystem_add_host",
       {{"nqn", Kind::text, true},
        {"host", Kind::text, true},
        {"tgt_name", Kind::text},
        {"dhchap_key", Kind::text},
        {"dhchap_ctrlr_key", Kind::text},
        {"psk", Kind::text}}},
      {"nvmf_subsystem_remove_host", {{"nqn", Kind::text, true}, {"host", Kind::text, true}, {"tgt_name", Kind::text}}},
      {"nvmf_subsystem_get_controllers", {{"nqn", Kind::text, true}, {"tgt_name", Kind::text}}},
      {"nvmf_get_subsystems", {{"nqn", Kind::text}, {"tgt_name", Kind::text}}},
      {"sim_connect", {{"nqn", Kind::text, true}, {"hostnqn", Kind::text}}},
      {"sim_disconnect", {{"nqn", Kind::text, true}, {"hostnqn", Kind::text}}},
  };
  return table;
}

bool of_kind(const json& value, Kind kind) {
  switch (kind) {
    case Kind::text: return value.is_string();
    case Kind::flag: return value.is_boolean();
    case Kind::count: return value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0);
    case Kind::object: return value.is_object();
  }
  return false;
}

bool fits(const json& object, const std::vector<Member>& members) {
  for (const auto& [key, value] : object.items()) {
    const Member* known = nullptr;
    for (const Member& m : members)
      if (key == m.name) known = &m;
    if (!known || !of_kind(value, known->kind)) return false;
    if (known->members && !fits(value, *known->members)) return false;
  }
  for (const Member& m : members)
    if (m.required && !object.contains(m.name)) return false;
  return true;
}

}  // namespace

bool params_fit(const std::string& method, const json& params) {
  auto it = schemas().find(method);
  if (it == schemas().end()) return true;
  if (params.is_null()) return fits(json::object(), it->second);
  return params.is_object() && fits(params, it->second);
}

}  // namespace spdk_sim
