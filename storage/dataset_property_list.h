// Dataset properties for libzfs (creating datasets) and as read back from
// them. Names must be dataset properties known to libzfs (aliases pass);
// texts may also go to user properties ("module:name").
#pragma once

#include <cstdint>
#include <string>

#include "hostlib/libzfs.h"
#include "storage/property_list.h"

class dataset_property_list : public property_list {
 public:
  // A number: kept as its decimal text for string properties. The id 0
  // (type) and names that are no property give property_unknown.
  int32_t set(const std::string& name, uint64_t number);
  // A text: kept as a number when the property is not a string property and
  // the text is a plain decimal number that fits in 64 bits; otherwise as
  // the text, for libzfs to interpret.
  int32_t set(const std::string& name, const std::string& text);
  int32_t set(const std::string& name, const char* text) { return set(name, std::string(text)); }
  int32_t set_prop(zfs_prop_t prop, uint64_t number);
  int32_t set_prop(zfs_prop_t prop, const std::string& text);

  // The number stored for `name`, or `fallback` when there is none or it is
  // a text.
  uint64_t get_uint(const std::string& name, uint64_t fallback) const;
  // The value as text (numbers in decimal), or `fallback` when absent.
  std::string get_text(const std::string& name, const std::string& fallback) const;

 private:
  int32_t add_text(const std::string& name, const std::string& text);
  int32_t add_number(const std::string& name, uint64_t number);
};
