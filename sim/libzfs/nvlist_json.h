// Pool configurations travel as nvlists; the stand-in keeps them as JSON.
// Objects are nvlists, unsigned and signed numbers uint64 members, texts
// string members, arrays of numbers uint64 arrays and other arrays (empty
// ones too) nvlist arrays; a boolean member becomes true.
#pragma once

#include <nlohmann/json.hpp>

#include <libzfs.h>

namespace zfs_sim {

// A new nvlist (unique names) for the JSON object, null when out of memory.
nvlist_t* json_to_nvlist(const nlohmann::json& object);
nlohmann::json nvlist_to_json(const nvlist_t* list);

}  // namespace zfs_sim
