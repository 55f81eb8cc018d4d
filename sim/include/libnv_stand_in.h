// The libnv stand-in's own further functions (sim/libnv), for stand-in
// programs that write lists (the hypervisor stand-in's checkpoint images) and
// the stand-in's tests. The controller uses only <libnv.h>; these are not part
// of its contract with the host. Including this header declares the C
// prototypes of both (it defines LIBNV_PROTOTYPES), so a unit that includes
// it must not also ask for libnvpair's prototypes.
#pragma once

#ifndef LIBNV_PROTOTYPES
#define LIBNV_PROTOTYPES
#endif
#include <libnv.h>

extern "C" {

// X(result, name, (parameters), (arguments)) for each further function.
#define LIBNV_STAND_IN_EXTRAS(X)                                                                 \
  X(libnv_nvlist_t*, nvlist_create, (int flags), (flags))                                       \
  X(int, nvlist_error, (const libnv_nvlist_t* nvl), (nvl))                                      \
  X(bool, nvlist_empty, (const libnv_nvlist_t* nvl), (nvl))                                     \
  X(bool, nvlist_exists, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))            \
  X(bool, nvlist_exists_bool, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))       \
  X(bool, nvlist_exists_binary, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))     \
  X(void, nvlist_add_bool, (libnv_nvlist_t * nvl, const char* name, bool value),                \
    (nvl, name, value))                                                                          \
  X(void, nvlist_add_number, (libnv_nvlist_t * nvl, const char* name, uint64_t value),          \
    (nvl, name, value))                                                                          \
  X(void, nvlist_add_string, (libnv_nvlist_t * nvl, const char* name, const char* value),       \
    (nvl, name, value))                                                                          \
  X(void, nvlist_add_nvlist, (libnv_nvlist_t * nvl, const char* name,                           \
                              const libnv_nvlist_t* value),                                      \
    (nvl, name, value))                                                                          \
  X(void, nvlist_add_binary, (libnv_nvlist_t * nvl, const char* name, const void* value,        \
                              size_t size),                                                      \
    (nvl, name, value, size))                                                                    \
  X(bool, nvlist_get_bool, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))          \
  X(const void*, nvlist_get_binary, (const libnv_nvlist_t* nvl, const char* name, size_t* sizep), \
    (nvl, name, sizep))                                                                          \
  X(void*, nvlist_pack, (const libnv_nvlist_t* nvl, size_t* sizep), (nvl, sizep))

#define LIBNV_STAND_IN_PROTOTYPE(result, name, params, args) result name params;
LIBNV_STAND_IN_EXTRAS(LIBNV_STAND_IN_PROTOTYPE)
#undef LIBNV_STAND_IN_PROTOTYPE

}  // extern "C"
