// Where the host keeps the libraries that the bindings open at run time (real
// host paths; SharedLibrary maps them under the host root).
#pragma once

namespace hostlib {

inline constexpr const char* libzfs_path = "/lib/libzfs.so.4";
inline constexpr const char* libnvpair_path = "/lib/libnvpair.so.3";
inline constexpr const char* libnv_path = "/lib/libnv.so.1";

}  // namespace hostlib
