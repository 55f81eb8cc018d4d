#include "bhwrap/checkpoint/checkpoint_header_list.h"

#include <fmt/format.h>

namespace {

// The nested list `section`, or the message why there is none.
const libnv::nvlist_t* section_list(const libnv::nvlist_t* header, const char* section,
                                    std::optional<std::string>& error) {
  if (header && libnv::nvlist_exists_nvlist(header, section)) {
    if (const libnv::nvlist_t* list = libnv::nvlist_get_nvlist(header, section)) return list;
  }
  error = fmt::format("Header section '{}' is missing", section);
  return nullptr;
}

std::string missing_entry(const char* section, const char* kind, const char* entry) {
  return fmt::format("Header section '{}' has no {} '{}'", section, kind, entry);
}

}  // namespace

void header_list_deleter::operator()(libnv::nvlist_t* list) const { libnv::nvlist_destroy(list); }

header_list unpack_header_list(const void* data, size_t size) {
  return header_list(libnv::nvlist_unpack(data, size, 0));
}

std::optional<std::string> header_number(const libnv::nvlist_t* header, const char* section,
                                         const char* entry, uint64_t& value) {
  std::optional<std::string> error;
  const libnv::nvlist_t* list = section_list(header, section, error);
  if (!list) return error;
  if (!libnv::nvlist_exists_number(list, entry)) return missing_entry(section, "number", entry);
  value = libnv::nvlist_get_number(list, entry);
  return std::nullopt;
}

std::optional<std::string> header_string(const libnv::nvlist_t* header, const char* section,
                                         const char* entry, std::string& value) {
  std::optional<std::string> error;
  const libnv::nvlist_t* list = section_list(header, section, error);
  if (!list) return error;
  const char* text = libnv::nvlist_exists_string(list, entry)
                         ? libnv::nvlist_get_string(list, entry)
                         : nullptr;
  if (!text) return missing_entry(section, "string", entry);
  value = text;
  return std::nullopt;
}
