#include "bhwrap/checkpoint/checkpoint_header.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "tests/checkpoint/checkpoint_test_header.h"

namespace {

using namespace checkpoint_test;
using namespace std::string_literals;

class CheckpointHeader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(load_stand_in_libnv()); }

  checkpoint_result read(bool ident_only = false) {
    snapshot_ = snapshot_config(path_, "42");
    return read_checkpoint_header(snapshot_, ident_only);
  }
  // An image of the default parts with the header list `list`.
  void write_with_list(const PackedList& list) {
    ImageParts parts;
    parts.packed = list.packed();
    write_image(path_, parts);
  }

  TestRoot root_;
  std::string path_ = root_.path("/snapshot.bvmss");
  snapshot_config snapshot_{"", ""};
};

TEST_F(CheckpointHeader, IdentificationAndShortOrMissingImages) {
  Bytes page(checkpoint::page_size, 0xEE);
  std::memcpy(page.data(), checkpoint::ident.data(), checkpoint::ident.size());
  write_file(path_, page);
  EXPECT_EQ(text(read(true)), "0 ");  // the (unreadable) list is not looked at
  EXPECT_EQ(snapshot_.memory_format, -1);

  std::vector<std::pair<Bytes, std::string>> cases;
  for (size_t at : {0, 20, 38}) {
    cases.emplace_back(page, "-3 Mismatched Ident");
    cases.back().first[at] ^= 0x20;
  }
  for (size_t size : {size_t{0}, size_t{39}, checkpoint::page_size - 1})
    cases.emplace_back(Bytes(page.begin(), page.begin() + size), "-2 Header read error");
  for (const auto& [data, expected] : cases) {
    write_file(path_, data);
    for (bool ident_only : {true, false})
      EXPECT_EQ(text(read(ident_only)), expected) << data.size() << " " << ident_only;
  }
  std::filesystem::remove(path_);
  EXPECT_EQ(text(read(true)), "-1 Failed to open snapshot file: No such file or directory");
}

TEST_F(CheckpointHeader, LoadsConfigurationAndLayout) {
  ImageParts parts;
  // The first key wins, lines without '=' are dropped, nothing is trimmed,
  // the padding after the last line is not read.
  parts.config_text = "a=1\nb=2=3\na=9\nnoequals\n=x\n k = v \r\nempty=\n\nnul=a\0b\nlast=z"s;
  write_image(path_, parts);
  Bytes before = read_file(path_);
  EXPECT_EQ(text(read()), "0 ");
  EXPECT_EQ(snapshot_.config,
            (checkpoint_config_map{{"a", "1"}, {"b", "2=3"}, {"", "x"}, {" k ", " v \r"},
                                   {"empty", ""}, {"nul", "a\0b"s}, {"last", "z"}}));
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(read_file(path_), before);  // no kernel setting: nothing converted

  // The configuration is emptied first, also by an identification-only read.
  snapshot_.config["stale"] = "x";
  EXPECT_EQ(read_checkpoint_header(snapshot_, true).code, 0);
  EXPECT_TRUE(snapshot_.config.empty());

  parts.config_text = "";
  parts.table = {new_page({1, 2}, true)};
  write_image(path_, parts);
  EXPECT_EQ(text(read()), "0 ");
  EXPECT_TRUE(snapshot_.config.empty());
  EXPECT_EQ(snapshot_.memory_format, 1);
}

TEST_F(CheckpointHeader, OldTableIsConvertedOnlyWhenTheKernelAsksForLayout2) {
  ImageParts parts;
  parts.table = {old_page({5, 6}, false), old_page({7}, true)};
  write_image(path_, parts);
  Bytes before = read_file(path_);
  root_.set_memory_format("1");
  EXPECT_EQ(text(read()), "0 ");
  EXPECT_EQ(read_file(path_), before);
  root_.break_memory_format();
  EXPECT_EQ(text(read()), "0 ");
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(read_file(path_), before);

  root_.set_memory_format("2");
  EXPECT_EQ(text(read()), "0 ");
  EXPECT_EQ(snapshot_.memory_format, 0);  // what was found, not what is on disk now
  Bytes data = read_file(path_);
  EXPECT_EQ(0, std::memcmp(&data[memory_offset], new_page({5, 6}, false).data(), 4096));
  EXPECT_EQ(0, std::memcmp(&data[memory_offset + checkpoint::table_stride],
                           new_page({7}, true).data(), 4096));
  // Read again: the table is in layout 1 now and stays so.
  EXPECT_EQ(text(read()), "0 ");
  EXPECT_EQ(snapshot_.memory_format, 1);
  EXPECT_EQ(read_file(path_), data);

  // A failed conversion keeps the configuration read and the image as it was.
  parts.table = {old_page({5}, true), old_page({7}, true)};  // last flag on both
  write_image(path_, parts);
  before = read_file(path_);
  EXPECT_EQ(text(read()), "-7 Memory section data error");
  EXPECT_EQ(snapshot_.config.at("name"), "vm1");
  EXPECT_EQ(snapshot_.memory_format, 0);
  EXPECT_EQ(read_file(path_), before);
}

