// The stand-in's name/value list: members in the order added, each owning a
// copy of its value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/include/libnvpair_stand_in.h"

struct libnvpair_nvpair {
  std::string name;
  data_type_t type = DATA_TYPE_UNKNOWN;
  uint64_t number = 0;                                    // UINT32, UINT64
  std::string text;                                       // STRING
  std::unique_ptr<libnvpair_nvlist> list;                 // NVLIST
  std::vector<std::unique_ptr<libnvpair_nvlist>> lists;  // NVLIST_ARRAY, owned
  std::vector<nvlist_t*> list_view;                       // NVLIST_ARRAY, as handed out
  std::vector<uint64_t> numbers;                          // UINT64_ARRAY
};

struct libnvpair_nvlist {
  uint_t flags = 0;
  std::vector<std::unique_ptr<libnvpair_nvpair>> pairs;
};

namespace nvpair_sim {

// A deep copy of `list`.
std::unique_ptr<libnvpair_nvlist> copy_list(const libnvpair_nvlist& list);
// A deep copy of `pair`.
std::unique_ptr<libnvpair_nvpair> copy_pair(const libnvpair_nvpair& pair);

// Adds `pair` to `list` (replacing a member of the same name when the list
// has unique names): 0, or EINVAL for a null list or an empty name.
int add_pair(nvlist_t* list, std::unique_ptr<libnvpair_nvpair> pair);

// The member of that name and type, or null.
const libnvpair_nvpair* find(const nvlist_t* list, const char* name, data_type_t type);

// Stops the process with a message: what the "f" forms do on failure.
[[noreturn]] void fail(const char* function, const char* name, int error);

}  // namespace nvpair_sim
