#include "bhwrap/checkpoint/checkpoint_memory.h"

#include <array>
#include <cstring>

#include "bhwrap/checkpoint/checkpoint_format.h"
#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"

namespace {

using namespace checkpoint;
using Page = std::array<uint8_t, page_size>;

constexpr const char* read_error = "Memory section read error";
constexpr const char* data_error = "Memory section data error";
constexpr const char* write_error = "Memory section write error";

template <class T>
T load(const uint8_t* page, size_t offset) {
  T value;
  std::memcpy(&value, page + offset, sizeof value);
  return value;
}

template <class T>
void store(uint8_t* page, size_t offset, T value) {
  std::memcpy(page + offset, &value, sizeof value);
}

// The chain: a page at offset, offset + 2 MiB, ... below end.
struct Chain {
  uint64_t offset;
  uint64_t end;
  uint64_t pages() const { return end > offset ? (end - offset - 1) / table_stride + 1 : 0; }
  uint64_t position(uint64_t index) const { return offset + index * table_stride; }
  bool last(uint64_t index) const { return index + 1 == pages(); }
};

}  // namespace

bool old_table_page_valid(const uint8_t* page, bool last) {
  return load<uint64_t>(page, old_magic_offset) == table_magic &&
         ((load<uint32_t>(page, old_flags_offset) & old_last_page_flag) != 0) == last;
}

bool new_table_page_valid(const uint8_t* page, bool last) {
  uint64_t magic = load<uint64_t>(page, 0);
  uint16_t count = load<uint16_t>(page, new_count_offset);
  if ((magic & ~new_last_page_bit) != table_magic || ((magic & new_last_page_bit) != 0) != last ||
      page[new_version_offset] != 1 || page[new_version_offset + 1] != 1 ||
      count > max_table_entries)
    return false;
  for (size_t i = new_entries_offset + count * sizeof(uint32_t); i < page_size; ++i)
    if (page[i] != 0) return false;
  return true;
}

std::optional<int32_t> table_chain_layout(const uint8_t* first, const uint8_t* last,
                                          bool single) {
  bool old_form = old_table_page_valid(first, single);
  bool new_form = new_table_page_valid(first, single);
  if (old_form && new_form)
    return old_table_page_valid(last, true) ? memory_format_old : memory_format_new;
  if (old_form) return memory_format_old;
  if (new_form) return memory_format_new;
  if (load<uint64_t>(first, old_magic_offset) == table_magic) return memory_format_old;
  if ((load<uint64_t>(first, 0) & ~new_last_page_bit) == table_magic) return memory_format_new;
  return std::nullopt;
}

std::optional<std::string> read_memory_layout(const CheckpointFile& image,
                                              const ImageSection& memory,
                                              int32_t& memory_format) {
  const Chain chain{memory.offset, memory.offset + memory.size};
  Page first{}, last{};
  if (chain.pages() == 0 ||
      image.read_at(first.data(), first.size(), chain.position(0)) != static_cast<ssize_t>(first.size()))
    return read_error;
  if (chain.pages() > 1) {
    if (image.read_at(last.data(), last.size(), chain.position(chain.pages() - 1)) !=
        static_cast<ssize_t>(last.size()))
      return read_error;
  } else {
    last = first;
  }
  std::optional<int32_t> layout = table_chain_layout(first.data(), last.data(), chain.pages() == 1);
  if (!layout) return data_error;
  memory_format = *layout;
  return std::nullopt;
}
void convert_table_page(const uint8_t* page, bool last, uint8_t* out) {
  std::memset(out, 0, page_size);
  store<uint64_t>(out, 0, table_magic | (last ? new_last_page_bit : 0));
  out[new_version_offset] = 1;
  out[new_version_offset + 1] = 1;
  uint16_t count = 0;
  for (; count < max_table_entries; ++count) {
    uint32_t entry = load<uint32_t>(page, count * sizeof(uint32_t));
    if (entry == table_end_entry) break;
    store<uint32_t>(out, new_entries_offset + count * sizeof(uint32_t), entry);
  }
  store<uint16_t>(out, new_count_offset, count);
}

std::optional<std::string> convert_memory_table(const std::string& path, uint64_t offset,
                                                uint64_t size) {
  CheckpointFile image;
  if (image.open(path, true) != 0) return "Memory update: failed to open snapshot";
  if (size == 0 || offset < page_size || size > UINT64_MAX - offset) return data_error;
  const Chain chain{offset, offset + size};
  const uint64_t pages = chain.pages();
  Page page{};

  // Check the whole chain before changing anything: layout-0 pages from the
  // first, then (after a conversion cut short) layout-1 pages to the end. The
  // layout-1 part starts at the earliest page it can, after the first.
  auto read_page = [&](uint64_t i) {
    return image.read_at(page.data(), page.size(), chain.position(i)) ==
           static_cast<ssize_t>(page.size());
  };
  uint64_t converted_from = pages;
  for (; converted_from > 1; --converted_from) {
    if (!read_page(converted_from - 1)) return read_error;
    if (!new_table_page_valid(page.data(), chain.last(converted_from - 1))) break;
  }
  for (uint64_t i = 0; i < converted_from; ++i) {
    if (!read_page(i)) return read_error;
    if (!old_table_page_valid(page.data(), chain.last(i))) return data_error;
  }

  // Rewrite the layout-0 pages from the last to the first.
  Page converted{};
  for (uint64_t i = converted_from; i-- > 0;) {
    uint64_t position = chain.position(i);
    if (!read_page(i)) return read_error;
    if (!old_table_page_valid(page.data(), chain.last(i))) return data_error;
    convert_table_page(page.data(), chain.last(i), converted.data());
    if (image.write_at(converted.data(), converted.size(), position) !=
        static_cast<ssize_t>(converted.size()))
      return write_error;
  }
  return std::nullopt;
}
