#include "hostlib/libzfs_api.h"

#include "hostlib/host_library_paths.h"

libzfs_api::libzfs_api(const std::string& path) : library_("libzfs", path) {
#define LIBZFS_API_RESOLVE(result, name, params, args) library_.resolve(name, #name);
  LIBZFS_ENTRY_POINTS(LIBZFS_API_RESOLVE)
#undef LIBZFS_API_RESOLVE
#define LIBZFS_API_RESOLVE_OBJECT(type, name) library_.resolve_object(name, #name);
  LIBZFS_DATA_OBJECTS(LIBZFS_API_RESOLVE_OBJECT)
#undef LIBZFS_API_RESOLVE_OBJECT
}

const libzfs_api& libzfs_api::instance() { return load_once<libzfs_api>(hostlib::libzfs_path); }
