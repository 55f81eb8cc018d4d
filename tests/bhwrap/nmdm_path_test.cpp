#include "bhwrap/nmdm_path.h"

#include <gtest/gtest.h>

namespace {

TEST(NmdmPath, NamesBothPairsOfTheVmBySide) {
  VmConfig config;
  config.id = "403404";
  EXPECT_EQ(nmdm_console_path(config, "A"), "/dev/nmdm403404A");
  EXPECT_EQ(nmdm_console_path(config, "B"), "/dev/nmdm403404B");
  EXPECT_EQ(nmdm_cloudinit_path(config, "A"), "/dev/nmdm403404ciA");
  EXPECT_EQ(nmdm_cloudinit_path(config, "B"), "/dev/nmdm403404ciB");
}

}  // namespace
