// The process-wide bindings of libnvpair, libnv and libzfs: calls and results
// passed through unchanged, and fixed answers for entry points the host
// library lacks or when it cannot be loaded. Each check runs in a child of
// its own, where the bindings load afresh.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "hostlib/libnv.h"
#include "hostlib/libzfs.h"
#include "hostlib/libzfs_api.h"
#include "hostlib/nvpair.h"
#include "tests/hostlib/child_checks.h"
#include "tests/support/run_program.h"

namespace hostlib_test {
namespace {

class BindingTest : public ChildCheckTest {};

// "ONV1", flags 0, one member: number "n" = 5.
const unsigned char packed_number[] = {'O', 'N', 'V', '1', 0, 1, 0, 0, 0, 2, 1, 0, 'n',
                                       8,   0,   0,   0,   5, 0, 0, 0, 0, 0, 0, 0};

TEST_F(BindingTest, ForwardCallsAndResultsUnchanged) {
  EXPECT_EXIT(
      run_in_child(stand_in_links(), [](const StandInRoot&, ChildChecks& c) {
        // libnvpair: error codes come back as the library gives them.
        nvlist_t* list = nullptr;
        c.expect(nvpair::nvlist_alloc(&list, NV_UNIQUE_NAME, 0) == 0, "alloc");
        c.expect(nvpair::nvlist_add_string(list, "", "x") == 22, "EINVAL unchanged");
        c.expect(nvpair::nvlist_add_uint64(list, "size", 7) == 0, "add");
        uint64_t value = 0;
        c.expect(nvpair::nvlist_lookup_uint64(list, "size", &value) == 0 && value == 7, "lookup");
        c.expect(nvpair::nvlist_lookup_uint64(list, "none", &value) == 2, "ENOENT unchanged");
        nvpair_t* pair = nvpair::nvlist_next_nvpair(list, nullptr);
        c.expect(pair && std::string(nvpair::nvpair_name(pair)) == "size", "walk");
        nvpair::nvlist_free(list);

        // libnv.
        libnv::nvlist_t* nv = libnv::nvlist_unpack(packed_number, sizeof packed_number, 0);
        c.expect(nv != nullptr, "unpacked");
        c.expect(libnv::nvlist_exists_number(nv, "n"), "exists");
        c.expect(!libnv::nvlist_exists_string(nv, "n"), "not a string");
        c.expect(libnv::nvlist_get_number(nv, "n") == 5, "number");
        libnv::nvlist_destroy(nv);
        c.expect(libnv::nvlist_unpack(packed_number, sizeof packed_number - 1, 0) == nullptr,
                 "truncated: null");

        // libzfs, with a property list built through the libnvpair binding.
        c.expect(test_support::run_program(SIM_ZFS_CTL, {"pool-create", "tank"}).status == 0,
                 "pool made");
        libzfs_handle_t* h = libzfs::libzfs_init();
        c.expect(h != nullptr, "libzfs_init");
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

TEST_F(BindingTest, LibzfsLoadsOnceFromSeveralThreads) {
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

TEST_F(BindingTest, AnswerForMissingEntryPoints) {
  Links links = {{hostlib::libzfs_path, SIM_LIBZFS_PARTIAL},
                 {hostlib::libnvpair_path, SIM_LIBNVPAIR_PARTIAL}};
  EXPECT_EXIT(
      run_in_child(links, [](const StandInRoot&, ChildChecks& c) {
        nvlist_t* list = nullptr;
        c.expect(nvpair::nvlist_alloc(&list, NV_UNIQUE_NAME, 0) == 0, "alloc is there");
        c.expect(nvpair::nvlist_add_uint64(list, "a", 1) == 0, "add_uint64 is there");
        c.expect(nvpair::nvlist_add_string(list, "b", "x") == -1, "int: -1");
        nvpair_t* pair = nvpair::nvlist_next_nvpair(list, nullptr);
        c.expect(pair != nullptr && nvpair::nvpair_name(pair) == nullptr, "accessor: null");
        nvpair::nvlist_free(list);  // nothing is called

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

TEST_F(BindingTest, AnswerWhenTheLibrariesCannotLoad) {
  EXPECT_EXIT(run_in_child({}, [](const StandInRoot&, ChildChecks& c) {
                c.expect(libnv::nvlist_unpack(packed_number, sizeof packed_number, 0) == nullptr,
                         "unpack: null");
                auto* list = reinterpret_cast<const libnv::nvlist_t*>(0x1);  // never touched
                c.expect(libnv::nvlist_get_number(list, "n") == 0, "number: 0");
                c.expect(libnv::nvlist_get_string(list, "s") == nullptr, "string: null");
                c.expect(libnv::nvlist_get_nvlist(list, "l") == nullptr, "list: null");
                c.expect(!libnv::nvlist_exists_nvlist(list, "l"), "exists: false");
                libnv::nvlist_destroy(const_cast<libnv::nvlist_t*>(list));

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
