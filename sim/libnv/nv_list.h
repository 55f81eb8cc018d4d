// The libnv stand-in's list: members in the order added, each owning a copy
// of its value, and the first error met while adding.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/include/libnv_stand_in.h"

namespace nv_sim {

// Member types; the numbers are those of the packed format.
enum class NvType : uint8_t { boolean = 1, number = 2, string = 3, nvlist = 4, binary = 5 };

// Longest member name.
constexpr size_t max_name_length = 1024;

struct NvMember {
  std::string name;
  NvType type = NvType::number;
  uint64_t number = 0;  // boolean (0 or 1), number
  std::string text;     // string
  std::unique_ptr<libnv_nvlist> list;  // nvlist
  std::vector<unsigned char> bytes;    // binary
};

}  // namespace nv_sim

struct libnv_nvlist {
  int flags = 0;
  int error = 0;
  std::vector<nv_sim::NvMember> members;
};

namespace nv_sim {

std::unique_ptr<libnv_nvlist> copy_list(const libnv_nvlist& list);

// Adds `member` unless the list already has an error; records EINVAL for a
// bad name and EEXIST for a repeated name in a list with unique names.
void add_member(libnv_nvlist* list, NvMember member);

// The first member of that name and type, or null.
const NvMember* find(const libnv_nvlist* list, const char* name, NvType type);

// As find(), but stops the process (abort, with a message) when there is
// none: what libnv's getters do.
const NvMember& get_or_abort(const libnv_nvlist* list, const char* name, NvType type);

}  // namespace nv_sim
