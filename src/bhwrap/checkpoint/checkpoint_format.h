// The layout of a bhyve checkpoint image, as far as the controller reads it.
//
// Header page (the first 4096 bytes): the identification text at 0, the
// length N of the packed name/value list (u32) at 64, the list at 68. The list
// names the sections "config" (key=value text) and "memory" (a chain of
// 4096-byte table pages, one every 2 MiB of the section). A table page has
// one of two layouts:
//   layout 0: u32 entries from byte 0 (up to 511, ended by 0xFFFFFFFF when
//             fewer), magic (u64) at 2048, flags (u32) at 2064 with bit 2 set
//             on the last page of the chain only;
//   layout 1: magic at 0 (bit 0 set on the last page only), the bytes 1, 1 at
//             8 and 9, the entry count (u16) at 10, the entries from 12, zero
//             up to the end of the page.
// Integers are little-endian (host order on the target).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace checkpoint {

inline constexpr size_t page_size = 4096;
inline constexpr std::string_view ident = "BHYVE OMBRIX CHECKPOINT IMAGE VERSION 1";
inline constexpr size_t list_length_offset = 64;
inline constexpr size_t list_offset = 68;
inline constexpr size_t max_list_length = page_size - list_offset;

// A bhyve configuration is a few kilobytes; a larger section is a damaged
// header, and its size is never allocated.
inline constexpr uint64_t max_config_size = 1024 * 1024;

inline constexpr uint64_t table_magic = 0xD1F76E4D0D696D02ull;
inline constexpr uint64_t table_stride = 2 * 1024 * 1024;
inline constexpr size_t max_table_entries = 511;
inline constexpr uint32_t table_end_entry = 0xFFFFFFFFu;

inline constexpr size_t old_magic_offset = 2048;
inline constexpr size_t old_flags_offset = 2064;
inline constexpr uint32_t old_last_page_flag = 4;

inline constexpr uint64_t new_last_page_bit = 1;
inline constexpr size_t new_version_offset = 8;  // bytes 8 and 9 hold 1
inline constexpr size_t new_count_offset = 10;
inline constexpr size_t new_entries_offset = 12;

}  // namespace checkpoint
