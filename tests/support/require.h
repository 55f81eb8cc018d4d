// Test support: a check inside a test helper that ends the whole test at once
// when it fails. GoogleTest's ASSERT_* only leave the helper itself, after
// which the test would walk on (and wait out every later time-out); this
// records the failure at the caller's line and throws, which GoogleTest
// reports and which unwinds through the fixtures' clean-up.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace test_support {

struct HelperCheckFailed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

inline void require(bool ok, const std::string& what,
                    std::source_location where = std::source_location::current()) {
  if (ok) return;
  ADD_FAILURE_AT(where.file_name(), static_cast<int>(where.line())) << what;
  throw HelperCheckFailed(what);
}

}  // namespace test_support
