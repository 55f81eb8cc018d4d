#include "storage/dataset_properties.h"

#include <fmt/format.h>

#include "storage/dataset_handles.h"
#include "storage/property_names.h"

namespace {

constexpr int last_property_id = 94;

// The clones of a snapshot joined by ",".
std::string clone_names(zfs_handle_t* dataset) {
  std::string joined;
  nvlist_t* clones = libzfs::zfs_get_clones_nvl(dataset);
  for (nvpair_t* pair = clones ? nvpair::nvlist_next_nvpair(clones, nullptr) : nullptr; pair;
       pair = nvpair::nvlist_next_nvpair(clones, pair)) {
    if (!joined.empty()) joined += ',';
    joined += nvpair::nvpair_name(pair);
  }
  return joined;
}

bool wanted(const std::set<std::string>& filter, const std::string& name) {
  return filter.empty() || filter.count(name);
}

dataset_result not_initialized() { return {storage_not_initialized, libzfs_not_initialized}; }

}  // namespace

int32_t read_dataset_properties(zfs_handle_t* dataset, dataset_property_list& props,
                                const std::set<std::string>& filter) {
  if (!dataset) return -1;
  zfs_type_t type = libzfs::zfs_get_type(dataset);
  for (int id = 0; id <= last_property_id; ++id) {
    auto prop = static_cast<zfs_prop_t>(id);
    if (id != 0 && !libzfs::zfs_prop_valid_for_type(id, type, B_FALSE)) continue;
    const char* name = libzfs::zfs_prop_to_name(prop);
    if (!name || !wanted(filter, name)) continue;
    if (prop == ZFS_PROP_CLONES) {
      std::string clones = clone_names(dataset);
      if (!clones.empty()) props.set(name, clones);
    } else if (!libzfs::zfs_prop_is_string(prop)) {
      uint64_t value = 0;
      zprop_source_t source = ZPROP_SRC_NONE;
      char where[1024] = {};
      if (libzfs::zfs_prop_get_numeric(dataset, prop, &value, &source, where, sizeof where) == 0)
        props.set(name, value);
    } else {
      char text[1024] = {};
      zprop_source_t source = ZPROP_SRC_NONE;
      char where[1024] = {};
      if (libzfs::zfs_prop_get(dataset, prop, text, sizeof text, &source, where, sizeof where,
                               B_FALSE) == 0)
        props.set(name, std::string(text));
    }
  }
  nvlist_t* user = libzfs::zfs_get_user_props(dataset);
  for (nvpair_t* pair = user ? nvpair::nvlist_next_nvpair(user, nullptr) : nullptr; pair;
       pair = nvpair::nvlist_next_nvpair(user, pair)) {
    std::string name = nvpair::nvpair_name(pair);
    nvlist_t* entry = nullptr;
    const char* value = nullptr;
    if (!wanted(filter, name) || nvpair::nvpair_value_nvlist(pair, &entry) != 0 ||
        nvpair::nvlist_lookup_string(entry, "value", &value) != 0)
      continue;
    props.set(name, std::string(value));
  }
  return 0;
}

dataset_result get_dataset_properties(zfs_session& session, dataset_property_list& props,
                                      const std::string& name, int32_t types) {
  if (!session.ok()) return not_initialized();
  zfs_dataset dataset = open_dataset(session, name, types);
  if (!dataset) return {dataset_properties_open_failed, session.error_description()};
  read_dataset_properties(dataset.get(), props, {});
  return {0, ""};
}

dataset_result set_dataset_properties(zfs_session& session, const std::string& name,
                                      nvlist_t* props, int32_t types) {
  if (!session.ok()) return not_initialized();
  zfs_dataset dataset = open_dataset(session, name, types);
  if (!dataset)
    return {-1, fmt::format("Failed to open: {}: {}", name, session.error_description())};
  if (libzfs::zfs_prop_set_list(dataset.get(), props) == 0) return {0, ""};
  switch (libzfs::libzfs_errno(session.handle())) {
    case EZFS_MOUNTFAILED: return {-1, "property may be set but unable to remount filesystem"};
    case EZFS_SHARENFSFAILED: return {-1, "property may be set but unable to reshare filesystem"};
  }
  return {-1, session.error_description()};
}

dataset_result inherit_dataset_property(zfs_session& session, const std::string& name,
                                        const std::string& names) {
  if (!session.ok()) return not_initialized();
  std::set<std::string> user = user_property_names(names);
  if (user.empty()) return {0, ""};
  zfs_dataset dataset = open_dataset(session, name, ZFS_TYPE_DATASET);
  if (!dataset) return {-1, session.error_description()};
  for (const std::string& property : user)
    if (libzfs::zfs_prop_inherit(dataset.get(), property.c_str(), B_FALSE) != 0)
      return {-1, fmt::format("Failed to inherit {} of {}: {}", property, name,
                              session.error_description())};
  return {0, ""};
}
