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
      {config(config_offset, UINT64_MAX, "text"),
       fmt::format("{}: {} bytes exceed the bound of {}", beyond, UINT64_MAX, checkpoint::max_config_size)},
      {config(1ull << 40, 10, "text"), beyond},
      {config(UINT64_MAX - 1, 10, "text"), beyond},
      {config(memory_offset + checkpoint::table_stride - 1, 1, "text"), beyond},  // the padding
      {PackedList().list("config", good_config), "-6 Header section 'memory' is missing"},
      {PackedList().list("config", good_config).string("memory", "x"),
       "-6 Header section 'memory' is missing"},
      {with_memory(PackedList().number("size", checkpoint::table_stride)),
       "-6 Header section 'memory' has no number 'offset'"},
      {with_memory(section(1ull << 40, 4096)), "-6 Memory section read error"},
      {with_memory(PackedList().number("offset", memory_offset)),
       "-6 Header section 'memory' has no number 'size'"},
  };
  root_.set_memory_format("2");
  for (size_t i = 0; i < std::size(cases); ++i) {
    write_with_list(cases[i].first);
    Bytes before = read_file(path_);
    checkpoint_result r = read();
    EXPECT_EQ(text(r), cases[i].second) << "case " << i;
    EXPECT_EQ(read_file(path_), before) << "case " << i;
    if (r.code < -5) {
      EXPECT_EQ(snapshot_.config.at("name"), "vm1") << "case " << i;
    }
  }
}

TEST_F(CheckpointHeader, ConfigurationSectionsOutOfBoundsAreRefused) {
  // An image of 8 MiB (mostly a hole) whose configuration is `size` bytes at `offset`.
  auto result = [&](uint64_t offset, uint64_t size) {
    PackedList config = section(offset, size);
    config.string("type", "text");
    write_with_list(PackedList().list("config", config).list("memory", section(memory_offset, checkpoint::table_stride)));
    std::filesystem::resize_file(path_, 8 * 1024 * 1024);
    return text(read());
  };
  const std::string bound = fmt::format("exceed the bound of {}", checkpoint::max_config_size);
  const struct {
    uint64_t offset, size;
    std::string expected;
  } cases[] = {
      {2 * checkpoint::table_stride, checkpoint::max_config_size, "0 "},
      {2 * checkpoint::table_stride, checkpoint::max_config_size + 1,
       fmt::format("-5 'Config' data section read error: {} bytes {}", checkpoint::max_config_size + 1, bound)},
      {checkpoint::page_size, 3 * 1024 * 1024,
       fmt::format("-5 'Config' data section read error: {} bytes {}", 3 * 1024 * 1024, bound)},
      {0, 10, "-5 'Config' data section read error: the section overlaps the header page"},
      {checkpoint::page_size - 1, 10, "-5 'Config' data section read error: the section overlaps the header page"},
  };
  for (const auto& c : cases) EXPECT_EQ(result(c.offset, c.size), c.expected) << c.offset << " " << c.size;
}

// The conversion writes table pages where the header list puts the memory
// section: one in the wrong place would overwrite the header or the
// configuration, and an empty one would be reported converted untouched.
TEST_F(CheckpointHeader, MisplacedMemorySectionsAreRefusedAndChangeNothing) {
  const ImageParts good;  // configuration at 4096 (37 bytes), one table page at 8192
  const uint64_t config_size = good.config_text.size();
  const uint64_t stride = checkpoint::table_stride;
  auto list = [&](uint64_t config_at, uint64_t memory_at, uint64_t memory_size) {
    PackedList config = section(config_at, config_size);
    config.string("type", "text");
    return PackedList().list("config", config).list("memory", section(memory_at, memory_size));
  };
  const std::string empty = "-6 Memory section data error: the section is empty";
  const std::string header = "-6 Memory section data error: the section overlaps the header page";
  const std::string config = "-6 Memory section data error: the section overlaps the configuration section";
  const std::string outside = "-6 Memory section read error";
  const std::pair<PackedList, std::string> cases[] = {
      {list(config_offset, memory_offset, 0), empty},
      {list(config_offset, 0, stride), header},
      {list(config_offset, checkpoint::page_size - 1, stride), header},
      {list(config_offset, config_offset, stride), config},
      {list(config_offset, config_offset + config_size - 1, stride), config},
      // The configuration after the table page, but inside its 4096 bytes.
      {list(memory_offset + checkpoint::page_size - 1, memory_offset, 1), config},
      // The section, or its last table page, past the end of the image.
      {list(config_offset, memory_offset, 2 * stride), outside},
      {list(config_offset, memory_offset + stride - checkpoint::page_size + 1, 1), outside},
      {list(config_offset, memory_offset, UINT64_MAX - memory_offset + 1), outside},
      // Right next to each other: a sound image.
      {list(config_offset, config_offset + config_size, 1), "-6 Memory section data error"},
      {list(memory_offset + checkpoint::page_size, memory_offset, checkpoint::page_size), "0 "},
  };
  root_.set_memory_format("2");
  for (size_t i = 0; i < std::size(cases); ++i) {
    write_with_list(cases[i].first);
    Bytes before = read_file(path_);
    EXPECT_EQ(text(read()), cases[i].second) << "case " << i;
    if (cases[i].second != "0 ") {
      EXPECT_EQ(read_file(path_), before) << "case " << i;
    }
  }
}

// A full layout-1 page whose entries 509 and 510 hold the magic carries it at
// byte 2048 too, where layout 0 keeps it: once converted, such a table must
// read as converted and stay as it is.
TEST_F(CheckpointHeader, ConvertedTablesNeverReadAsUnconverted) {
  std::vector<uint32_t> magic_entries = entries(511, 1000);
  magic_entries[509] = static_cast<uint32_t>(checkpoint::table_magic);
  magic_entries[510] = static_cast<uint32_t>(checkpoint::table_magic >> 32);
  const std::vector<std::vector<uint32_t>> chains[] = {
      {magic_entries},
      {magic_entries, entries(3)},
      {entries(511), magic_entries, magic_entries, entries(7)},
  };
  root_.set_memory_format("2");
  for (const auto& chain : chains) {
    ImageParts parts;
    parts.table.clear();
    for (size_t i = 0; i < chain.size(); ++i) parts.table.push_back(old_page(chain[i], i + 1 == chain.size()));
    write_image(path_, parts);
    ASSERT_EQ(text(read()), "0 ") << chain.size();
    EXPECT_EQ(snapshot_.memory_format, 0);
    Bytes converted = read_file(path_);
    for (size_t i = 0; i < chain.size(); ++i)
      EXPECT_EQ(0, std::memcmp(&converted[memory_offset + i * checkpoint::table_stride],
                               new_page(chain[i], i + 1 == chain.size()).data(), checkpoint::page_size))
          << chain.size() << " pages, page " << i;
    EXPECT_EQ(text(read()), "0 ") << chain.size();
    EXPECT_EQ(snapshot_.memory_format, 1) << chain.size();
    EXPECT_EQ(read_file(path_), converted) << chain.size();
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
