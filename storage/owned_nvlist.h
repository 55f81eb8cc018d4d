// An nvlist of libnvpair owned by the storage library: freed with
// nvlist_free when it goes.
#pragma once

#include <memory>

#include "hostlib/nvpair.h"

struct nvlist_freer {
  void operator()(nvlist_t* list) const { nvpair::nvlist_free(list); }
};
using owned_nvlist = std::unique_ptr<nvlist_t, nvlist_freer>;

// A new empty list with unique names; null when libnvpair cannot make one.
inline owned_nvlist make_nvlist() {
  nvlist_t* list = nullptr;
  if (nvpair::nvlist_alloc(&list, NV_UNIQUE_NAME, 0) != 0) return nullptr;
  return owned_nvlist(list);
}
