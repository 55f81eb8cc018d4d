#include "platform/data_object.h"

#include <dlfcn.h>

#include <cstdio>

#include <gtest/gtest.h>

namespace {

// The C library's exported stdout: one pointer.
TEST(DataObject, SizeOfAnExportedObject) {
  void* libc = ::dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(libc, nullptr);
  const char* object = static_cast<const char*>(::dlsym(libc, "stdout"));
  ::dlclose(libc);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(platform::data_object_size(object), sizeof(FILE*));
  EXPECT_EQ(platform::data_object_size(object + 1), 0u);
  EXPECT_EQ(platform::data_object_size(nullptr), 0u);
}

}  // namespace
