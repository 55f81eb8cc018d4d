// Damaged images made at random from a good one: every read ends with one of
// the header codes, never a crash, and an image is only ever changed by a
// read that succeeds.
#include <random>

#include <gtest/gtest.h>

#include "bhwrap/checkpoint/checkpoint_header.h"
#include "tests/checkpoint/checkpoint_test_header.h"

namespace {

using namespace checkpoint_test;

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : rng_(seed) {}

  size_t below(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }
  bool chance(int percent) { return below(100) < static_cast<size_t>(percent); }

  uint64_t interesting_number() {
    static const uint64_t values[] = {0,          1,          4095,       4096,
                                      4097,       8192,       12287,      12288,
                                      1u << 21,   1ull << 32, 1ull << 63, UINT64_MAX,
                                      UINT64_MAX - 4095};
    if (chance(30)) return std::uniform_int_distribution<uint64_t>()(rng_);
    return values[below(std::size(values))];
  }

  // A header list of sections with members dropped, retyped or given odd values.
  Bytes random_list(const ImageParts& parts) {
    auto random_section = [&](uint64_t offset, uint64_t size, bool typed) {
      PackedList s;
      if (!chance(10)) chance(10) ? s.string("offset", "1") : s.number("offset", chance(30) ? interesting_number() : offset);
      if (!chance(10)) chance(10) ? s.flag("size", true) : s.number("size", chance(30) ? interesting_number() : size);
      if (typed && !chance(10)) chance(10) ? s.number("type", 0) : s.string("type", chance(80) ? "text" : "txt");
      return s;
    };
    PackedList list;
    if (!chance(10)) {
      if (chance(5)) list.number("config", 1);
      else list.list("config", random_section(config_offset, parts.config_text.size(), true));
    }
    if (!chance(10)) {
      if (chance(5)) list.string("memory", "x");
      else list.list("memory", random_section(memory_offset, parts.table.size() * checkpoint::table_stride, false));
    }
    if (chance(20)) list.binary_member("extra", Bytes(below(64), 0xAB));
    return list.packed();
  }

  void flip(Bytes& data, size_t from, size_t to) {
    if (to <= from) return;
    size_t n = 1 + below(4);
    for (size_t i = 0; i < n; ++i) data[from + below(to - from)] ^= static_cast<uint8_t>(1 + below(255));
  }

 private:
  std::mt19937 rng_;
};

TEST(CheckpointHeaderFuzz, RandomDamageNeverCrashesNorHalfChangesAnImage) {
  ASSERT_TRUE(load_stand_in_libnv());
  TestRoot root;
  root.set_memory_format("2");  // conversions on: the riskiest path
  const std::string path = root.path("/snapshot.bvmss");
  Mutator m(20240611);
  int counts[8] = {};

  for (int round = 0; round < 1000; ++round) {  // enough to reach every stage below
    ImageParts parts;
    parts.config_text = "pci.0.5.0.device=virtio-net\npci.0.5.0.backend=tap0\nname=vm1\n";
    // Mostly one table page (a small file); now and then a chain of two.
    parts.table = {old_page(entries(m.below(520)), !m.chance(10))};
    if (m.chance(5)) parts.table.push_back(old_page(entries(m.below(3)), !m.chance(10)));
    if (m.chance(20)) parts.table = {new_page(entries(m.below(40)), true)};
    if (m.chance(40)) parts.packed = m.random_list(parts);
    write_image(path, parts);

    Bytes data = read_file(path);
    uint32_t length = get<uint32_t>(&data[checkpoint::list_length_offset]);
    switch (m.below(5)) {
      case 0: m.flip(data, checkpoint::list_offset, checkpoint::list_offset + length); break;
      case 1: put<uint32_t>(&data[checkpoint::list_length_offset], static_cast<uint32_t>(m.interesting_number())); break;
      case 2: m.flip(data, checkpoint::list_length_offset, checkpoint::list_offset + length); break;
      case 3: m.flip(data, memory_offset, memory_offset + 16); m.flip(data, memory_offset + 2048, memory_offset + 2072); break;
      case 4: data.resize(m.below((m.chance(50) ? data.size() : 3 * checkpoint::page_size) + 1)); break;
    }
    if (m.chance(10)) m.flip(data, 0, checkpoint::ident.size());
    write_file(path, data);

    snapshot_config snapshot(path, "7");
    checkpoint_result r = read_checkpoint_header(snapshot, m.chance(5));
    ASSERT_LE(r.code, 0) << round;
    ASSERT_GE(r.code, -7) << round;
    ASSERT_NE(r.code, -1) << round;
    ASSERT_EQ(r.code == 0, r.message.empty()) << round << ": " << r.message;
    if (r.code != 0) {
      ASSERT_EQ(read_file(path), data) << round << ": " << r.message;
    }
    ++counts[-r.code];
  }
  // The corpus reaches every stage of the reader.
  for (int code : {0, 2, 3, 4, 5, 6, 7}) EXPECT_GT(counts[code], 0) << "code -" << code;
}

}  // namespace
