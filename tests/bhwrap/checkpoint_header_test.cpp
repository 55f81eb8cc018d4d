#include "bhwrap/checkpoint_header.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "checkpoint_test_header.h"
#include "checkpoint_test_root.h"

namespace {

using namespace checkpoint_test;

class CheckpointHeader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_in_libnv()); }

  checkpoint_result read(bool ident_only = false) {
    snapshot_ = snapshot_config(path_, "42");
    return read_checkpoint_header(snapshot_, ident_only);
  }
  // An image of the parts with one thing of its header list replaced.
  void write_with_list(const PackedList& list) {
    ImageParts parts;
    parts.packed = list.packed();
    write_image(path_, parts);
  }

  TestRoot root_;
  std::string path_ = root_.file("snapshot.bvmss");
  snapshot_config snapshot_{"", ""};
};

TEST_F(CheckpointHeader, IdentificationOnlyLooksAtTheFirst39Bytes) {
  Bytes data(checkpoint::page_size, 0xEE);
  std::memcpy(data.data(), checkpoint::ident.data(), checkpoint::ident.size());
  write_file(path_, data);
  checkpoint_result r = read(true);
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(snapshot_.memory_format, -1);

  for (size_t at : {size_t{0}, size_t{20}, size_t{38}}) {
    Bytes bad = data;
    bad[at] ^= 0x20;
    write_file(path_, bad);
    r = read(true);
    EXPECT_EQ(r.code, -3) << at;
    EXPECT_EQ(r.message, "Mismatched Ident");
  }
}

TEST_F(CheckpointHeader, ShortOrMissingImages) {
  for (size_t size : {size_t{0}, size_t{39}, checkpoint::page_size - 1}) {
    Bytes data(size, 0);
    std::memcpy(data.data(), checkpoint::ident.data(), std::min(size, checkpoint::ident.size()));
    write_file(path_, data);
    for (bool ident_only : {true, false}) {
      checkpoint_result r = read(ident_only);
      EXPECT_EQ(r.code, -2) << size;
      EXPECT_EQ(r.message, "Header read error");
    }
  }
  std::filesystem::remove(path_);
  checkpoint_result r = read(true);
  EXPECT_EQ(r.code, -1);
  EXPECT_EQ(r.message, "Failed to open snapshot file: No such file or directory");
}

TEST_F(CheckpointHeader, LoadsConfigurationAndLayout) {
  ImageParts parts;
  parts.config_text = "a=1\nb=2=3\na=9\nnoequals\n=x\nlast=z";
  write_image(path_, parts);
  Bytes before = read_file(path_);
  checkpoint_result r = read();
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(snapshot_.config,
            (checkpoint_config_map{{"a", "1"}, {"b", "2=3"}, {"", "x"}, {"last", "z"}}));
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(read_file(path_), before);  // the kernel asks for layout 1: nothing converted

  parts.config_text = "";
  parts.table = {new_page({1, 2}, true)};
  write_image(path_, parts);
  r = read();
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(snapshot_.config.empty());
  EXPECT_EQ(snapshot_.memory_format, 1);
}

TEST_F(CheckpointHeader, ConfigurationIsEmptiedFirst) {
  ImageParts parts;
  write_image(path_, parts);
  snapshot_config snapshot(path_, "1");
  snapshot.config["stale"] = "x";
  EXPECT_EQ(read_checkpoint_header(snapshot, true).code, 0);
  EXPECT_TRUE(snapshot.config.empty());
}

TEST_F(CheckpointHeader, ConvertsOldTableWhenTheKernelAsksForLayout2) {
  ImageParts parts;
  parts.table = {old_page({5, 6}, false), old_page({7}, true)};
  write_image(path_, parts);
  root_.set_memory_format("2");
  checkpoint_result r = read();
  EXPECT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(snapshot_.memory_format, 0);  // what was found, not what is on disk now
  Bytes data = read_file(path_);
  EXPECT_EQ(0, std::memcmp(&data[memory_offset], new_page({5, 6}, false).data(), 4096));
  EXPECT_EQ(0, std::memcmp(&data[memory_offset + checkpoint::table_stride],
                           new_page({7}, true).data(), 4096));
  // Read again: the table is in layout 1 now and stays so.
  r = read();
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(snapshot_.memory_format, 1);
  EXPECT_EQ(read_file(path_), data);
}

TEST_F(CheckpointHeader, KernelSettingOf1OrUnreadableConvertsNothing) {
  ImageParts parts;
  write_image(path_, parts);
  Bytes before = read_file(path_);
  root_.set_memory_format("1");
  EXPECT_EQ(read().code, 0);
  EXPECT_EQ(read_file(path_), before);
  root_.break_memory_format();
  EXPECT_EQ(read().code, 0);
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(read_file(path_), before);
}

TEST_F(CheckpointHeader, FailedConversionKeepsConfigurationAndImage) {
  ImageParts parts;
  parts.table = {old_page({5}, true), old_page({7}, true)};  // last flag on both
  write_image(path_, parts);
  Bytes before = read_file(path_);
  root_.set_memory_format("2");
  checkpoint_result r = read();
  EXPECT_EQ(r.code, -7);
  EXPECT_EQ(r.message, "Memory section data error");
  EXPECT_EQ(snapshot_.config.at("name"), "vm1");
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(read_file(path_), before);
}

