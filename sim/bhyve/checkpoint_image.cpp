#include "sim/bhyve/checkpoint_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include <fmt/format.h>

#include "sim/bhyve/checkpoint_layout.h"
#include "sim/include/sim_fd.h"
#include "sim/include/libnv_stand_in.h"
#include "sim/include/sim_host.h"

namespace bhyve_sim {
namespace {

using Page = std::vector<unsigned char>;

constexpr uint64_t kGiB = 1ULL << 30;
constexpr uint64_t kMaxTablePages = 4;
// Entries on the last table page (the others are full).
constexpr size_t kLastPageEntries = 42;

struct NvlistDeleter {
  void operator()(libnv_nvlist_t* nvl) const { nvlist_destroy(nvl); }
};
using Nvlist = std::unique_ptr<libnv_nvlist_t, NvlistDeleter>;

template <class T>
void put(Page& page, size_t offset, T value) {
  std::memcpy(page.data() + offset, &value, sizeof value);
}

template <class T>
T get(const Page& page, size_t offset) {
  T value;
  std::memcpy(&value, page.data() + offset, sizeof value);
  return value;
}

uint64_t round_up(uint64_t n) {
  return (n + checkpoint::page_size - 1) / checkpoint::page_size * checkpoint::page_size;
}

std::string system_error(const std::string& what) {
  return fmt::format("{}: {}", what, std::strerror(errno ? errno : EIO));
}

// pread or pwrite of all `size` bytes at `offset`.
template <class Io, class Byte>
bool transfer_at(Io io, int fd, Byte* p, size_t size, uint64_t offset) {
  while (size > 0) {
    ssize_t n = io(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

bool write_at(int fd, const void* data, size_t size, uint64_t offset) {
  return transfer_at(::pwrite, fd, static_cast<const char*>(data), size, offset);
}

bool read_at(int fd, void* data, size_t size, uint64_t offset) {
  return transfer_at(::pread, fd, static_cast<char*>(data), size, offset);
}

uint32_t entry_value(uint64_t page, size_t index) {
  return static_cast<uint32_t>(page * 1000 + index + 1);
}

Page table_page(int layout, uint64_t index, bool last) {
  Page page(checkpoint::page_size, 0);
  size_t count = last ? kLastPageEntries : checkpoint::max_table_entries;
  if (layout == 0) {
    for (size_t i = 0; i < count; ++i) put<uint32_t>(page, i * 4, entry_value(index, i));
    if (count < checkpoint::max_table_entries)
      put<uint32_t>(page, count * 4, checkpoint::table_end_entry);
    put<uint64_t>(page, checkpoint::old_magic_offset, checkpoint::table_magic);
    put<uint32_t>(page, checkpoint::old_flags_offset, last ? checkpoint::old_last_page_flag : 0);
  } else {
    put<uint64_t>(page, 0, checkpoint::table_magic | (last ? checkpoint::new_last_page_bit : 0));
    page[checkpoint::new_version_offset] = 1;
    page[checkpoint::new_version_offset + 1] = 1;
    put<uint16_t>(page, checkpoint::new_count_offset, static_cast<uint16_t>(count));
    for (size_t i = 0; i < count; ++i)
      put<uint32_t>(page, checkpoint::new_entries_offset + i * 4, entry_value(index, i));
  }
  return page;
}

// Checks one table page of the chain; "" when it is sound.
std::string check_table_page(const Page& page, int layout, bool last) {
  if (layout == 0) {
    if (get<uint64_t>(page, checkpoint::old_magic_offset) != checkpoint::table_magic)
      return "bad table page magic";
    bool flagged = get<uint32_t>(page, checkpoint::old_flags_offset) & checkpoint::old_last_page_flag;
    if (flagged != last) return "bad last-page flag";
    return "";
  }
  uint64_t magic = get<uint64_t>(page, 0);
  if ((magic & ~checkpoint::new_last_page_bit) != checkpoint::table_magic)
    return "bad table page magic";
  if (((magic & checkpoint::new_last_page_bit) != 0) != last) return "bad last-page flag";
  if (get<uint16_t>(page, checkpoint::new_count_offset) > checkpoint::max_table_entries)
    return "bad entry count";
  return "";
}

uint64_t memory_section_size(const Settings& config) {
  uint64_t memory = kGiB;
  if (auto it = config.find("memory.size"); it != config.end()) {
    auto n = parse_number(it->second, 1, 1LL << 50);
    if (n) memory = static_cast<uint64_t>(*n);
  }
  uint64_t pages = std::min<uint64_t>(std::max<uint64_t>(memory / kGiB, 1), kMaxTablePages);
  return pages * checkpoint::table_stride;
}

}  // namespace

int kernel_memory_layout() {
  long format = sim_host::snapshot_memory_format(0);
  return format >= 2 && format <= 1000000 ? 1 : 0;
}

std::optional<std::string> write_checkpoint(const std::string& path, const Settings& config,
                                            int layout) {
  std::string text = settings_text(config);
  const uint64_t config_offset = checkpoint::page_size;
  const uint64_t memory_offset = config_offset + round_up(text.size());
  const uint64_t memory_size = memory_section_size(config);

  Nvlist list(nvlist_create(0));
  Nvlist config_list(nvlist_create(0));
  Nvlist memory_list(nvlist_create(0));
  if (!list || !config_list || !memory_list) return std::string("out of memory");
  nvlist_add_number(config_list.get(), "offset", config_offset);
  nvlist_add_number(config_list.get(), "size", text.size());
  nvlist_add_string(config_list.get(), "type", "text");
  nvlist_add_number(memory_list.get(), "offset", memory_offset);
  nvlist_add_number(memory_list.get(), "size", memory_size);
  nvlist_add_nvlist(list.get(), "config", config_list.get());
  nvlist_add_nvlist(list.get(), "memory", memory_list.get());
  if (nvlist_error(list.get()) != 0) return std::string("cannot build the header list");
  size_t packed_size = 0;
  std::unique_ptr<void, decltype(&std::free)> packed(nvlist_pack(list.get(), &packed_size),
                                                     &std::free);
  if (!packed || packed_size > checkpoint::max_list_length)
    return std::string("the header list does not fit the header page");

  Page header(checkpoint::page_size, 0);
  std::memcpy(header.data(), checkpoint::ident.data(), checkpoint::ident.size());
  put<uint32_t>(header, checkpoint::list_length_offset, static_cast<uint32_t>(packed_size));
  std::memcpy(header.data() + checkpoint::list_offset, packed.get(), packed_size);

  sim::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  if (!fd) return system_error(fmt::format("cannot open {}", path));
  struct stat st{};
  ::fstat(fd.get(), &st);
  const uint64_t total = memory_offset + memory_size;
  // A plain file gets exactly the image's length, the memory left as holes.
  if (S_ISREG(st.st_mode) && ::ftruncate(fd.get(), 0) != 0)
    return system_error(fmt::format("cannot truncate {}", path));

  // Until the sections are complete the image carries no identification.
  Page zero(checkpoint::page_size, 0);
  if (!write_at(fd.get(), zero.data(), zero.size(), 0))
    return system_error(fmt::format("cannot write {}", path));
  Page config_section(round_up(text.size()), 0);
  std::memcpy(config_section.data(), text.data(), text.size());
  if (!write_at(fd.get(), config_section.data(), config_section.size(), config_offset))
    return system_error(fmt::format("cannot write {}", path));
  for (uint64_t p = 0; p * checkpoint::table_stride < memory_size; ++p) {
    bool last = (p + 1) * checkpoint::table_stride >= memory_size;
    Page page = table_page(layout, p, last);
    if (!write_at(fd.get(), page.data(), page.size(),
                  memory_offset + p * checkpoint::table_stride))
      return system_error(fmt::format("cannot write {}", path));
  }
  if (S_ISREG(st.st_mode) && ::ftruncate(fd.get(), static_cast<off_t>(total)) != 0)
    return system_error(fmt::format("cannot size {}", path));
  if (::fsync(fd.get()) != 0 || !write_at(fd.get(), header.data(), header.size(), 0) ||
      ::fsync(fd.get()) != 0)
    return system_error(fmt::format("cannot write {}", path));
  return std::nullopt;
}

CheckpointRead read_checkpoint(const std::string& path, int layout) {
  CheckpointRead result;
  sim::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) {
    result.error = system_error(fmt::format("cannot open checkpoint {}", path));
    return result;
  }
  Page header(checkpoint::page_size, 0);
  if (!read_at(fd.get(), header.data(), header.size(), 0) ||
      std::memcmp(header.data(), checkpoint::ident.data(), checkpoint::ident.size()) != 0) {
    result.error = fmt::format("{} is not a checkpoint image", path);
    return result;
  }
  uint32_t length = get<uint32_t>(header, checkpoint::list_length_offset);
  Nvlist list(length <= checkpoint::max_list_length
                  ? nvlist_unpack(header.data() + checkpoint::list_offset, length, 0)
                  : nullptr);
  auto section = [&](const char* name) -> const libnv_nvlist_t* {
    if (!list || !nvlist_exists_nvlist(list.get(), name)) return nullptr;
    const libnv_nvlist_t* s = nvlist_get_nvlist(list.get(), name);
    if (!nvlist_exists_number(s, "offset") || !nvlist_exists_number(s, "size")) return nullptr;
    return s;
  };
  const libnv_nvlist_t* config_list = section("config");
  const libnv_nvlist_t* memory_list = section("memory");
  if (!config_list || !memory_list || !nvlist_exists_string(config_list, "type") ||
      std::strcmp(nvlist_get_string(config_list, "type"), "text") != 0) {
    result.error = fmt::format("{}: bad checkpoint header", path);
    return result;
  }

  uint64_t config_size = nvlist_get_number(config_list, "size");
  uint64_t config_offset = nvlist_get_number(config_list, "offset");
  if (config_size > (64u << 20)) {
    result.error = fmt::format("{}: configuration section too large", path);
    return result;
  }
  std::string text(config_size, '\0');
  if (!read_at(fd.get(), text.data(), text.size(), config_offset)) {
    result.error = fmt::format("{}: cannot read the configuration section", path);
    return result;
  }

  uint64_t memory_offset = nvlist_get_number(memory_list, "offset");
  uint64_t memory_size = nvlist_get_number(memory_list, "size");
  if (memory_size == 0) {
    result.error = fmt::format("{}: empty memory section", path);
    return result;
  }
  for (uint64_t p = 0; p * checkpoint::table_stride < memory_size; ++p) {
    Page page(checkpoint::page_size, 0);
    bool last = (p + 1) * checkpoint::table_stride >= memory_size;
    if (!read_at(fd.get(), page.data(), page.size(), memory_offset + p * checkpoint::table_stride)) {
      result.error = fmt::format("{}: cannot read the memory table", path);
      return result;
    }
    std::string bad = check_table_page(page, layout, last);
    if (!bad.empty()) {
      result.error = fmt::format("{}: memory table page {} is not in layout {}: {}", path, p,
                                 layout, bad);
      return result;
    }
  }
  result.config = parse_settings_text(text);
  return result;
}

}  // namespace bhyve_sim
