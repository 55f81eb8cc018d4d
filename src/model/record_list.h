// Reading a list of element records (disks, ports, addresses) out of a record.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/record_json.h"

// When `j[key]` is a list, replaces `out` by its elements read over
// default-constructed records; elements that are not objects are left out.
// Any other value leaves `out` as it is.
template <typename Record>
void read_record_list(const nlohmann::json& j, const std::string& key, std::vector<Record>& out) {
  const nlohmann::json* list = json_member(j, key);
  if (!list || !list->is_array()) return;
  std::vector<Record> records;
  for (const auto& item : *list) {
    if (!item.is_object()) continue;
    Record r;
    from_json(item, r);
    records.push_back(std::move(r));
  }
  out = std::move(records);
}
