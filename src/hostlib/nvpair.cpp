#include "hostlib/nvpair.h"

#include "hostlib/missing_result.h"
#include "hostlib/nvpair_api.h"

namespace nvpair {

#define NVPAIR_FORWARD(result, name, params, args)                  \
  result name params {                                              \
    if (auto fn = nvpair_api::instance().name) return fn args;      \
    return hostlib::on_missing<&nvpair_api::name>::value<result>(); \
  }
LIBNVPAIR_ENTRY_POINTS(NVPAIR_FORWARD)
#undef NVPAIR_FORWARD

}  // namespace nvpair
