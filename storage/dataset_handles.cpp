#include "storage/dataset_handles.h"

std::string dataset_name(zfs_handle_t* dataset) {
  const char* name = dataset ? libzfs::zfs_get_name(dataset) : nullptr;
  return name ? name : "";
}

std::optional<std::string> literal_property(zfs_handle_t* dataset, zfs_prop_t prop) {
  char buffer[1024] = {};
  if (libzfs::zfs_prop_get(dataset, prop, buffer, sizeof buffer, nullptr, nullptr, 0, B_TRUE) != 0)
    return std::nullopt;
  return std::string(buffer);
}

std::optional<std::string> guid_text(zfs_handle_t* dataset) {
  return literal_property(dataset, ZFS_PROP_GUID);
}

std::string dataset_error(zfs_handle_t* dataset) {
  libzfs_handle_t* handle = libzfs::zfs_get_handle(dataset);
  const char* text = handle ? libzfs::libzfs_error_description(handle) : nullptr;
  return text ? text : "";
}
