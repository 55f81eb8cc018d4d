// Test support for the libzfs stand-in: a host root with the stand-ins, the
// libzfs and libnvpair tables loaded from it, a libzfs handle, and the
// zfs-sim tool.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair_api.h"
#include "tests/support/stand_in_root.h"

namespace libzfs_sim_test {

class LibzfsSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(zfs_.library().missing_symbols().empty()) << zfs_.library().load_error();
    ASSERT_TRUE(nvp_.library().missing_symbols().empty()) << nvp_.library().load_error();
    ASSERT_EQ(ctl("pool-create tank"), 0);
    h_ = zfs_.libzfs_init();
    ASSERT_NE(h_, nullptr);
  }
  void TearDown() override {
    if (h_) zfs_.libzfs_fini(h_);
  }

  // Runs zfs-sim with `args` under the root: its exit status.
  int ctl(const std::string& args) {
    std::string command = "'" SIM_ZFS_CTL "' " + args + " 2>/dev/null";
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // What zfs-sim writes to standard output.
  std::string ctl_output(const std::string& args) {
    std::string command = "'" SIM_ZFS_CTL "' " + args;
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[256];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
    ::pclose(pipe);
    return out;
  }

  // A property list for a zvol (the caller frees it).
  nvlist_t* volume_props(uint64_t size, uint64_t block) {
    nvlist_t* props = nullptr;
    nvp_.nvlist_alloc(&props, NV_UNIQUE_NAME, 0);
    nvp_.nvlist_add_uint64(props, "volsize", size);
    if (block) nvp_.nvlist_add_uint64(props, "volblocksize", block);
    return props;
  }
  int create_volume(const std::string& name, uint64_t size, uint64_t block = 0) {
    nvlist_t* props = volume_props(size, block);
    int rc = zfs_.zfs_create(h_, name.c_str(), ZFS_TYPE_VOLUME, props);
    nvp_.nvlist_free(props);
    return rc;
  }
  // The size of a zvol's device file, -1 when there is none.
  long long device_size(const std::string& dataset) {
    struct stat st;
    std::string path = root_.path("/dev/zvol/" + dataset);
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  }
  std::string error() { return zfs_.libzfs_error_description(h_); }

  test_support::StandInRoot root_{test_support::stand_in_links()};
  libzfs_api zfs_{hostlib::libzfs_path};
  nvpair_api nvp_{hostlib::libnvpair_path};
  libzfs_handle_t* h_ = nullptr;
};

}  // namespace libzfs_sim_test
