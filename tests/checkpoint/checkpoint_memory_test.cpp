#include "bhwrap/checkpoint/checkpoint_memory.h"

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_snapshot_config.h"
#include "tests/checkpoint/checkpoint_test_image.h"

namespace {

using namespace checkpoint_test;
using checkpoint::table_magic;
using checkpoint::table_stride;

constexpr uint64_t table_offset = 8192;

TEST(CheckpointPageLayout, WellFormedPagesFirstThenTheMagic) {
  std::vector<uint32_t> magic_entries = entries(511);
  magic_entries[509] = static_cast<uint32_t>(table_magic);
  magic_entries[510] = static_cast<uint32_t>(table_magic >> 32);
  const Page converted_full = new_page(magic_entries, false);  // magic at 0 and at 2048
  Page damaged = converted_full;
  damaged[4000] = 1;
  Page bare{};
  Page both_magics{};
  put<uint64_t>(&both_magics[0], table_magic);
  put<uint64_t>(&both_magics[2048], table_magic);
  const Page old_last = old_page({1}, true), new_last = new_page({1}, true);
  const struct {
    const char* what;
    Page first;
    bool single;
    const Page* last;
    std::optional<int32_t> layout;
  } cases[] = {
      {"no magic", bare, true, nullptr, std::nullopt},
      {"magic with bit 2 at 0", [] { Page p{}; put<uint64_t>(&p[0], table_magic | 4); return p; }(), true, nullptr, std::nullopt},
      {"bare magic at 0", [] { Page p{}; put<uint64_t>(&p[0], table_magic | 1); return p; }(), true, nullptr, memory_format_new},
      {"bare magics at 0 and 2048", both_magics, true, nullptr, memory_format_old},
      {"old page", old_page({1, 2}, false), false, &old_last, memory_format_old},
      {"converted page, magic in its entries, then converted", converted_full, false, &new_last, memory_format_new},
      {"well formed in both, then old", converted_full, false, &old_last, memory_format_old},
      {"converted page with bytes after its entries", damaged, false, &new_last, memory_format_old},
  };
  for (const auto& c : cases)
    EXPECT_EQ(table_chain_layout(c.first.data(), c.last ? c.last->data() : c.first.data(), c.single), c.layout) << c.what;
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

// A converted page whose entries 509 and 510 hold the magic has it at byte
// 2048 too; a conversion completed after being cut short leaves it as it is.
TEST_F(CheckpointMemoryTable, CompletesACutShortChainWhoseConvertedPagesHoldTheMagic) {
  std::vector<uint32_t> magic_entries = entries(511, 100);
  magic_entries[509] = static_cast<uint32_t>(table_magic);
  magic_entries[510] = static_cast<uint32_t>(table_magic >> 32);
  const std::vector<Page> converted = {new_page(entries(511), false), new_page(magic_entries, false),
                                       new_page(entries(5, 200), true)};
  std::vector<Page> cut_short = converted;
  cut_short[0] = old_page(entries(511), false);
  write_chain(cut_short);
  ASSERT_EQ(convert_memory_table(path_, table_offset, 3 * table_stride), std::nullopt);
  for (size_t i = 0; i < converted.size(); ++i) EXPECT_EQ(page_at(i), converted[i]) << "page " << i;
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

TEST_F(CheckpointMemoryTable, EmptyOrMisplacedSectionAndMissingImage) {
  write_chain(chain(1));
  Bytes before = read_file(path_);
  EXPECT_EQ(convert_memory_table(path_, table_offset, 0), "Memory section data error");
  EXPECT_EQ(convert_memory_table(path_, checkpoint::page_size - 1, table_stride), "Memory section data error");
  EXPECT_EQ(read_file(path_), before);
  EXPECT_EQ(convert_memory_table(dir_.path("/absent"), 0, table_stride),
            "Memory update: failed to open snapshot");
}

}  // namespace
