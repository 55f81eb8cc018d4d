// The memory table of a checkpoint image: finding its page layout and
// converting it, in place, from layout 0 to layout 1 (see checkpoint_format.h).
//
// A full layout-1 page whose entries 509 and 510 hold the magic carries it at
// byte 2048 too, where layout 0 keeps it; looking at the magic alone would
// take such a converted page for an unconverted one and convert it again.
// A page's layout is therefore taken from what is well formed in its place
// in the chain. Only a page before the last can be well formed in both
// layouts (a layout-0 last page has bit 2 of the word at 2064 set, which is
// zero in every layout-1 page); such a page belongs to layout 1 when the
// pages after it do, since a conversion rewrites the chain from its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bhwrap/checkpoint/checkpoint_file.h"
#include "bhwrap/checkpoint/checkpoint_section.h"

// Whether `page` is a well-formed table page of layout 0 / layout 1 at its
// place in the chain (`last`: the chain's last page). A layout-1 page is one
// as a conversion writes it: zero after its entries.
bool old_table_page_valid(const uint8_t* page, bool last);
bool new_table_page_valid(const uint8_t* page, bool last);

// The layout of a chain whose first page is `first` and last page `last`
// (the same page for a chain of one). A first page well formed in one layout
// only has that layout; one well formed in both takes the layout of the last
// page. A first page well formed in neither is named by its magic as bhyve
// does it: at byte 2048 layout 0, else at byte 0 (bit 0 aside) layout 1, else
// nothing.
std::optional<int32_t> table_chain_layout(const uint8_t* first, const uint8_t* last,
                                          bool single);

// Reads the first and last table page of the `memory` section (placed as
// read_memory_section checks it) and finds the table's layout. On failure,
// the message ("Memory section read error" / "Memory section data error").
std::optional<std::string> read_memory_layout(const CheckpointFile& image,
                                              const ImageSection& memory,
                                              int32_t& memory_format);

// Builds the layout-1 page `out` holding the entries of the layout-0 `page`.
void convert_table_page(const uint8_t* page, bool last, uint8_t* out);

// Converts the chain of table pages at `offset` (section length `size`, not
// 0; the offset past the header page) of the image at `path` from layout 0
// to layout 1. Every page is checked before any is rewritten, and the first
// page (whose layout names the image's) is rewritten last; the chain may end
// in pages already in layout 1, so a conversion cut short by a write failure
// completes on the next attempt. On failure, the message.
std::optional<std::string> convert_memory_table(const std::string& path, uint64_t offset,
                                                uint64_t size);
