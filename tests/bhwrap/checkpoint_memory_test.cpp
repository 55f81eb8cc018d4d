#include "bhwrap/checkpoint_memory.h"

#include <gtest/gtest.h>

#include "bhwrap/checkpoint_snapshot_config.h"
#include "checkpoint_test_image.h"

namespace {

using namespace checkpoint_test;
using checkpoint::table_magic;
using checkpoint::table_stride;

constexpr uint64_t table_offset = 8192;

TEST(CheckpointPageLayout, MagicAt2048WinsOverMagicAt0) {
  Page page{};
  EXPECT_EQ(table_page_layout(page.data()), std::nullopt);

  put<uint64_t>(&page[0], table_magic);
  EXPECT_EQ(table_page_layout(page.data()), memory_format_new);
  put<uint64_t>(&page[0], table_magic | 1);
  EXPECT_EQ(table_page_layout(page.data()), memory_format_new);
  put<uint64_t>(&page[0], table_magic | 4);
  EXPECT_EQ(table_page_layout(page.data()), std::nullopt);

  put<uint64_t>(&page[0], table_magic);
  put<uint64_t>(&page[2048], table_magic);
  EXPECT_EQ(table_page_layout(page.data()), memory_format_old);
}

TEST(CheckpointPageLayout, ConvertedPageHoldsEntriesUpToTheEndMark) {
  Page old = old_page({7, 8, 9}, true);
  put<uint32_t>(&old[16], 0x12345678);  // after the end mark: ignored
  Page out{};
  out.fill(0xAA);
  convert_table_page(old.data(), true, out.data());
  EXPECT_EQ(get<uint64_t>(&out[0]), 0xD1F76E4D0D696D03ull);
  EXPECT_EQ(out[8], 1);
  EXPECT_EQ(out[9], 1);
  EXPECT_EQ(get<uint16_t>(&out[10]), 3);
  EXPECT_EQ(get<uint32_t>(&out[12]), 7u);
  EXPECT_EQ(get<uint32_t>(&out[20]), 9u);
  for (size_t i = 24; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;

  Page full = old_page(entries(511), false);
  convert_table_page(full.data(), false, out.data());
  EXPECT_EQ(get<uint64_t>(&out[0]), table_magic);
  EXPECT_EQ(get<uint16_t>(&out[10]), 511);
  EXPECT_EQ(get<uint32_t>(&out[12 + 510 * 4]), 511u);

  Page none = old_page({}, false);
  convert_table_page(none.data(), false, out.data());
  EXPECT_EQ(get<uint16_t>(&out[10]), 0);
}

class CheckpointMemoryTable : public ::testing::Test {
 protected:
  // An image with a chain of `pages` table pages (the given ones written).
  void write_chain(const std::vector<Page>& pages) {
    for (size_t i = 0; i < pages.size(); ++i)
      write_at(path_, table_offset + i * table_stride, pages[i].data(), pages[i].size());
  }
  std::vector<Page> old_chain(size_t n) {
    std::vector<Page> pages;
    for (size_t i = 0; i < n; ++i) pages.push_back(old_page(entries(5, 100 * i), i + 1 == n));
    return pages;
  }
  Page page_at(size_t index) {
    Bytes data = read_file(path_);
    Page page{};
    std::memcpy(page.data(), &data[table_offset + index * table_stride], page.size());
    return page;
  }

  TempDir dir_;
  std::string path_ = dir_.file("snapshot.bvmss");
};

TEST_F(CheckpointMemoryTable, ConvertsEveryPageOfTheChain) {
  write_chain(old_chain(3));
  // The section ends inside the third 2 MiB stretch: three pages.
  ASSERT_EQ(convert_memory_table(path_, table_offset, 2 * table_stride + 1), std::nullopt);
  for (size_t i = 0; i < 3; ++i) {
    Page page = page_at(i);
    EXPECT_EQ(page, new_page(entries(5, 100 * i), i == 2)) << i;
  }
}

TEST_F(CheckpointMemoryTable, OnePageTableConverts) {
  write_chain({old_page({4, 5}, true)});
  ASSERT_EQ(convert_memory_table(path_, table_offset, table_stride), std::nullopt);
  EXPECT_EQ(page_at(0), new_page({4, 5}, true));
}

TEST_F(CheckpointMemoryTable, BadPagesChangeNothing) {
  struct Case {
    const char* what;
    std::vector<Page> pages;
    uint64_t size;
    const char* error;
  };
  std::vector<Page> middle_flagged = old_chain(3);
  middle_flagged[1] = old_page(entries(5, 100), true);
  std::vector<Page> last_unflagged = old_chain(3);
  last_unflagged[2] = old_page(entries(5, 200), false);
  std::vector<Page> bad_magic = old_chain(3);
  put<uint64_t>(&bad_magic[2][2048], 0);
  std::vector<Page> first_converted = old_chain(2);
  first_converted[0] = new_page(entries(5), false);
  std::vector<Page> converted_with_wrong_bit = old_chain(3);
  converted_with_wrong_bit[1] = new_page(entries(5, 100), true);
  const Case cases[] = {
      {"last flag on a middle page", middle_flagged, 3 * table_stride, "Memory section data error"},
      {"no last flag on the last page", last_unflagged, 3 * table_stride, "Memory section data error"},
      {"section longer than the image", last_unflagged, 4 * table_stride, "Memory section read error"},
      {"section shorter than the chain", old_chain(3), 2 * table_stride, "Memory section data error"},
      {"bad magic on the last page", bad_magic, 3 * table_stride, "Memory section data error"},
      {"first page already converted", first_converted, 2 * table_stride, "Memory section data error"},
      {"converted page with a wrong last bit", converted_with_wrong_bit, 3 * table_stride,
       "Memory section data error"},
      {"section end beyond 64 bits", old_chain(1), UINT64_MAX, "Memory section data error"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(path_);
    write_chain(c.pages);
    Bytes before = read_file(path_);
    EXPECT_EQ(convert_memory_table(path_, table_offset, c.size), c.error) << c.what;
    EXPECT_EQ(read_file(path_), before) << c.what;
  }
}

TEST_F(CheckpointMemoryTable, ConversionCutShortCompletesOnTheNextAttempt) {
  // What a conversion stopped by a write failure leaves: the pages after the
  // first already rewritten, the first (naming the image's layout) not.
  std::vector<Page> pages = old_chain(3);
  pages[1] = new_page(entries(5, 100), false);
  pages[2] = new_page(entries(5, 200), true);
  write_chain(pages);
  ASSERT_EQ(convert_memory_table(path_, table_offset, 3 * table_stride), std::nullopt);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(page_at(i), new_page(entries(5, 100 * i), i == 2)) << i;
}

TEST_F(CheckpointMemoryTable, EmptySectionAndMissingImage) {
  write_chain(old_chain(1));
  Bytes before = read_file(path_);
  EXPECT_EQ(convert_memory_table(path_, table_offset, 0), std::nullopt);
  EXPECT_EQ(read_file(path_), before);
  EXPECT_EQ(convert_memory_table(dir_.file("absent"), 0, table_stride),
            "Memory update: failed to open snapshot");
}

}  // namespace
