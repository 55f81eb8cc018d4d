#include "model/vm_status.h"

#include <gtest/gtest.h>

namespace {

TEST(VmStatusName, NamesInBothCasesAndUnknownBeyondTheTable) {
  EXPECT_EQ(vm_status_name(VmStatus::undefined, true), "undefined");
  EXPECT_EQ(vm_status_name(VmStatus::reconfig_failed, true), "reconfig_failed");
  EXPECT_EQ(vm_status_name(VmStatus::reconfig_failed, false), "Reconfig_failed");
  // The values the state queries rely on.
  EXPECT_EQ(vm_status_name(1, false), "Offline");
  EXPECT_EQ(vm_status_name(3, true), "started");
  EXPECT_EQ(vm_status_name(11, true), "suspended");

  for (int status : {-1, 17, 1000, -2147483647 - 1})
    for (bool lower : {true, false}) EXPECT_EQ(vm_status_name(status, lower), "unknown");
  // Every value of the table has a name of its own.
  for (int status = 0; status <= static_cast<int>(VmStatus::reconfig_failed); ++status)
    EXPECT_NE(vm_status_name(status, true), "unknown") << status;
}

}  // namespace
