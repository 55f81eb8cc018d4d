// Packed libnv lists and whole checkpoint images for the header tests, the
// stand-in libnv that the binding loads while they run, and their host root.
#pragma once

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/checkpoint/checkpoint_test_image.h"
#include "hostlib/libnv_api.h"
#include "platform/sysctl.h"
#include "tests/support/stand_in_root.h"

namespace checkpoint_test {

// A name/value list in libnv's packed form (see hostapi/libnv.h).
class PackedList {
 public:
  enum Type : uint8_t { boolean = 1, number_type = 2, string_type = 3, list_type = 4, binary = 5 };

  PackedList& number(const std::string& name, uint64_t value) {
    Bytes data(8);
    put<uint64_t>(data.data(), value);
    return member(number_type, name, data);
  }
  PackedList& string(const std::string& name, const std::string& value) {
    return member(string_type, name, Bytes(value.begin(), value.end()));
  }
  PackedList& list(const std::string& name, const PackedList& value) {
    return member(list_type, name, value.body());
  }
  PackedList& flag(const std::string& name, bool value) {
    return member(boolean, name, Bytes{static_cast<uint8_t>(value)});
  }
  PackedList& binary_member(const std::string& name, const Bytes& data) {
    return member(binary, name, data);
  }
  PackedList& member(uint8_t type, const std::string& name, const Bytes& data) {
    members_.push_back(type);
    append<uint16_t>(static_cast<uint16_t>(name.size()));
    members_.insert(members_.end(), name.begin(), name.end());
    append<uint32_t>(static_cast<uint32_t>(data.size()));
    members_.insert(members_.end(), data.begin(), data.end());
    ++count_;
    return *this;
  }

  Bytes body() const {
    Bytes out{0, 0, 0, 0, 0};
    put<uint32_t>(&out[1], count_);
    out.insert(out.end(), members_.begin(), members_.end());
    return out;
  }
  Bytes packed() const {
    Bytes out{'O', 'N', 'V', '1'};
    Bytes b = body();
    out.insert(out.end(), b.begin(), b.end());
    return out;
  }

 private:
  template <class T>
  void append(T value) {
    size_t at = members_.size();
    members_.resize(at + sizeof value);
    put<T>(&members_[at], value);
  }
  Bytes members_;
  uint32_t count_ = 0;
};

inline PackedList section(uint64_t offset, uint64_t size) {
  PackedList s;
  s.number("offset", offset).number("size", size);
  return s;
}

// The header page: identification, list length, packed list.
inline Page header_page(const Bytes& packed) {
  Page page{};
  std::memcpy(page.data(), checkpoint::ident.data(), checkpoint::ident.size());
  put<uint32_t>(&page[checkpoint::list_length_offset], static_cast<uint32_t>(packed.size()));
  std::memcpy(&page[checkpoint::list_offset], packed.data(),
              std::min(packed.size(), page.size() - checkpoint::list_offset));
  return page;
}

constexpr uint64_t config_offset = 4096;
constexpr uint64_t memory_offset = 8192;

// A whole image: the configuration text at 4096 (padded to a page), the
// memory table pages at 8192, 8192 + 2 MiB, ..., the file as long as the
// memory section.
struct ImageParts {
  std::string config_text = "pci.0.7.0.device=virtio-blk\nname=vm1\n";
  std::vector<Page> table = {old_page({1, 2, 3}, true)};
  // Overrides of the header list; empty: the one describing the parts above.
  std::optional<Bytes> packed;

  PackedList header() const {
    PackedList config = section(config_offset, config_text.size());
    config.string("type", "text");
    PackedList list;
    list.list("config", config)
        .list("memory", section(memory_offset, table.size() * checkpoint::table_stride));
    return list;
  }
};

inline void write_image(const std::string& path, const ImageParts& parts) {
  std::filesystem::remove(path);
  Page header = header_page(parts.packed ? *parts.packed : parts.header().packed());
  write_at(path, 0, header.data(), header.size());
  Bytes config(parts.config_text.begin(), parts.config_text.end());
  config.resize((config.size() + 4095) / 4096 * 4096, 0);
  if (!config.empty()) write_at(path, config_offset, config.data(), config.size());
  for (size_t i = 0; i < parts.table.size(); ++i)
    write_at(path, memory_offset + i * checkpoint::table_stride, parts.table[i].data(),
             parts.table[i].size());
  // The image holds the whole memory section (the guest memory left a hole).
  if (!parts.table.empty())
    std::filesystem::resize_file(path, memory_offset + parts.table.size() * checkpoint::table_stride);
}

// Loads the stand-in libnv into the process-wide binding, once, from a root
// that holds only it; the root goes again at once (the library stays loaded).
inline bool load_stand_in_libnv() {
  static bool loaded = [] {
    test_support::StandInRoot root(test_support::Links{{hostlib::libnv_path, SIM_LIBNV}});
    const libnv_api& api = libnv_api::instance();
    if (!api.library().loaded())
      ADD_FAILURE() << "stand-in libnv not loaded: " << api.library().load_error();
    return api.library().loaded();
  }();
  return loaded;
}

// A host root for one test, with the kernel's memory-table layout setting
// that the reader asks for.
class TestRoot : public TempRoot {
 public:
  void set_memory_format(const std::string& value) {
    std::string error;
    if (!platform::sysctl_set("hw.vmm.features.snapshot_memory_format", value, &error))
      ADD_FAILURE() << error;
  }
  // A value the kernel setting cannot be read as.
  void break_memory_format() {
    set_memory_format("1");
    write("/var/run/vmm/features.snapshot_memory_format", "x\n");
  }
};

// Registered once for the whole test program, so the binding is loaded
// before any test can touch it with another root.
class LibnvEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { load_stand_in_libnv(); }
};
inline ::testing::Environment* const libnv_environment =
    ::testing::AddGlobalTestEnvironment(new LibnvEnvironment);

}  // namespace checkpoint_test
