#include "hostlib/libzfs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair.h"
#include "tests/hostlib/child_checks.h"

namespace hostlib_test {
namespace {

class LibzfsBindingTest : public ChildCheckTest {};

bool make_pool(const StandInRoot& root, const std::string& pool) {
  std::string command = std::string("OMBRIX_ROOT='") + root.dir() + "' '" SIM_ZFS_CTL "' pool-create " + pool;
  return std::system(command.c_str()) == 0;
}

TEST_F(LibzfsBindingTest, ForwardsCallsAndResultsUnchanged) {
  EXPECT_EXIT(
      run_in_child(stand_in_links(), [](const StandInRoot& root, ChildChecks& c) {
        c.expect(make_pool(root, "tank"), "pool made");
        libzfs_handle_t* h = libzfs::libzfs_init();
        c.expect(h != nullptr, "libzfs_init");
        // A property list built through the libnvpair binding is read by libzfs.
        nvlist_t* props = nullptr;
        c.expect(nvpair::nvlist_alloc(&props, NV_UNIQUE_NAME, 0) == 0, "nvlist_alloc");
        nvpair::nvlist_add_uint64(props, libzfs::zfs_prop_to_name(ZFS_PROP_VOLSIZE), 65536);
        nvpair::nvlist_add_string(props, libzfs::zfs_prop_to_name(ZFS_PROP_SYNC), "disabled");
        c.expect(libzfs::zfs_create(h, "tank/v", ZFS_TYPE_VOLUME, props) == 0, "zfs_create");
        nvpair::nvlist_free(props);
        zfs_handle_t* zv = libzfs::zfs_open(h, "tank/v", ZFS_TYPE_VOLUME);
        c.expect(zv && libzfs::zfs_prop_get_int(zv, ZFS_PROP_VOLSIZE) == 65536, "volsize");
        c.expect(zv && libzfs::zfs_get_handle(zv) == h, "zfs_get_handle");
        libzfs::zfs_close(zv);
        // Failures come back as the library gives them.
        c.expect(libzfs::zfs_open(h, "tank/none", ZFS_TYPE_VOLUME) == nullptr, "open of a missing zvol");
        c.expect(libzfs::libzfs_errno(h) == EZFS_NOENT, "errno 2009");
        c.expect(std::string(libzfs::libzfs_error_description(h)) == "dataset does not exist",
                 "description");
        c.expect(libzfs::zfs_send(nullptr, nullptr, "s", nullptr, -1, nullptr, nullptr, nullptr) == -1,
                 "unmodelled entry point");
        c.expect(libzfs::zfeature_is_supported("nothing:such") == B_FALSE, "zfeature_is_supported");
        c.expect(libzfs::spa_feature_table() != nullptr && libzfs::libzfs_config_ops() != nullptr,
                 "data objects");
        libzfs::libzfs_fini(h);
      }),
      ExitedWithCode(0), "");
}

TEST_F(LibzfsBindingTest, LoadsOnceFromSeveralThreads) {
  EXPECT_EXIT(run_in_child(stand_in_links(), [](const StandInRoot&, ChildChecks& c) {
                std::vector<const libzfs_api*> seen(8);
                std::vector<const char*> names(8);
                std::vector<std::thread> threads;
                for (size_t i = 0; i < seen.size(); ++i)
                  threads.emplace_back([&, i] {
                    names[i] = libzfs::zfs_prop_to_name(ZFS_PROP_GUID);
                    seen[i] = &libzfs_api::instance();
                  });
                for (std::thread& t : threads) t.join();
                for (size_t i = 0; i < seen.size(); ++i) {
                  c.expect(seen[i] == seen[0], "one table");
                  c.expect(names[i] && std::string(names[i]) == "guid", "resolved in every thread");
                }
              }),
              ExitedWithCode(0), "");
}

TEST_F(LibzfsBindingTest, AnswersForMissingEntryPoints) {
  Links links = {{hostlib::libzfs_path, SIM_LIBZFS_PARTIAL}, {hostlib::libnvpair_path, SIM_LIBNVPAIR}};
  EXPECT_EXIT(
      run_in_child(links, [](const StandInRoot&, ChildChecks& c) {
        libzfs_handle_t* h = libzfs::libzfs_init();
        c.expect(h != nullptr, "present entry points still work");
        c.expect(libzfs::zfs_open(h, "tank", ZFS_TYPE_FILESYSTEM) == nullptr, "pointer: null");
        c.expect(libzfs::zfs_send(nullptr, nullptr, "s", nullptr, -1, nullptr, nullptr, nullptr) == -1,
                 "int: -1");
        c.expect(libzfs::zfs_prop_get_int(nullptr, ZFS_PROP_GUID) == static_cast<uint64_t>(-1),
                 "unsigned: all ones");
        libzfs::zfs_close(reinterpret_cast<zfs_handle_t*>(0x1));  // nothing is called
        c.expect(libzfs::zfeature_is_supported("nothing:such") == B_TRUE, "features count as supported");
        c.expect(libzfs::spa_feature_table() == nullptr, "data object: null");
        c.expect(libzfs::libzfs_config_ops() != nullptr, "the other data object is there");
        libzfs::libzfs_fini(h);
      }),
      ExitedWithCode(0), "");
}

TEST_F(LibzfsBindingTest, AnswersWhenTheLibraryCannotLoad) {
  EXPECT_EXIT(run_in_child({}, [](const StandInRoot&, ChildChecks& c) {
                c.expect(!libzfs_api::instance().library().loaded(), "not loaded");
                c.expect(libzfs::libzfs_init() == nullptr, "libzfs_init: null");
                c.expect(libzfs::libzfs_errno(nullptr) == -1, "libzfs_errno: -1");
                c.expect(libzfs::zfs_name_to_prop("volsize") == -1, "enum result: -1");
                c.expect(libzfs::zfs_prop_to_name(ZFS_PROP_GUID) == nullptr, "text: null");
                libzfs::libzfs_print_on_error(nullptr, B_TRUE);
                c.expect(libzfs::zfeature_is_supported("x") == B_TRUE, "zfeature_is_supported");
              }),
              ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hostlib_test
