// The libnv stand-in: packing, strict unpacking, and the getters.
#include "sim/include/libnv_stand_in.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "hostlib/shared_library.h"
#include "tests/support/stand_in_root.h"

namespace {

using Bytes = std::vector<unsigned char>;

class LibnvSimTest : public ::testing::Test {
 protected:
  // A dying child shares this process's root, which the parent removes.
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }

  test_support::StandInRoot root_{test_support::stand_in_links()};
  SharedLibrary lib_{hostlib::libnv_path};
  // Each function of the stand-in, resolved by name (declared, never linked).
#define LIBNV_SIM_FN(result, name, params, args) \
  decltype(&::name) name = lib_.function<decltype(&::name)>(#name);
  LIBNV_ENTRY_POINTS(LIBNV_SIM_FN)
  LIBNV_STAND_IN_EXTRAS(LIBNV_SIM_FN)
#undef LIBNV_SIM_FN

  // A checkpoint header's list: "config" and "memory" sections.
  libnv_nvlist_t* header_list() {
    libnv_nvlist_t* config = nvlist_create(0);
    nvlist_add_number(config, "offset", 4096);
    nvlist_add_number(config, "size", 123);
    nvlist_add_string(config, "type", "text");
    libnv_nvlist_t* memory = nvlist_create(0);
    nvlist_add_number(memory, "offset", 8192);
    nvlist_add_number(memory, "size", 4194304);
    libnv_nvlist_t* list = nvlist_create(0);
    nvlist_add_nvlist(list, "config", config);
    nvlist_add_nvlist(list, "memory", memory);
    nvlist_add_bool(list, "compressed", false);
    nvlist_add_binary(list, "blob", "\0\1\2", 3);
    nvlist_destroy(config);
    nvlist_destroy(memory);
    return list;
  }

  Bytes pack(const libnv_nvlist_t* list) {
    size_t size = 0;
    void* buffer = nvlist_pack(list, &size);
    if (!buffer) return {};
    Bytes bytes(static_cast<unsigned char*>(buffer), static_cast<unsigned char*>(buffer) + size);
    std::free(buffer);
    return bytes;
  }

  Bytes packed_header() {
    libnv_nvlist_t* list = header_list();
    Bytes bytes = pack(list);
    nvlist_destroy(list);
    return bytes;
  }

  // Unpacks `bytes` and says whether it was accepted (the list is freed).
  bool accepted(const Bytes& bytes, int flags = 0) {
    libnv_nvlist_t* list = nvlist_unpack(bytes.data(), bytes.size(), flags);
    nvlist_destroy(list);
    return list != nullptr;
  }
};

TEST_F(LibnvSimTest, RoundTripKeepsEveryMember) {
  ASSERT_TRUE(lib_.is_open()) << lib_.error();
  Bytes packed = packed_header();
  ASSERT_FALSE(packed.empty());

  libnv_nvlist_t* copy = nvlist_unpack(packed.data(), packed.size(), 0);
  ASSERT_NE(copy, nullptr);
  const libnv_nvlist_t* config = nvlist_get_nvlist(copy, "config");
  EXPECT_EQ(nvlist_get_number(config, "offset"), 4096u);
  EXPECT_EQ(nvlist_get_number(config, "size"), 123u);
  EXPECT_STREQ(nvlist_get_string(config, "type"), "text");
  EXPECT_EQ(nvlist_get_number(nvlist_get_nvlist(copy, "memory"), "size"), 4194304u);
  EXPECT_FALSE(nvlist_get_bool(copy, "compressed"));
  size_t size = 0;
  const void* blob = nvlist_get_binary(copy, "blob", &size);
  ASSERT_EQ(size, 3u);
  EXPECT_EQ(std::memcmp(blob, "\0\1\2", 3), 0);
  EXPECT_TRUE(nvlist_exists_nvlist(copy, "memory"));
  EXPECT_FALSE(nvlist_exists_number(copy, "memory"));
  EXPECT_FALSE(nvlist_exists_string(config, "absent"));
  EXPECT_EQ(pack(copy), packed);  // order and values survive
  nvlist_destroy(copy);
}

TEST_F(LibnvSimTest, GettersStopTheProcessForAMissingMember) {
  libnv_nvlist_t* list = header_list();
  EXPECT_DEATH(nvlist_get_number(list, "absent"), "element 'absent' of type NUMBER doesn't exist");
  EXPECT_DEATH(nvlist_get_string(list, "config"), "element 'config' of type STRING doesn't exist");
  nvlist_destroy(list);
}

TEST_F(LibnvSimTest, FirstAddErrorIsKeptAndBlocksPacking) {
  libnv_nvlist_t* list = nvlist_create(0);
  nvlist_add_number(list, "a", 1);
  nvlist_add_number(list, "a", 2);
  EXPECT_EQ(nvlist_error(list), EEXIST);
  nvlist_add_string(list, "b", nullptr);
  EXPECT_EQ(nvlist_error(list), EEXIST);
  size_t size = 0;
  EXPECT_EQ(nvlist_pack(list, &size), nullptr);
  nvlist_destroy(list);

  libnv_nvlist_t* repeated = nvlist_create(NV_FLAG_NO_UNIQUE);
  nvlist_add_number(repeated, "a", 1);
  nvlist_add_number(repeated, "a", 2);
  EXPECT_EQ(nvlist_error(repeated), 0);
  EXPECT_EQ(nvlist_get_number(repeated, "a"), 1u);
  Bytes packed = pack(repeated);
  EXPECT_TRUE(accepted(packed, NV_FLAG_NO_UNIQUE));
  EXPECT_FALSE(accepted(packed, 0));  // flags must match the list's
  nvlist_destroy(repeated);
}

TEST_F(LibnvSimTest, UnpackRefusesMalformedBuffers) {
  Bytes packed = packed_header();
  ASSERT_TRUE(accepted(packed));
  for (size_t length = 0; length < packed.size(); ++length)
    EXPECT_FALSE(accepted(Bytes(packed.begin(), packed.begin() + length))) << "prefix " << length;
  Bytes longer = packed;
  longer.push_back(0);
  EXPECT_FALSE(accepted(longer)) << "trailing byte";
  EXPECT_EQ(nvlist_unpack(nullptr, 10, 0), nullptr);

  // "ONV1", flags 0, a count far beyond the buffer.
  EXPECT_FALSE(accepted({'O', 'N', 'V', '1', 0, 0xff, 0xff, 0xff, 0xff}));
  // One number member whose data length runs past the end.
  EXPECT_FALSE(accepted({'O', 'N', 'V', '1', 0, 1, 0, 0, 0, 2, 1, 0, 'n', 0xff, 0xff, 0xff, 0xff, 5}));
  // A string with a NUL byte; a bool that is neither 0 nor 1.
  EXPECT_FALSE(accepted({'O', 'N', 'V', '1', 0, 1, 0, 0, 0, 3, 1, 0, 's', 2, 0, 0, 0, 'a', 0}));
  EXPECT_FALSE(accepted({'O', 'N', 'V', '1', 0, 1, 0, 0, 0, 1, 1, 0, 'b', 1, 0, 0, 0, 2}));
  // Repeated names in a list with unique names.
  EXPECT_FALSE(accepted({'O', 'N', 'V', '1', 0, 2, 0, 0, 0, 1, 1, 0, 'b', 1, 0, 0, 0, 1,
                         1, 1, 0, 'b', 1, 0, 0, 0, 0}));

  // Nesting is bounded: 32 lists deep, not 33.
  auto nested = [&](int depth) {
    libnv_nvlist_t* list = nvlist_create(0);
    nvlist_add_number(list, "leaf", 1);
    for (int i = 1; i < depth; ++i) {
      libnv_nvlist_t* outer = nvlist_create(0);
      nvlist_add_nvlist(outer, "in", list);
      nvlist_destroy(list);
      list = outer;
    }
    Bytes bytes = pack(list);
    nvlist_destroy(list);
    return bytes;
  };
  EXPECT_TRUE(accepted(nested(32)));
  EXPECT_FALSE(accepted(nested(33)));

  // Random damage is refused or read, never a crash.
  std::mt19937 random(20240607);
  int refused = 0;
  for (int round = 0; round < 5000; ++round) {
    Bytes damaged = packed;
    int changes = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < changes; ++i)
      damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
    if (random() % 4 == 0) damaged.resize(random() % damaged.size());
    refused += accepted(damaged) ? 0 : 1;
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
