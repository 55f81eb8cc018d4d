#include "hostlib/nvpair.h"

#include <gtest/gtest.h>

#include "tests/hostlib/child_checks.h"

namespace hostlib_test {
namespace {

class NvpairBindingTest : public ChildCheckTest {};

TEST_F(NvpairBindingTest, ForwardsCallsAndResultsUnchanged) {
  EXPECT_EXIT(run_in_child(stand_in_links(), [](const StandInRoot&, ChildChecks& c) {
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
              }),
              ExitedWithCode(0), "");
}

TEST_F(NvpairBindingTest, AnswersForMissingEntryPoints) {
  Links links = {{hostlib::libnvpair_path, SIM_LIBNVPAIR_PARTIAL}};
  EXPECT_EXIT(run_in_child(links, [](const StandInRoot&, ChildChecks& c) {
                nvlist_t* list = nullptr;
                c.expect(nvpair::nvlist_alloc(&list, NV_UNIQUE_NAME, 0) == 0, "alloc is there");
                c.expect(nvpair::nvlist_add_uint64(list, "a", 1) == 0, "add_uint64 is there");
                c.expect(nvpair::nvlist_add_string(list, "b", "x") == -1, "int: -1");
                nvpair_t* pair = nvpair::nvlist_next_nvpair(list, nullptr);
                c.expect(pair != nullptr && nvpair::nvpair_name(pair) == nullptr, "accessor: null");
                nvpair::nvlist_free(list);  // nothing is called
              }),
              ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hostlib_test
