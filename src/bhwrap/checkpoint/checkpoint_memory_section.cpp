#include "bhwrap/checkpoint/checkpoint_memory_section.h"

#include <algorithm>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "bhwrap/checkpoint/checkpoint_header_list.h"

std::optional<std::string> read_memory_section(const CheckpointFile& image,
                                               const libnv::nvlist_t* header,
                                               const ImageSection& config, ImageSection& memory) {
  if (auto error = header_number(header, "memory", "offset", memory.offset)) return error;
  if (auto error = header_number(header, "memory", "size", memory.size)) return error;
  if (memory.size == 0) return "Memory section data error: the section is empty";
  if (memory.offset < checkpoint::page_size)
    return "Memory section data error: the section overlaps the header page";

  // The section and its last table page (which may reach past the section's
  // end) lie inside the image.
  constexpr const char* read_error = "Memory section read error";
  int64_t image_size = image.size();
  if (image_size < 0 || memory.offset > static_cast<uint64_t>(image_size) ||
      memory.size > static_cast<uint64_t>(image_size) - memory.offset)
    return read_error;
  uint64_t last_page = memory.offset + (memory.size - 1) / checkpoint::table_stride * checkpoint::table_stride;
  if (checkpoint::page_size > static_cast<uint64_t>(image_size) - last_page) return read_error;

  ImageSection table{memory.offset,
                     std::max(memory.size, last_page + checkpoint::page_size - memory.offset)};
  if (table.overlaps(config))
    return "Memory section data error: the section overlaps the configuration section";
  return std::nullopt;
}
