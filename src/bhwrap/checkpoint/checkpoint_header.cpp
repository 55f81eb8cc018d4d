#include "bhwrap/checkpoint/checkpoint_header.h"

#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>

#include <fmt/format.h>
#include <spdlog/spdlog.h>

#include "bhwrap/checkpoint/checkpoint_config_section.h"
#include "bhwrap/checkpoint/checkpoint_file.h"
#include "bhwrap/checkpoint/checkpoint_format.h"
#include "bhwrap/checkpoint/checkpoint_header_list.h"
#include "bhwrap/checkpoint/checkpoint_memory.h"
#include "bhwrap/checkpoint/checkpoint_memory_section.h"
#include "platform/sysctl.h"

namespace {

// The memory-table layout the running kernel asks for; nothing (with the
// reason in `error`) when it does not say.
std::optional<uint32_t> kernel_memory_format(std::string& error) {
  std::optional<std::string> text =
      platform::sysctl_get("hw.vmm.features.snapshot_memory_format", &error);
  if (!text) return std::nullopt;
  uint32_t value = 0;
  auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (ec != std::errc() || end != text->data() + text->size() || text->empty()) {
    error = fmt::format("not an unsigned 32-bit number: '{}'", *text);
    return std::nullopt;
  }
  return value;
}

// Brings a layout-0 memory table into the layout the kernel asks for.
std::optional<std::string> convert_if_asked(const snapshot_config& snapshot,
                                            const ImageSection& memory) {
  std::string error;
  std::optional<uint32_t> wanted = kernel_memory_format(error);
  if (!wanted) {
    spdlog::warn(
        "[SSCFG] vm_id={} snapshot memory format is not reported by the kernel ({}), assuming "
        "version 1: no conversion",
        snapshot.vm_id, error);
    return std::nullopt;
  }
  if (*wanted < 2) return std::nullopt;
  return convert_memory_table(snapshot.path, memory.offset, memory.size);
}

}  // namespace

checkpoint_result read_checkpoint_header(snapshot_config& snapshot, bool ident_only) {
  snapshot.config.clear();
  CheckpointFile image;
  if (int err = image.open(snapshot.path, false); err != 0)
    return {header_open_failed,
            fmt::format("Failed to open snapshot file: {}", std::system_category().message(err))};

  std::array<uint8_t, checkpoint::page_size> page{};
  if (image.read_at(page.data(), page.size(), 0) != static_cast<ssize_t>(page.size()))
    return {header_short, "Header read error"};
  if (std::string_view(reinterpret_cast<const char*>(page.data()), checkpoint::ident.size()) !=
      checkpoint::ident)
    return {header_bad_ident, "Mismatched Ident"};
  if (ident_only) return {};

  uint32_t list_length = 0;
  std::memcpy(&list_length, &page[checkpoint::list_length_offset], sizeof list_length);
  if (list_length > checkpoint::max_list_length)
    return {header_bad_list,
            fmt::format("Header nvlist_unpack error: list length {} exceeds the header page",
                        list_length)};
  header_list header = unpack_header_list(&page[checkpoint::list_offset], list_length);
  if (!header) return {header_bad_list, "Header nvlist_unpack error"};

  ImageSection config;
  if (auto error = read_config_section(image, header.get(), snapshot.config, config))
    return {header_bad_config, std::move(*error)};

  ImageSection memory;
  if (auto error = read_memory_section(image, header.get(), config, memory))
    return {header_bad_memory, std::move(*error)};
  if (auto error = read_memory_layout(image, memory, snapshot.memory_format))
    return {header_bad_memory, std::move(*error)};

  if (snapshot.memory_format == memory_format_old) {
    image.close();
    if (auto error = convert_if_asked(snapshot, memory))
      return {header_convert_failed, std::move(*error)};
  }
  return {};
}
