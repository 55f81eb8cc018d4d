// The memory table of a checkpoint image: finding its page layout and
// converting it, in place, from layout 0 to layout 1 (see checkpoint_format.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bhwrap/checkpoint/checkpoint_file.h"

// The layout of one table page: memory_format_old when the magic is at byte
// 2048 (tested first), memory_format_new when it is at byte 0 (bit 0 aside),
// else nothing. `page` holds checkpoint::page_size bytes.
std::optional<int32_t> table_page_layout(const uint8_t* page);

// Reads the first table page at `offset` and finds its layout. On failure,
// the message ("Memory section read error" / "Memory section data error").
std::optional<std::string> read_memory_layout(const CheckpointFile& image, uint64_t offset,
                                              int32_t& memory_format);

// Builds the layout-1 page `out` holding the entries of the layout-0 `page`.
void convert_table_page(const uint8_t* page, bool last, uint8_t* out);

// Converts the chain of table pages at `offset` (section length `size`) of
// the image at `path` from layout 0 to layout 1. Every page is checked before
// any is rewritten, and the first page (whose layout names the image's) is
// rewritten last; pages already in layout 1 after the first are accepted as
// converted, so a conversion cut short by a write failure completes on the
// next attempt. On failure, the message.
std::optional<std::string> convert_memory_table(const std::string& path, uint64_t offset,
                                                uint64_t size);
