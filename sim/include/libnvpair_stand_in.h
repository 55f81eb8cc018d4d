// The libnvpair stand-in's own further functions (sim/libnvpair), for the
// libzfs stand-in, stand-in programs that link it and the stand-in's tests.
// The controller uses only <libnvpair.h>; these are not part of its contract
// with the host. Including this header declares the C prototypes of both (it
// defines LIBNVPAIR_PROTOTYPES), so a unit that includes it must not also ask
// for libnv's prototypes.
#pragma once

#ifndef LIBNVPAIR_PROTOTYPES
#define LIBNVPAIR_PROTOTYPES
#endif
#include <libnvpair.h>

extern "C" {

// X(result, name, (parameters), (arguments)) for each further function.
#define LIBNVPAIR_STAND_IN_EXTRAS(X)                                                             \
  X(int, nvlist_add_boolean, (nvlist_t * nvl, const char* name), (nvl, name))                   \
  X(int, nvlist_add_nvlist, (nvlist_t * nvl, const char* name, const nvlist_t* val),            \
    (nvl, name, val))                                                                            \
  X(int, nvlist_add_uint64_array,                                                                \
    (nvlist_t * nvl, const char* name, const uint64_t* val, uint_t nelem), (nvl, name, val, nelem)) \
  X(int, nvlist_lookup_uint32, (const nvlist_t* nvl, const char* name, uint32_t* val),           \
    (nvl, name, val))                                                                            \
  X(boolean_t, nvlist_exists, (const nvlist_t* nvl, const char* name), (nvl, name))             \
  X(int, nvlist_dup, (const nvlist_t* nvl, nvlist_t** nvlp, int kmflag), (nvl, nvlp, kmflag))   \
  X(data_type_t, nvpair_type, (const nvpair_t* nvp), (nvp))                                     \
  X(int, nvpair_value_uint64, (const nvpair_t* nvp, uint64_t* val), (nvp, val))                 \
  X(int, nvpair_value_uint32, (const nvpair_t* nvp, uint32_t* val), (nvp, val))                 \
  X(int, nvpair_value_string, (const nvpair_t* nvp, const char** val), (nvp, val))

#define LIBNVPAIR_STAND_IN_PROTOTYPE(result, name, params, args) result name params;
LIBNVPAIR_STAND_IN_EXTRAS(LIBNVPAIR_STAND_IN_PROTOTYPE)
#undef LIBNVPAIR_STAND_IN_PROTOTYPE

}  // extern "C"
