#include "hostlib/libzfs.h"

#include "hostlib/libzfs_api.h"
#include "hostlib/missing_result.h"
#include "platform/data_object.h"

// Without the library every feature counts as supported, so that nothing is
// reported as unsupported by mistake.
template <>
struct hostlib::on_missing<&libzfs_api::zfeature_is_supported> {
  template <class R>
  static R value() {
    return B_TRUE;
  }
};

namespace libzfs {

#define LIBZFS_FORWARD(result, name, params, args)                       \
  result name params {                                                   \
    if (auto fn = libzfs_api::instance().name) return fn args;           \
    return hostlib::on_missing<&libzfs_api::name>::value<result>();      \
  }
LIBZFS_ENTRY_POINTS(LIBZFS_FORWARD)
#undef LIBZFS_FORWARD

const zfeature_info_t* spa_feature_table() { return libzfs_api::instance().spa_feature_table; }

size_t spa_feature_table_entries(size_t limit) {
  const zfeature_info_t* table = spa_feature_table();
  if (!table) return 0;
  size_t bytes = platform::data_object_size(table);
  size_t entries = bytes ? bytes / sizeof(zfeature_info_t) : SPA_FEATURES;
  return entries < limit ? entries : limit;
}

const pool_config_ops_t* libzfs_config_ops() { return libzfs_api::instance().libzfs_config_ops; }

}  // namespace libzfs
