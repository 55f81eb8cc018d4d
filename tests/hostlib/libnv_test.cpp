#include "hostlib/libnv.h"

#include <gtest/gtest.h>

#include "tests/hostlib/child_checks.h"

namespace hostlib_test {
namespace {

class LibnvBindingTest : public ChildCheckTest {};

// "ONV1", flags 0, one member: number "n" = 5.
const unsigned char packed_number[] = {'O', 'N', 'V', '1', 0, 1, 0, 0, 0, 2, 1, 0, 'n',
                                       8,   0,   0,   0,   5, 0, 0, 0, 0, 0, 0, 0};

TEST_F(LibnvBindingTest, ForwardsCallsAndResultsUnchanged) {
  EXPECT_EXIT(run_in_child(stand_in_links(), [](const StandInRoot&, ChildChecks& c) {
                libnv::nvlist_t* list = libnv::nvlist_unpack(packed_number, sizeof packed_number, 0);
                c.expect(list != nullptr, "unpacked");
                c.expect(libnv::nvlist_exists_number(list, "n"), "exists");
                c.expect(!libnv::nvlist_exists_string(list, "n"), "not a string");
                c.expect(libnv::nvlist_get_number(list, "n") == 5, "number");
                libnv::nvlist_destroy(list);
                c.expect(libnv::nvlist_unpack(packed_number, sizeof packed_number - 1, 0) == nullptr,
                         "truncated: null");
              }),
              ExitedWithCode(0), "");
}

TEST_F(LibnvBindingTest, AnswersWhenTheLibraryCannotLoad) {
  EXPECT_EXIT(run_in_child({}, [](const StandInRoot&, ChildChecks& c) {
                c.expect(libnv::nvlist_unpack(packed_number, sizeof packed_number, 0) == nullptr,
                         "unpack: null");
                auto* list = reinterpret_cast<const libnv::nvlist_t*>(0x1);  // never touched
                c.expect(libnv::nvlist_get_number(list, "n") == 0, "number: 0");
                c.expect(libnv::nvlist_get_string(list, "s") == nullptr, "string: null");
                c.expect(libnv::nvlist_get_nvlist(list, "l") == nullptr, "list: null");
                c.expect(!libnv::nvlist_exists_nvlist(list, "l"), "exists: false");
                libnv::nvlist_destroy(const_cast<libnv::nvlist_t*>(list));
              }),
              ExitedWithCode(0), "");
}

}  // namespace
}  // namespace hostlib_test
