// The C entry points of the libnvpair stand-in.
#pragma GCC visibility push(default)
#include "sim/include/libnvpair_stand_in.h"
#pragma GCC visibility pop

#include <cerrno>
#include <new>

#include "sim/libnvpair/nvlist_model.h"

using nvpair_sim::add_pair;
using nvpair_sim::find;

namespace {

// Runs `add`, turning an exhausted heap into ENOMEM.
template <class F>
int guarded(F add) {
  try {
    return add();
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

std::unique_ptr<libnvpair_nvpair> make_pair(const char* name, data_type_t type) {
  auto pair = std::make_unique<libnvpair_nvpair>();
  pair->name = name;
  pair->type = type;
  return pair;
}

int add_number(nvlist_t* nvl, const char* name, data_type_t type, uint64_t value) {
  if (!nvl || !name) return EINVAL;
  return guarded([&] {
    auto pair = make_pair(name, type);
    pair->number = value;
    return add_pair(nvl, std::move(pair));
  });
}

template <class T>
int lookup_number(const nvlist_t* nvl, const char* name, data_type_t type, T* val) {
  if (!nvl || !name) return EINVAL;
  const libnvpair_nvpair* pair = find(nvl, name, type);
  if (!pair) return ENOENT;
  if (val) *val = static_cast<T>(pair->number);
  return 0;
}

}  // namespace

extern "C" {

int nvlist_alloc(nvlist_t** nvlp, uint_t nvflag, int kmflag) {
  if (!nvlp || (nvflag & ~static_cast<uint_t>(NV_UNIQUE_NAME))) return EINVAL;
  return guarded([&] {
    auto list = std::make_unique<libnvpair_nvlist>();
    list->flags = nvflag;
    *nvlp = list.release();
    return 0;
  });
}

void nvlist_free(nvlist_t* nvl) { delete nvl; }

boolean_t nvlist_empty(const nvlist_t* nvl) { return !nvl || nvl->pairs.empty() ? B_TRUE : B_FALSE; }

int nvlist_merge(nvlist_t* dst, nvlist_t* nvl, int flag) {
  if (!dst || !nvl) return EINVAL;
  if (dst == nvl) return 0;
  return guarded([&] {
    // Copy first, so that running out of memory leaves `dst` as it was.
    std::vector<std::unique_ptr<libnvpair_nvpair>> copies;
    for (const auto& pair : nvl->pairs) copies.push_back(nvpair_sim::copy_pair(*pair));
    for (auto& copy : copies) add_pair(dst, std::move(copy));
    return 0;
  });
}

int nvlist_add_uint64(nvlist_t* nvl, const char* name, uint64_t val) {
  return add_number(nvl, name, DATA_TYPE_UINT64, val);
}

int nvlist_add_uint32(nvlist_t* nvl, const char* name, uint32_t val) {
  return add_number(nvl, name, DATA_TYPE_UINT32, val);
}

int nvlist_add_string(nvlist_t* nvl, const char* name, const char* val) {
  if (!nvl || !name || !val) return EINVAL;
  return guarded([&] {
    auto pair = make_pair(name, DATA_TYPE_STRING);
    pair->text = val;
    return add_pair(nvl, std::move(pair));
  });
}

int nvlist_add_nvlist_array(nvlist_t* nvl, const char* name, nvlist_t* const* val, uint_t nelem) {
  if (!nvl || !name || (nelem > 0 && !val)) return EINVAL;
  for (uint_t i = 0; i < nelem; ++i)
    if (!val[i]) return EINVAL;
  return guarded([&] {
    auto pair = make_pair(name, DATA_TYPE_NVLIST_ARRAY);
    for (uint_t i = 0; i < nelem; ++i) {
      pair->lists.push_back(nvpair_sim::copy_list(*val[i]));
      pair->list_view.push_back(pair->lists.back().get());
    }
    return add_pair(nvl, std::move(pair));
  });
}

int nvlist_add_boolean(nvlist_t* nvl, const char* name) {
  if (!nvl || !name) return EINVAL;
  return guarded([&] { return add_pair(nvl, make_pair(name, DATA_TYPE_BOOLEAN)); });
}

void fnvlist_add_boolean(nvlist_t* nvl, const char* name) {
  if (int error = nvlist_add_boolean(nvl, name)) nvpair_sim::fail("fnvlist_add_boolean", name, error);
}

int nvlist_add_nvlist(nvlist_t* nvl, const char* name, const nvlist_t* val) {
  if (!nvl || !name || !val || val == nvl) return EINVAL;
  return guarded([&] {
    auto pair = make_pair(name, DATA_TYPE_NVLIST);
    pair->list = nvpair_sim::copy_list(*val);
    return add_pair(nvl, std::move(pair));
  });
}

int nvlist_add_uint64_array(nvlist_t* nvl, const char* name, const uint64_t* val, uint_t nelem) {
  if (!nvl || !name || (nelem > 0 && !val)) return EINVAL;
  return guarded([&] {
    auto pair = make_pair(name, DATA_TYPE_UINT64_ARRAY);
    pair->numbers.assign(val, val + nelem);
    return add_pair(nvl, std::move(pair));
  });
}

int nvlist_lookup_uint64(const nvlist_t* nvl, const char* name, uint64_t* val) {
  return lookup_number(nvl, name, DATA_TYPE_UINT64, val);
}

int nvlist_lookup_uint32(const nvlist_t* nvl, const char* name, uint32_t* val) {
  return lookup_number(nvl, name, DATA_TYPE_UINT32, val);
}

int nvlist_lookup_string(const nvlist_t* nvl, const char* name, const char** val) {
  if (!nvl || !name) return EINVAL;
  const libnvpair_nvpair* pair = find(nvl, name, DATA_TYPE_STRING);
  if (!pair) return ENOENT;
  if (val) *val = pair->text.c_str();
  return 0;
}

int nvlist_lookup_nvlist(nvlist_t* nvl, const char* name, nvlist_t** val) {
  if (!nvl || !name) return EINVAL;
  const libnvpair_nvpair* pair = find(nvl, name, DATA_TYPE_NVLIST);
  if (!pair) return ENOENT;
  if (val) *val = pair->list.get();
  return 0;
}

int nvlist_lookup_nvlist_array(nvlist_t* nvl, const char* name, nvlist_t*** val, uint_t* nelem) {
  if (!nvl || !name) return EINVAL;
  auto* pair = const_cast<libnvpair_nvpair*>(find(nvl, name, DATA_TYPE_NVLIST_ARRAY));
  if (!pair) return ENOENT;
  if (val) *val = pair->list_view.empty() ? nullptr : pair->list_view.data();
  if (nelem) *nelem = static_cast<uint_t>(pair->list_view.size());
  return 0;
}

int nvlist_lookup_uint64_array(nvlist_t* nvl, const char* name, uint64_t** val, uint_t* nelem) {
  if (!nvl || !name) return EINVAL;
  auto* pair = const_cast<libnvpair_nvpair*>(find(nvl, name, DATA_TYPE_UINT64_ARRAY));
  if (!pair) return ENOENT;
  if (val) *val = pair->numbers.empty() ? nullptr : pair->numbers.data();
  if (nelem) *nelem = static_cast<uint_t>(pair->numbers.size());
  return 0;
}

nvlist_t* fnvlist_lookup_nvlist(nvlist_t* nvl, const char* name) {
  nvlist_t* value = nullptr;
  if (int error = nvlist_lookup_nvlist(nvl, name, &value))
    nvpair_sim::fail("fnvlist_lookup_nvlist", name, error);
  return value;
}

uint64_t fnvlist_lookup_uint64(const nvlist_t* nvl, const char* name) {
  uint64_t value = 0;
  if (int error = nvlist_lookup_uint64(nvl, name, &value))
    nvpair_sim::fail("fnvlist_lookup_uint64", name, error);
  return value;
}

boolean_t nvlist_exists(const nvlist_t* nvl, const char* name) {
  if (!nvl || !name) return B_FALSE;
  for (const auto& pair : nvl->pairs)
    if (pair->name == name) return B_TRUE;
  return B_FALSE;
}

int nvlist_dup(const nvlist_t* nvl, nvlist_t** nvlp, int kmflag) {
  if (!nvl || !nvlp) return EINVAL;
  return guarded([&] {
    *nvlp = nvpair_sim::copy_list(*nvl).release();
    return 0;
  });
}

nvpair_t* nvlist_next_nvpair(nvlist_t* nvl, const nvpair_t* nvp) {
  if (!nvl) return nullptr;
  if (!nvp) return nvl->pairs.empty() ? nullptr : nvl->pairs.front().get();
  for (size_t i = 0; i < nvl->pairs.size(); ++i)
    if (nvl->pairs[i].get() == nvp)
      return i + 1 < nvl->pairs.size() ? nvl->pairs[i + 1].get() : nullptr;
  return nullptr;
}

const char* nvpair_name(const nvpair_t* nvp) { return nvp ? nvp->name.c_str() : nullptr; }

data_type_t nvpair_type(const nvpair_t* nvp) { return nvp ? nvp->type : DATA_TYPE_UNKNOWN; }

int nvpair_value_nvlist(nvpair_t* nvp, nvlist_t** val) {
  if (!nvp || !val || nvp->type != DATA_TYPE_NVLIST) return EINVAL;
  *val = nvp->list.get();
  return 0;
}

int nvpair_value_uint64(const nvpair_t* nvp, uint64_t* val) {
  if (!nvp || !val || nvp->type != DATA_TYPE_UINT64) return EINVAL;
  *val = nvp->number;
  return 0;
}

int nvpair_value_uint32(const nvpair_t* nvp, uint32_t* val) {
  if (!nvp || !val || nvp->type != DATA_TYPE_UINT32) return EINVAL;
  *val = static_cast<uint32_t>(nvp->number);
  return 0;
}

int nvpair_value_string(const nvpair_t* nvp, const char** val) {
  if (!nvp || !val || nvp->type != DATA_TYPE_STRING) return EINVAL;
  *val = nvp->text.c_str();
  return 0;
}

}  // extern "C"
