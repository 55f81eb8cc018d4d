#include "hostlib/libnv.h"

#include "hostlib/libnv_api.h"
#include "hostlib/missing_result.h"

template <>
struct hostlib::on_missing<&libnv_api::nvlist_get_number> {
  template <class R>
  static R value() {
    return 0;
  }
};

namespace libnv {

#define LIBNV_FORWARD(result, name, params, args)                  \
  result name params {                                             \
    if (auto fn = libnv_api::instance().name) return fn args;      \
    return hostlib::on_missing<&libnv_api::name>::value<result>(); \
  }
LIBNV_ENTRY_POINTS(LIBNV_FORWARD)
#undef LIBNV_FORWARD

}  // namespace libnv
