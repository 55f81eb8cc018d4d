#include "sim/libzfs/nvlist_json.h"

#include <vector>

#include "sim/include/libnvpair_stand_in.h"
#include "sim/libnvpair/nvlist_model.h"

namespace zfs_sim {

using nlohmann::json;

namespace {

bool add_member(nvlist_t* list, const std::string& name, const json& value) {
  if (value.is_number()) return nvlist_add_uint64(list, name.c_str(), value.get<uint64_t>()) == 0;
  if (value.is_string())
    return nvlist_add_string(list, name.c_str(), value.get<std::string>().c_str()) == 0;
  if (value.is_boolean()) return nvlist_add_uint64(list, name.c_str(), value.get<bool>() ? 1 : 0) == 0;
  if (value.is_object()) {
    nvlist_t* member = json_to_nvlist(value);
    bool ok = member && nvlist_add_nvlist(list, name.c_str(), member) == 0;
    nvlist_free(member);
    return ok;
  }
  if (value.is_array()) {
    if (!value.empty() && value.front().is_number()) {
      std::vector<uint64_t> numbers;
      for (const json& n : value) numbers.push_back(n.is_number() ? n.get<uint64_t>() : 0);
      return nvlist_add_uint64_array(list, name.c_str(), numbers.data(),
                                     static_cast<uint_t>(numbers.size())) == 0;
    }
    std::vector<nvlist_t*> members;
    bool ok = true;
    for (const json& element : value) {
      nvlist_t* member = json_to_nvlist(element);
      if (!member) ok = false;
      else members.push_back(member);
    }
    ok = ok && nvlist_add_nvlist_array(list, name.c_str(), members.data(),
                                       static_cast<uint_t>(members.size())) == 0;
    for (nvlist_t* member : members) nvlist_free(member);
    return ok;
  }
  return true;  // null: left out
}

}  // namespace

nvlist_t* json_to_nvlist(const json& object) {
  nvlist_t* list = nullptr;
  if (nvlist_alloc(&list, NV_UNIQUE_NAME, 0) != 0) return nullptr;
  if (object.is_object())
    for (const auto& [name, value] : object.items())
      if (!add_member(list, name, value)) {
        nvlist_free(list);
        return nullptr;
      }
  return list;
}

json nvlist_to_json(const nvlist_t* list) {
  json object = json::object();
  if (!list) return object;
  for (const auto& pair : list->pairs) {
    switch (pair->type) {
      case DATA_TYPE_BOOLEAN: object[pair->name] = true; break;
      case DATA_TYPE_UINT32:
      case DATA_TYPE_UINT64: object[pair->name] = pair->number; break;
      case DATA_TYPE_STRING: object[pair->name] = pair->text; break;
      case DATA_TYPE_NVLIST: object[pair->name] = nvlist_to_json(pair->list.get()); break;
      case DATA_TYPE_NVLIST_ARRAY: {
        json array = json::array();
        for (const auto& element : pair->lists) array.push_back(nvlist_to_json(element.get()));
        object[pair->name] = array;
        break;
      }
      case DATA_TYPE_UINT64_ARRAY: object[pair->name] = pair->numbers; break;
      default: break;
    }
  }
  return object;
}

}  // namespace zfs_sim
