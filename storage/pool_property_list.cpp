#include "storage/pool_property_list.h"

int32_t pool_property_list::set(const std::string& name, const std::string& text) {
  if (!ensure_list()) return property_no_memory;
  return stored(nvpair::nvlist_add_string(list(), name.c_str(), text.c_str()), name, text);
}

int32_t pool_property_list::set_prop(zpool_prop_t prop, const std::string& text) {
  const char* name = libzfs::zpool_prop_to_name(prop);
  return set(name ? name : "", text);
}
