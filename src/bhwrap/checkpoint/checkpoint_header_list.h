// The packed name/value list of a checkpoint image's header, unpacked through
// libnv, and safe reads of its section entries: the image comes from disk and
// may be damaged, so every member is looked for (with its type) before it is
// read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "hostlib/libnv.h"

struct header_list_deleter {
  void operator()(libnv::nvlist_t* list) const;
};
using header_list = std::unique_ptr<libnv::nvlist_t, header_list_deleter>;

// The list packed in `size` bytes at `data`; null when they do not hold one.
header_list unpack_header_list(const void* data, size_t size);

// The number `entry` of the nested list `section`, into `value`. On failure,
// the message ("Header section 'memory' is missing", "Header section 'config'
// has no number 'size'").
std::optional<std::string> header_number(const libnv::nvlist_t* header, const char* section,
                                         const char* entry, uint64_t& value);

// The same for a text entry.
std::optional<std::string> header_string(const libnv::nvlist_t* header, const char* section,
                                         const char* entry, std::string& value);
