#include "hostlib/libnv_api.h"

#include "hostlib/host_library_paths.h"

libnv_api::libnv_api(const std::string& path) : library_("libnv", path) {
#define LIBNV_API_RESOLVE(result, name, params, args) library_.resolve(name, #name);
  LIBNV_ENTRY_POINTS(LIBNV_API_RESOLVE)
#undef LIBNV_API_RESOLVE
}

const libnv_api& libnv_api::instance() { return load_once<libnv_api>(hostlib::libnv_path); }
