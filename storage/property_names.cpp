#include "storage/property_names.h"

#include <vector>

namespace {

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\r\n";
  size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// Every item between commas, trimmed; "" is one empty item.
std::vector<std::string> items_of(const std::string& names) {
  std::vector<std::string> items;
  size_t start = 0;
  while (true) {
    size_t comma = names.find(',', start);
    items.push_back(trimmed(names.substr(start, comma == std::string::npos ? std::string::npos
                                                                           : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return items;
}

struct values_walk {
  bool pool;
  std::map<std::string, std::string> result;
};

int add_values(int prop, void* data) {
  auto* walk = static_cast<values_walk*>(data);
  const char* name = walk->pool ? libzfs::zpool_prop_to_name(static_cast<zpool_prop_t>(prop))
                                : libzfs::zfs_prop_to_name(static_cast<zfs_prop_t>(prop));
  if (!name) return ZPROP_CONT;
  const char* values = walk->pool ? libzfs::zpool_prop_values(static_cast<zpool_prop_t>(prop))
                                  : libzfs::zfs_prop_values(static_cast<zfs_prop_t>(prop));
  walk->result.emplace(name, values ? values : "");
  return ZPROP_CONT;
}

}  // namespace

std::set<std::string> user_property_names(const std::string& names) {
  std::set<std::string> result;
  for (const std::string& item : items_of(names))
    if (libzfs::zfs_name_to_prop(item.c_str()) == ZPROP_INVAL &&
        libzfs::zfs_prop_user(item.c_str()) == 1)
      result.insert(item);
  return result;
}

std::set<std::string> resolve_property_names(const std::string& names) {
  std::set<std::string> result;
  for (const std::string& item : items_of(names)) {
    if (item.empty()) continue;
    zfs_prop_t prop = libzfs::zfs_name_to_prop(item.c_str());
    const char* canonical = prop == ZPROP_INVAL ? nullptr : libzfs::zfs_prop_to_name(prop);
    result.insert(canonical ? canonical : item);
  }
  return result;
}

std::string dataset_type_name(int32_t type) {
  const char* name = libzfs::zfs_type_to_name(static_cast<zfs_type_t>(type));
  return name ? name : "";
}

std::map<std::string, std::string> list_property_values(int32_t type) {
  values_walk walk{type == ZFS_TYPE_POOL, {}};
  libzfs::zprop_iter(add_values, &walk, B_TRUE, B_FALSE, static_cast<zfs_type_t>(type));
  return std::move(walk.result);
}

std::string prop_source_name(int32_t source) {
  switch (source) {
    case ZPROP_SRC_DEFAULT: return "default";
    case ZPROP_SRC_TEMPORARY: return "temporary";
    case ZPROP_SRC_LOCAL: return "local";
    case ZPROP_SRC_INHERITED: return "inherited";
    case ZPROP_SRC_RECEIVED: return "received";
  }
  return "-";
}

bool is_user_property(const property_entry& entry, int32_t id) {
  return entry.id == id && entry.first && entry.second && !entry.first->empty() &&
         entry.second->find(':') != std::string::npos;
}
