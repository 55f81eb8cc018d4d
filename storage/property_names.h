// Small property helpers of the storage library: comma-separated property
// name lists, the accepted values of every property, the names of dataset
// types and property sources.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "hostlib/libzfs.h"

// The items of the comma-separated `names` (each trimmed of blanks, tabs,
// CR and LF) that are user property names ("module:name").
std::set<std::string> user_property_names(const std::string& names);

// The items of `names` with known property names and aliases replaced by the
// canonical names; other items stay as they are, empty items go.
std::set<std::string> resolve_property_names(const std::string& names);

// "filesystem", "snapshot", "volume", ... ("" for no such type).
std::string dataset_type_name(int32_t type);

// Property name -> text of its accepted values ("" where libzfs gives none):
// pool properties for ZFS_TYPE_POOL, dataset properties otherwise.
std::map<std::string, std::string> list_property_values(int32_t type);

// "default", "temporary", "local", "inherited", "received"; "-" for any
// other source (none included).
std::string prop_source_name(int32_t source);

// An entry naming a property by id with two texts.
struct property_entry {
  int32_t id = 0;
  std::optional<std::string> first;
  std::optional<std::string> second;
};

// The entry is of property `id`, both texts are there, the first is not
// empty and the second holds a ':' (the form of a user property).
bool is_user_property(const property_entry& entry, int32_t id);
