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

// Whether `page` is a well-formed layout-0 page in its place in the chain.
bool old_table_page_valid(const uint8_t* page, bool last) {
  return load<uint64_t>(page, old_magic_offset) == table_magic &&
         ((load<uint32_t>(page, old_flags_offset) & old_last_page_flag) != 0) == last;
}

// Whether `page` is a layout-1 page as a conversion writes it, in its place.
bool new_table_page_valid(const uint8_t* page, bool last) {
  uint64_t magic = load<uint64_t>(page, 0);
  return (magic & ~new_last_page_bit) == table_magic &&
         ((magic & new_last_page_bit) != 0) == last && page[new_version_offset] == 1 &&
         page[new_version_offset + 1] == 1 &&
         load<uint16_t>(page, new_count_offset) <= max_table_entries;
}

enum class PageState { old, converted, bad };

PageState classify(const uint8_t* page, bool first, bool last) {
  if (old_table_page_valid(page, last)) return PageState::old;
  if (!first && new_table_page_valid(page, last)) return PageState::converted;
  return PageState::bad;
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

std::optional<int32_t> table_page_layout(const uint8_t* page) {
  if (load<uint64_t>(page, old_magic_offset) == table_magic) return memory_format_old;
  if ((load<uint64_t>(page, 0) & ~new_last_page_bit) == table_magic) return memory_format_new;
  return std::nullopt;
}

std::optional<std::string> read_memory_layout(const CheckpointFile& image, uint64_t offset,
                                              int32_t& memory_format) {
  Page page{};
  if (image.read_at(page.data(), page.size(), offset) != static_cast<ssize_t>(page.size()))
    return read_error;
  std::optional<int32_t> layout = table_page_layout(page.data());
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
  if (size > UINT64_MAX - offset) return data_error;
  const Chain chain{offset, offset + size};
  Page page{};

  // Check the whole chain before changing anything.
  for (uint64_t i = 0; i < chain.pages(); ++i) {
    if (image.read_at(page.data(), page.size(), chain.position(i)) !=
        static_cast<ssize_t>(page.size()))
      return read_error;
    if (classify(page.data(), i == 0, chain.last(i)) == PageState::bad) return data_error;
  }

  // Rewrite from the last page to the first.
  Page converted{};
  for (uint64_t i = chain.pages(); i-- > 0;) {
    uint64_t position = chain.position(i);
    if (image.read_at(page.data(), page.size(), position) != static_cast<ssize_t>(page.size()))
      return read_error;
    PageState state = classify(page.data(), i == 0, chain.last(i));
    if (state == PageState::bad) return data_error;
    if (state == PageState::converted) continue;
    convert_table_page(page.data(), chain.last(i), converted.data());
    if (image.write_at(converted.data(), converted.size(), position) !=
        static_cast<ssize_t>(converted.size()))
      return write_error;
  }
  return std::nullopt;
}
