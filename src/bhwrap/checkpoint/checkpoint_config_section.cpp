#include "bhwrap/checkpoint/checkpoint_config_section.h"

#include <string_view>

#include <fmt/format.h>

#include "bhwrap/checkpoint/checkpoint_config_text.h"
#include "bhwrap/checkpoint/checkpoint_format.h"
#include "bhwrap/checkpoint/checkpoint_header_list.h"

std::optional<std::string> read_config_section(const CheckpointFile& image,
                                               const libnv::nvlist_t* header,
                                               checkpoint_config_map& config,
                                               ImageSection& where) {
  uint64_t offset = 0, size = 0;
  std::string type;
  if (auto error = header_number(header, "config", "offset", offset)) return error;
  if (auto error = header_number(header, "config", "size", size)) return error;
  if (auto error = header_string(header, "config", "type", type)) return error;
  if (type != "text") return "Header section 'config' is not type 'text'";
  where = {offset, size};
  if (size == 0) return std::nullopt;

  constexpr const char* read_error = "'Config' data section read error";
  if (size > checkpoint::max_config_size)
    return fmt::format("{}: {} bytes exceed the bound of {}", read_error, size,
                       checkpoint::max_config_size);
  if (offset < checkpoint::page_size)
    return fmt::format("{}: the section overlaps the header page", read_error);

  // The section is read in whole pages, all of which must be in the image.
  int64_t image_size = image.size();
  if (image_size < 0 || size > static_cast<uint64_t>(image_size)) return read_error;
  uint64_t padded = (size + checkpoint::page_size - 1) / checkpoint::page_size * checkpoint::page_size;
  if (offset > static_cast<uint64_t>(image_size) || padded > static_cast<uint64_t>(image_size) - offset)
    return read_error;

  std::string data(padded, '\0');
  if (image.read_at(data.data(), data.size(), offset) != static_cast<ssize_t>(data.size()))
    return read_error;
  config = parse_checkpoint_config(std::string_view(data).substr(0, size));
  return std::nullopt;
}
