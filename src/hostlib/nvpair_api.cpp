#include "hostlib/nvpair_api.h"

#include "hostlib/host_library_paths.h"

nvpair_api::nvpair_api(const std::string& path) : library_("libnvpair", path) {
#define NVPAIR_API_RESOLVE(result, name, params, args) library_.resolve(name, #name);
  LIBNVPAIR_ENTRY_POINTS(NVPAIR_API_RESOLVE)
#undef NVPAIR_API_RESOLVE
}

const nvpair_api& nvpair_api::instance() { return load_once<nvpair_api>(hostlib::libnvpair_path); }