TEST_F(CheckpointHeader, DamagedHeaderListsGiveTheirCode) {
  const ImageParts good;
  PackedList good_config = section(config_offset, good.config_text.size());
  good_config.string("type", "text");
  const PackedList memory = section(memory_offset, checkpoint::table_stride);
  auto with_config = [&](const PackedList& c) { return PackedList().list("config", c).list("memory", memory); };
  auto with_memory = [&](const PackedList& m) { return PackedList().list("config", good_config).list("memory", m); };
  auto config = [&](uint64_t offset, uint64_t size, const std::string& type) {
    return with_config(section(offset, size).string("type", type));
  };
  const std::string beyond = "-5 'Config' data section read error";
  const std::pair<PackedList, std::string> cases[] = {
      {PackedList(), "-5 Header section 'config' is missing"},
      {PackedList().number("config", 1).list("memory", memory), "-5 Header section 'config' is missing"},
      {with_config(PackedList().number("size", 10).string("type", "text")),
       "-5 Header section 'config' has no number 'offset'"},
      {with_config(PackedList().string("offset", "4096").number("size", 10).string("type", "text")),
       "-5 Header section 'config' has no number 'offset'"},
      {with_config(section(config_offset, 10)), "-5 Header section 'config' has no string 'type'"},
      {with_config(section(config_offset, 10).number("type", 1)),
       "-5 Header section 'config' has no string 'type'"},
      {config(config_offset, 10, "text "), "-5 Header section 'config' is not type 'text'"},
      {config(config_offset, UINT64_MAX, "text"), beyond},
      {config(1ull << 40, 10, "text"), beyond},
      {config(UINT64_MAX - 1, 10, "text"), beyond},
      {config(memory_offset + checkpoint::page_size - 1, 1, "text"), beyond},  // the padding
      {PackedList().list("config", good_config), "-6 Header section 'memory' is missing"},
      {PackedList().list("config", good_config).string("memory", "x"),
       "-6 Header section 'memory' is missing"},
      {with_memory(PackedList().number("size", checkpoint::table_stride)),
       "-6 Header section 'memory' has no number 'offset'"},
      {with_memory(section(1ull << 40, 4096)), "-6 Memory section read error"},
      {with_memory(section(config_offset, 4096)), "-6 Memory section data error"},
      // The size is needed to convert only.
      {with_memory(PackedList().number("offset", memory_offset)),
       "-7 Header section 'memory' has no number 'size'"},
  };
  root_.set_memory_format("2");
  for (size_t i = 0; i < std::size(cases); ++i) {
    write_with_list(cases[i].first);
    Bytes before = read_file(path_);
    checkpoint_result r = read();
    EXPECT_EQ(text(r), cases[i].second) << "case " << i;
    EXPECT_EQ(read_file(path_), before) << "case " << i;
    if (r.code < -5) EXPECT_EQ(snapshot_.config.at("name"), "vm1") << "case " << i;
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
    return text(read());
  };
  for (uint32_t length : {0u, static_cast<uint32_t>(packed.size() - 1),
                          static_cast<uint32_t>(packed.size() + 1), 4028u})
    EXPECT_EQ(with_length(length), "-4 Header nvlist_unpack error") << length;
  for (uint32_t length : {4029u, 65536u, UINT32_MAX})
    EXPECT_EQ(with_length(length),
              fmt::format("-4 Header nvlist_unpack error: list length {} exceeds the header page", length));

  // A full-length list that ends exactly at the end of the page still reads.
  PackedList big = good.header();
  big.string("pad", std::string(checkpoint::max_list_length - packed.size() - 7 - 3, 'p'));
  ASSERT_EQ(big.packed().size(), checkpoint::max_list_length);
  write_with_list(big);
  EXPECT_EQ(text(read()), "0 ");

  image[checkpoint::list_offset] = 'X';
  write_file(path_, image);
  EXPECT_EQ(text(read()), "-4 Header nvlist_unpack error");
}

}  // namespace
