// Test support: a temporary host root whose library paths are links to the
// built stand-in libraries (SIM_LIBZFS, SIM_LIBNVPAIR, SIM_LIBNV: their paths,
// defined by the test program's CMakeLists.txt).
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "hostlib/host_library_paths.h"
#include "tests/support/temp_root.h"

namespace test_support {

// (real path under the root, file the link there points to)
using Links = std::vector<std::pair<std::string, std::string>>;

#if defined(SIM_LIBZFS) && defined(SIM_LIBNVPAIR)
// The libzfs and libnvpair stand-ins where the bindings look for them.
inline Links zfs_stand_in_links() {
  return {{hostlib::libzfs_path, SIM_LIBZFS}, {hostlib::libnvpair_path, SIM_LIBNVPAIR}};
}
#endif

#if defined(SIM_LIBZFS) && defined(SIM_LIBNVPAIR) && defined(SIM_LIBNV)
// The three stand-ins where the bindings look for them.
inline Links stand_in_links() {
  Links links = zfs_stand_in_links();
  links.emplace_back(hostlib::libnv_path, SIM_LIBNV);
  return links;
}
#endif

// A TempRoot (the process's host root) holding `links`.
class StandInRoot : public TempRoot {
 public:
  explicit StandInRoot(const Links& links) {
    for (const auto& [where, target] : links) {
      std::filesystem::path link = path(where);
      std::filesystem::create_directories(link.parent_path());
      std::filesystem::create_symlink(target, link);
    }
  }
};

}  // namespace test_support
