#include "hostlib/host_library_check.h"

#include <gtest/gtest.h>

#include "tests/hostlib/child_checks.h"

namespace hostlib_test {
namespace {

const HostLibraryStatus* find(const HostLibraryCheck& check, const std::string& name) {
  for (const HostLibraryStatus& status : check.libraries)
    if (status.name == name) return &status;
  return nullptr;
}

class HostLibraryCheckTest : public ChildCheckTest {};

TEST_F(HostLibraryCheckTest, PassesWithTheRequiredLibrariesAndOnlyReportsAMissingVmmapi) {
  EXPECT_EXIT(run_in_child(stand_in_links(), [](const StandInRoot& root, ChildChecks& c) {
                HostLibraryCheck check = check_host_libraries();
                c.expect(check.passed(), "the check passes");
                c.expect(check.libraries.size() == 4, "four libraries");
                for (const char* name : {"libnvpair", "libnv", "libzfs"}) {
                  const HostLibraryStatus* status = find(check, name);
                  c.expect(status && status->required && status->ok(),
                           std::string(name) + " is required, loaded and complete");
                }
                const HostLibraryStatus* vmmapi = find(check, "libvmmapi");
                c.expect(vmmapi && !vmmapi->required && !vmmapi->loaded,
                         "libvmmapi is not required and did not load");
                std::vector<std::string> lines = check.messages();
                c.expect(lines.at(2) == " * Host library libzfs loaded from " + root.dir() +
                                            "/lib/libzfs.so.4",
                         "libzfs message: " + lines.at(2));
                c.expect(lines.at(3).starts_with("### Host library libvmmapi cannot be loaded"),
                         "libvmmapi message: " + lines.at(3));
              }),
              ExitedWithCode(0), "");
}

TEST_F(HostLibraryCheckTest, NamesWhatIsMissingAndFails) {
  Links links = {{hostlib::libzfs_path, SIM_LIBZFS_PARTIAL},
                 {hostlib::libnvpair_path, SIM_LIBNVPAIR_PARTIAL}};
  EXPECT_EXIT(
      run_in_child(links, [](const StandInRoot& root, ChildChecks& c) {
        HostLibraryCheck check = check_host_libraries();
        c.expect(!check.passed(), "the check fails");
        const HostLibraryStatus* zfs = find(check, "libzfs");
        std::vector<std::string> zfs_missing = {"zfs_open",         "zfs_close",
                                                "zfs_send",         "zfs_prop_get_int",
                                                "zfeature_is_supported", "spa_feature_table"};
        c.expect(zfs && zfs->loaded && zfs->missing == zfs_missing, "libzfs lacks six names");
        const HostLibraryStatus* nvpair = find(check, "libnvpair");
        std::vector<std::string> nvpair_missing = {"nvlist_free", "nvlist_add_string", "nvpair_name"};
        c.expect(nvpair && nvpair->loaded && nvpair->missing == nvpair_missing,
                 "libnvpair lacks three names");
        const HostLibraryStatus* nv = find(check, "libnv");
        c.expect(nv && !nv->loaded && !nv->load_error.empty() && nv->missing.size() == 8,
                 "libnv did not load and lacks everything");
        std::vector<std::string> lines = check.messages();
        c.expect(lines.at(0) == "!!! Host library libnvpair (" + root.dir() +
                                    "/lib/libnvpair.so.3) lacks 3 function(s): nvlist_free, "
                                    "nvlist_add_string, nvpair_name",
                 "libnvpair message: " + lines.at(0));
        c.expect(lines.at(1).starts_with("!!! Host library libnv cannot be loaded from " +
                                         root.dir() + "/lib/libnv.so.1: "),
                 "libnv message: " + lines.at(1));
      }),
      ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hostlib_test
