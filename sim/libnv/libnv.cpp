// The C entry points of the libnv stand-in.
#pragma GCC visibility push(default)
#include "sim/include/libnv_stand_in.h"
#pragma GCC visibility pop

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sim/libnv/nv_codec.h"
#include "sim/libnv/nv_list.h"

using nv_sim::NvMember;
using nv_sim::NvType;

namespace {

// Adds a member built by `fill`; a null name or an exhausted heap becomes the
// list's error.
template <class F>
void add(libnv_nvlist_t* nvl, const char* name, NvType type, F fill) {
  if (!nvl || nvl->error) return;
  if (!name) {
    nvl->error = EINVAL;
    return;
  }
  try {
    NvMember member;
    member.name = name;
    member.type = type;
    if (!fill(member)) {
      nvl->error = EINVAL;
      return;
    }
    nv_sim::add_member(nvl, std::move(member));
  } catch (const std::bad_alloc&) {
    nvl->error = ENOMEM;
  }
}

bool exists(const libnv_nvlist_t* nvl, const char* name, NvType type) {
  return nv_sim::find(nvl, name, type) != nullptr;
}

}  // namespace

extern "C" {

libnv_nvlist_t* nvlist_create(int flags) {
  if (flags & ~NV_FLAG_NO_UNIQUE) {
    errno = EINVAL;
    return nullptr;
  }
  auto* list = new (std::nothrow) libnv_nvlist;
  if (list) list->flags = flags;
  return list;
}

void nvlist_destroy(libnv_nvlist_t* nvl) { delete nvl; }

int nvlist_error(const libnv_nvlist_t* nvl) { return nvl ? nvl->error : ENOMEM; }

bool nvlist_empty(const libnv_nvlist_t* nvl) { return !nvl || nvl->members.empty(); }

bool nvlist_exists(const libnv_nvlist_t* nvl, const char* name) {
  if (!nvl || !name) return false;
  for (const NvMember& member : nvl->members)
    if (member.name == name) return true;
  return false;
}

bool nvlist_exists_bool(const libnv_nvlist_t* nvl, const char* name) {
  return exists(nvl, name, NvType::boolean);
}
bool nvlist_exists_number(const libnv_nvlist_t* nvl, const char* name) {
  return exists(nvl, name, NvType::number);
}
bool nvlist_exists_string(const libnv_nvlist_t* nvl, const char* name) {
  return exists(nvl, name, NvType::string);
}
bool nvlist_exists_nvlist(const libnv_nvlist_t* nvl, const char* name) {
  return exists(nvl, name, NvType::nvlist);
}
bool nvlist_exists_binary(const libnv_nvlist_t* nvl, const char* name) {
  return exists(nvl, name, NvType::binary);
}

void nvlist_add_bool(libnv_nvlist_t* nvl, const char* name, bool value) {
  add(nvl, name, NvType::boolean, [&](NvMember& m) {
    m.number = value ? 1 : 0;
    return true;
  });
}

void nvlist_add_number(libnv_nvlist_t* nvl, const char* name, uint64_t value) {
  add(nvl, name, NvType::number, [&](NvMember& m) {
    m.number = value;
    return true;
  });
}

void nvlist_add_string(libnv_nvlist_t* nvl, const char* name, const char* value) {
  add(nvl, name, NvType::string, [&](NvMember& m) {
    if (!value) return false;
    m.text = value;
    return true;
  });
}

void nvlist_add_nvlist(libnv_nvlist_t* nvl, const char* name, const libnv_nvlist_t* value) {
  add(nvl, name, NvType::nvlist, [&](NvMember& m) {
    if (!value || value == nvl || value->error) return false;
    m.list = nv_sim::copy_list(*value);
    return true;
  });
}

void nvlist_add_binary(libnv_nvlist_t* nvl, const char* name, const void* value, size_t size) {
  add(nvl, name, NvType::binary, [&](NvMember& m) {
    if (!value && size > 0) return false;
    auto* bytes = static_cast<const unsigned char*>(value);
    m.bytes.assign(bytes, bytes + size);
    return true;
  });
}

bool nvlist_get_bool(const libnv_nvlist_t* nvl, const char* name) {
  return nv_sim::get_or_abort(nvl, name, NvType::boolean).number != 0;
}

uint64_t nvlist_get_number(const libnv_nvlist_t* nvl, const char* name) {
  return nv_sim::get_or_abort(nvl, name, NvType::number).number;
}

const char* nvlist_get_string(const libnv_nvlist_t* nvl, const char* name) {
  return nv_sim::get_or_abort(nvl, name, NvType::string).text.c_str();
}

const libnv_nvlist_t* nvlist_get_nvlist(const libnv_nvlist_t* nvl, const char* name) {
  return nv_sim::get_or_abort(nvl, name, NvType::nvlist).list.get();
}

const void* nvlist_get_binary(const libnv_nvlist_t* nvl, const char* name, size_t* sizep) {
  const NvMember& member = nv_sim::get_or_abort(nvl, name, NvType::binary);
  if (sizep) *sizep = member.bytes.size();
  return member.bytes.data();
}

void* nvlist_pack(const libnv_nvlist_t* nvl, size_t* sizep) {
  if (!nvl || nvl->error) {
    errno = nvl ? nvl->error : EINVAL;
    return nullptr;
  }
  try {
    std::vector<uint8_t> packed = nv_sim::pack(*nvl);
    void* buffer = std::malloc(packed.size());
    if (!buffer) {
      errno = ENOMEM;
      return nullptr;
    }
    std::memcpy(buffer, packed.data(), packed.size());
    if (sizep) *sizep = packed.size();
    return buffer;
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

libnv_nvlist_t* nvlist_unpack(const void* buf, size_t size, int flags) {
  try {
    auto list = nv_sim::unpack(static_cast<const uint8_t*>(buf), size, flags);
    if (!list) errno = EINVAL;
    return list.release();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return nullptr;
  }
}

}  // extern "C"
