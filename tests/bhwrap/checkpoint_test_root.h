// A host root for one test: OMBRIX_ROOT names a fresh directory while the
// object lives; the images and the kernel settings of the test live in it.
#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "checkpoint_test_image.h"
#include "platform/host_root.h"
#include "platform/sysctl.h"

namespace checkpoint_test {

class TestRoot {
 public:
  TestRoot() {
    setenv("OMBRIX_ROOT", dir_.path().c_str(), 1);
    platform::reload_host_root_for_tests();
  }
  ~TestRoot() {
    unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
  }
  TestRoot(const TestRoot&) = delete;
  TestRoot& operator=(const TestRoot&) = delete;

  std::string file(const std::string& name) const { return dir_.file(name); }

  // The kernel's memory-table layout setting ("" for none written).
  void set_memory_format(const std::string& value) {
    std::string error;
    if (!platform::sysctl_set("hw.vmm.features.snapshot_memory_format", value, &error))
      ADD_FAILURE() << error;
  }
  // Writes a value the kernel setting cannot be read as.
  void break_memory_format() {
    set_memory_format("1");
    write_file(dir_.file("var/run/vmm/features.snapshot_memory_format"), Bytes{'x', '\n'});
  }

 private:
  TempDir dir_;
};

}  // namespace checkpoint_test
