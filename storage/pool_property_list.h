// Pool properties for libzfs (pool creation): every value is a text.
#pragma once

#include <cstdint>
#include <string>

#include "hostlib/libzfs.h"
#include "storage/property_list.h"

class pool_property_list : public property_list {
 public:
  // Adds `name` = `text`: property_stored, property_no_memory or
  // property_refused.
  int32_t set(const std::string& name, const std::string& text);
  // The same for the pool property `prop` (a valid id).
  int32_t set_prop(zpool_prop_t prop, const std::string& text);
};
