#include "bhwrap/checkpoint/checkpoint_memory.h"

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"
#include "tests/checkpoint/checkpoint_test_image.h"

namespace {

using namespace checkpoint_test;
using checkpoint::table_magic;
using checkpoint::table_stride;

constexpr uint64_t table_offset = 8192;

TEST(CheckpointPageLayout, MagicAt2048WinsOverMagicAt0) {
  Page page{};
  EXPECT_EQ(table_page_layout(page.data()), std::nullopt);
  for (auto [magic, layout] : {std::pair{table_magic, std::optional{memory_format_new}},
                               {table_magic | 1, memory_format_new},
                               {table_magic | 4, std::nullopt}}) {
    put<uint64_t>(&page[0], magic);
    EXPECT_EQ(table_page_layout(page.data()), layout) << magic;
  }
  put<uint64_t>(&page[0], table_magic);
  put<uint64_t>(&page[2048], table_magic);
  EXPECT_EQ(table_page_layout(page.data()), memory_format_old);
}

TEST(CheckpointPageLayout, ConvertedPageHoldsEntriesUpToTheEndMark) {
  Page old = old_page({7, 8, 9}, true);
  put<uint32_t>(&old[16], 0x12345678);  // after the end mark: ignored
  Page out;
  out.fill(0xAA);  // every byte of the output is written
  convert_table_page(old.data(), true, out.data());
  EXPECT_EQ(out, new_page({7, 8, 9}, true));
  for (const std::vector<uint32_t>& full_or_none : {entries(511), std::vector<uint32_t>{}}) {
    convert_table_page(old_page(full_or_none, false).data(), false, out.data());
    EXPECT_EQ(out, new_page(full_or_none, false)) << full_or_none.size();
  }
}

class CheckpointMemoryTable : public ::testing::Test {
 protected:
  void write_chain(const std::vector<Page>& pages) {
    std::filesystem::remove(path_);
    for (size_t i = 0; i < pages.size(); ++i)
      write_at(path_, table_offset + i * table_stride, pages[i].data(), pages[i].size());
  }
  // A chain of `n` pages of five entries each, in layout 0 or 1.
  static std::vector<Page> chain(size_t n, bool converted = false) {
    std::vector<Page> pages;
    for (size_t i = 0; i < n; ++i) {
      std::vector<uint32_t> e = entries(5, 100 * i);
      pages.push_back(converted ? new_page(e, i + 1 == n) : old_page(e, i + 1 == n));
    }
    return pages;
  }
  Page page_at(size_t index) {
    Bytes data = read_file(path_);
    Page page{};
    std::memcpy(page.data(), &data[table_offset + index * table_stride], page.size());
    return page;
  }

  TempRoot dir_{false};
  std::string path_ = dir_.path("/snapshot.bvmss");
};

TEST_F(CheckpointMemoryTable, ConvertsEveryPageOfTheChain) {
  // What a conversion stopped by a write failure leaves: the pages after the
  // first already rewritten, the first (naming the image's layout) not.
  std::vector<Page> cut_short = chain(3, true);
  cut_short[0] = chain(3)[0];
  struct Case {
    const char* what;
    std::vector<Page> pages;
    uint64_t size;
  } const cases[] = {
      {"one page", chain(1), table_stride},
      {"section ending inside the third 2 MiB stretch", chain(3), 2 * table_stride + 1},
      {"conversion cut short", cut_short, 3 * table_stride},
  };
  for (const Case& c : cases) {
    write_chain(c.pages);
    ASSERT_EQ(convert_memory_table(path_, table_offset, c.size), std::nullopt) << c.what;
    for (size_t i = 0; i < c.pages.size(); ++i)
      EXPECT_EQ(page_at(i), chain(c.pages.size(), true)[i]) << c.what << ", page " << i;
  }
}

TEST_F(CheckpointMemoryTable, BadPagesChangeNothing) {
  // A chain of three with page `i` replaced by `page`.
  auto with = [](size_t i, const Page& page) {
    std::vector<Page> pages = chain(3);
    pages[i] = page;
    return pages;
  };
  const std::vector<Page> last_unflagged = with(2, old_page(entries(5, 200), false));
  Page no_magic = chain(3)[2];
  put<uint64_t>(&no_magic[2048], 0);
  struct Case {
    const char* what;
    std::vector<Page> pages;
    uint64_t size;
    const char* error;
  } const cases[] = {
      {"last flag on a middle page", with(1, old_page(entries(5, 100), true)), 3 * table_stride,
       "Memory section data error"},
      {"no last flag on the last page", last_unflagged, 3 * table_stride, "Memory section data error"},
      {"section longer than the image", last_unflagged, 4 * table_stride, "Memory section read error"},
      {"section shorter than the chain", chain(3), 2 * table_stride, "Memory section data error"},
      {"bad magic on the last page", with(2, no_magic), 3 * table_stride, "Memory section data error"},
      {"first page already converted", with(0, new_page(entries(5), false)), 3 * table_stride,
       "Memory section data error"},
      {"converted page with a wrong last bit", with(1, new_page(entries(5, 100), true)),
       3 * table_stride, "Memory section data error"},
      {"section end beyond 64 bits", chain(1), UINT64_MAX, "Memory section data error"},
  };
  for (const Case& c : cases) {
    write_chain(c.pages);
    Bytes before = read_file(path_);
    EXPECT_EQ(convert_memory_table(path_, table_offset, c.size), c.error) << c.what;
    EXPECT_EQ(read_file(path_), before) << c.what;
  }
}

TEST_F(CheckpointMemoryTable, EmptySectionAndMissingImage) {
  write_chain(chain(1));
  Bytes before = read_file(path_);
  EXPECT_EQ(convert_memory_table(path_, table_offset, 0), std::nullopt);
  EXPECT_EQ(read_file(path_), before);
  EXPECT_EQ(convert_memory_table(dir_.path("/absent"), 0, table_stride),
            "Memory update: failed to open snapshot");
}

}  // namespace
