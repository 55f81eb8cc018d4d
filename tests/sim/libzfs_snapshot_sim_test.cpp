// The libzfs stand-in's snapshots, clones, renames and streams, through the
// binding tables loaded from a host root with the stand-ins.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hostlib/host_library_paths.h"
#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair_api.h"
#include "tests/support/run_program.h"
#include "tests/support/stand_in_root.h"

namespace libzfs_snapshot_sim_test {
namespace {

class LibzfsSnapshotSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zfs_.library().missing_symbols().empty()) << zfs_.library().load_error();
    for (const char* step : {"pool-create tank", "fs-create tank/a/b", "snapshot tank/a@s1",
                             "snapshot tank/a@s2", "snapshot tank/a@s3"})
      ASSERT_EQ(ctl(step), 0) << step;
    h_ = zfs_.libzfs_init();
    ASSERT_NE(h_, nullptr);
  }
  void TearDown() override {
    if (h_) zfs_.libzfs_fini(h_);
  }
  int ctl(const std::string& line) {
    std::vector<std::string> args;
    for (size_t start = 0, end; start <= line.size(); start = end + 1) {
      end = line.find(' ', start);
      if (end == std::string::npos) end = line.size();
      args.push_back(line.substr(start, end - start));
    }
    return test_support::run_program(SIM_ZFS_CTL, args).status;
  }
  std::string get(const std::string& name, const std::string& property) {
    std::string out = test_support::run_program(SIM_ZFS_CTL, {"get", name, property}).output;
    return out.empty() ? out : out.substr(0, out.size() - 1);
  }
  std::string error() { return zfs_.libzfs_error_description(h_); }

  test_support::StandInRoot root_{test_support::stand_in_links()};
  libzfs_api zfs_{hostlib::libzfs_path};
  libzfs_handle_t* h_ = nullptr;
};

// What an iteration visits; the callback closes each handle.
struct Visits {
  const libzfs_api* api;
  std::vector<std::string> names;
};

int collect(zfs_handle_t* zhp, void* data) {
  auto* visits = static_cast<Visits*>(data);
  visits->names.push_back(visits->api->zfs_get_name(zhp));
  visits->api->zfs_close(zhp);
  return 0;
}

TEST_F(LibzfsSnapshotSimTest, SnapshotSpecsNamesAndRanges) {
  zfs_handle_t* a = zfs_.zfs_open(h_, "tank/a", ZFS_TYPE_FILESYSTEM);
  ASSERT_NE(a, nullptr);
  struct Case {
    std::string spec;
    int rc;
    std::vector<std::string> found;
  } cases[] = {
      {"s2", 0, {"tank/a@s2"}},
      {"s1%s2", 0, {"tank/a@s1", "tank/a@s2"}},
      {"%s2,s3", 0, {"tank/a@s1", "tank/a@s2", "tank/a@s3"}},
      {"s2%", 0, {"tank/a@s2", "tank/a@s3"}},
      {"s9,s1", 2, {"tank/a@s1"}},  // a missing name: ENOENT after the others
      {"s9%s2", 2, {}},
  };
  for (const Case& c : cases) {
    Visits found{&zfs_, {}};
    EXPECT_EQ(zfs_.zfs_iter_snapspec(a, c.spec.c_str(), collect, &found), c.rc) << c.spec;
    EXPECT_EQ(found.names, c.found) << c.spec;
  }
  zfs_.zfs_close(a);
}

TEST_F(LibzfsSnapshotSimTest, ClonesHoldTheirOriginThroughRenames) {
  zfs_handle_t* snap = zfs_.zfs_open(h_, "tank/a@s1", ZFS_TYPE_SNAPSHOT);
  ASSERT_NE(snap, nullptr);
  ASSERT_EQ(zfs_.zfs_clone(snap, "tank/c", nullptr), 0) << error();
  zfs_.zfs_close(snap);
  zfs_handle_t* a = zfs_.zfs_open(h_, "tank/a", ZFS_TYPE_FILESYSTEM);
  ASSERT_EQ(zfs_.zfs_rename(a, "tank/renamed", zfs_rename_flags_t{}), 0) << error();
  EXPECT_EQ(get("tank/c", "origin"), "tank/renamed@s1");
  EXPECT_EQ(get("tank/renamed@s1", "clones"), "tank/c");
  EXPECT_EQ(ctl("get tank/renamed/b guid"), 0);

  // Dependents come before what they depend on.
  Visits found{&zfs_, {}};
  ASSERT_EQ(zfs_.zfs_iter_dependents(a, B_TRUE, collect, &found), 0);
  EXPECT_EQ(found.names, (std::vector<std::string>{"tank/renamed/b", "tank/c", "tank/renamed@s1",
                                             "tank/renamed@s2", "tank/renamed@s3"}));
  // What still has dependents, or is mounted, is not destroyed.
  zfs_handle_t* s1 = zfs_.zfs_open(h_, "tank/renamed@s1", ZFS_TYPE_SNAPSHOT);
  EXPECT_NE(zfs_.zfs_destroy(s1, B_FALSE), 0);
  EXPECT_EQ(error(), "snapshot has dependent clones");
  zfs_.zfs_close(s1);
  zfs_handle_t* c = zfs_.zfs_open(h_, "tank/c", ZFS_TYPE_FILESYSTEM);
  ASSERT_EQ(zfs_.zfs_mount(c, nullptr, 0), 0);
  EXPECT_NE(zfs_.zfs_destroy(c, B_FALSE), 0);
  EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_BUSY);
  ASSERT_EQ(zfs_.zfs_unmountall(c, 0), 0);
  EXPECT_EQ(zfs_.zfs_destroy(c, B_FALSE), 0) << error();
  zfs_.zfs_close(c);
  zfs_.zfs_close(a);
}

TEST_F(LibzfsSnapshotSimTest, DamagedStreamsChangeNothing) {
  FILE* file = std::tmpfile();
  zfs_handle_t* a = zfs_.zfs_open(h_, "tank/a", ZFS_TYPE_FILESYSTEM);
  zfs_send_flags_t flags{};
  flags.replicate = B_TRUE;
  flags.doall = B_TRUE;
  ASSERT_EQ(zfs_.zfs_send(a, nullptr, "s3", &flags, fileno(file), nullptr, nullptr, nullptr), 0)
      << error();
  zfs_.zfs_close(a);
  std::string stream(static_cast<size_t>(std::ftell(file)), '\0');
  std::rewind(file);
  ASSERT_EQ(std::fread(stream.data(), 1, stream.size(), file), stream.size());
  std::fclose(file);

  struct Case {
    std::string what;
    std::string bytes;
  } cases[] = {
      {"a flipped byte", stream.substr(0, 40) + char(stream[40] ^ 1) + stream.substr(41)},
      {"a cut stream", stream.substr(0, stream.size() - 3)},
      {"another version", stream.substr(0, 8) + '\x07' + stream.substr(9)},
  };
  for (const Case& c : cases) {
    FILE* in = std::tmpfile();
    std::fwrite(c.bytes.data(), 1, c.bytes.size(), in);
    std::fflush(in);
    std::rewind(in);
    zfs_recv_flags_t recv{};
    EXPECT_NE(zfs_.zfs_receive(h_, "tank/copy", nullptr, &recv, fileno(in), nullptr), 0) << c.what;
    EXPECT_EQ(zfs_.libzfs_errno(h_), EZFS_BADSTREAM) << c.what;
    std::fclose(in);
    EXPECT_NE(ctl("get tank/copy guid"), 0) << c.what;
  }
}

}  // namespace
}  // namespace libzfs_snapshot_sim_test