TEST_F(CheckpointHeader, DamagedHeaderListsGiveTheirCode) {
  const ImageParts good;
  PackedList config_text = section(config_offset, good.config_text.size());
  config_text.string("type", "text");
  const PackedList memory = section(memory_offset, checkpoint::table_stride);
  auto with_config = [&](const PackedList& config) {
    PackedList list;
    list.list("config", config).list("memory", memory);
    return list;
  };
  auto config_with = [&](uint64_t offset, uint64_t size, const std::string& type) {
    PackedList c = section(offset, size);
    c.string("type", type);
    return with_config(c);
  };
  PackedList no_offset, offset_as_text, type_as_number, no_type;
  no_offset.number("size", 10).string("type", "text");
  offset_as_text.string("offset", "4096").number("size", 10).string("type", "text");
  type_as_number = section(config_offset, 10);
  type_as_number.number("type", 1);
  no_type = section(config_offset, 10);
  PackedList memory_without_offset, memory_as_text;
  memory_without_offset.number("size", checkpoint::table_stride);

  struct Case {
    const char* what;
    PackedList list;
    int32_t code;
    std::string message;
  };
  const std::string beyond = "'Config' data section read error";
  std::vector<Case> cases = {
      {"empty list", PackedList(), -5, "Header section 'config' is missing"},
      {"config not a list", PackedList().number("config", 1).list("memory", memory), -5,
       "Header section 'config' is missing"},
      {"config without offset", with_config(no_offset), -5,
       "Header section 'config' has no number 'offset'"},
      {"offset as text", with_config(offset_as_text), -5,
       "Header section 'config' has no number 'offset'"},
      {"config without type", with_config(no_type), -5,
       "Header section 'config' has no string 'type'"},
      {"type as number", with_config(type_as_number), -5,
       "Header section 'config' has no string 'type'"},
      {"type binary", config_with(config_offset, 10, "binary"), -5,
       "Header section 'config' is not type 'text'"},
      {"type with a blank", config_with(config_offset, 10, "text "), -5,
       "Header section 'config' is not type 'text'"},
      {"size beyond the image", config_with(config_offset, 1ull << 40, "text"), -5, beyond},
      {"largest size", config_with(config_offset, UINT64_MAX, "text"), -5, beyond},
      {"offset beyond the image", config_with(1ull << 40, 10, "text"), -5, beyond},
      {"largest offset", config_with(UINT64_MAX - 1, 10, "text"), -5, beyond},
      {"padding beyond the image", config_with(memory_offset + checkpoint::page_size - 1, 1, "text"),
       -5, beyond},
      {"no memory", PackedList().list("config", config_text), -6,
       "Header section 'memory' is missing"},
      {"memory without offset",
       PackedList().list("config", config_text).list("memory", memory_without_offset), -6,
       "Header section 'memory' has no number 'offset'"},
      {"memory as text", PackedList().list("config", config_text).string("memory", "x"), -6,
       "Header section 'memory' is missing"},
      {"memory beyond the image",
       PackedList().list("config", config_text).list("memory", section(1ull << 40, 4096)), -6,
       "Memory section read error"},
      {"memory not at a table page",
       PackedList().list("config", config_text).list("memory", section(config_offset, 4096)), -6,
       "Memory section data error"},
      {"memory without size (needed to convert)",
       PackedList().list("config", config_text).list("memory", PackedList().number("offset", memory_offset)),
       -7, "Header section 'memory' has no number 'size'"},
  };
  root_.set_memory_format("2");
  for (const Case& c : cases) {
    write_with_list(c.list);
    Bytes before = read_file(path_);
    checkpoint_result r = read();
    EXPECT_EQ(r.code, c.code) << c.what;
    EXPECT_EQ(r.message, c.message) << c.what;
    EXPECT_EQ(read_file(path_), before) << c.what;
    if (c.code < -5) {
      EXPECT_EQ(snapshot_.config.at("name"), "vm1") << c.what;
    }
  }
}

TEST_F(CheckpointHeader, BadListLengthsAndBytes) {
  ImageParts good;
  Bytes packed = good.header().packed();
  write_image(path_, good);
  Bytes image = read_file(path_);
  auto with_length = [&](uint32_t length) {
    Bytes data = image;
    put<uint32_t>(&data[checkpoint::list_length_offset], length);
    write_file(path_, data);
    return read();
  };
  for (uint32_t length : {0u, static_cast<uint32_t>(packed.size() - 1),
                          static_cast<uint32_t>(packed.size() + 1), 4028u}) {
    checkpoint_result r = with_length(length);
    EXPECT_EQ(r.code, -4) << length;
    EXPECT_EQ(r.message, "Header nvlist_unpack error") << length;
  }
  for (uint32_t length : {4029u, 65536u, UINT32_MAX}) {
    checkpoint_result r = with_length(length);
    EXPECT_EQ(r.code, -4) << length;
    EXPECT_EQ(r.message, fmt::format("Header nvlist_unpack error: list length {} exceeds the header page", length));
  }
  // A full-length list that ends exactly at the end of the page still reads.
  PackedList big = good.header();
  big.string("pad", std::string(checkpoint::max_list_length - packed.size() - 7 - 3, 'p'));
  ASSERT_EQ(big.packed().size(), checkpoint::max_list_length);
  ImageParts full;
  full.packed = big.packed();
  write_image(path_, full);
  EXPECT_EQ(read().code, 0);

  Bytes garbage = image;
  garbage[checkpoint::list_offset] = 'X';
  write_file(path_, garbage);
  EXPECT_EQ(read().code, -4);
  // The identification-only read does not look at the list.
  EXPECT_EQ(read(true).code, 0);
}

}  // namespace
