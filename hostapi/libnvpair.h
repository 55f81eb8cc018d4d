/*
 * libnvpair: the name/value lists of OpenZFS, as this system uses them.
 *
 * The controller's contract with the host's libnvpair (included as
 * <libnvpair.h>; used only where the host has no header of that name). The
 * controller's run-time binding (src/hostlib) is built on it and the stand-in
 * library (sim/libnvpair) implements it. The controller never links the
 * library: it opens it at run time and resolves each entry point by name, so
 * this header gives, for every entry point, a function-pointer type
 * libnvpair_<name>_fn built from one list, LIBNVPAIR_ENTRY_POINTS.
 *
 * Why no prototypes by default: FreeBSD's libnv (<libnv.h>) exports
 * functions of the same names (nvlist_add_string, nvlist_exists, ...) with
 * other signatures. The two libraries are opened separately and resolved per
 * library, so the clash is harmless at run time, but one translation unit
 * could not declare both sets. Code that links the library directly (the
 * stand-ins) defines LIBNVPAIR_PROTOTYPES before including this header and
 * gets the C prototypes of the entry points; such a unit must not also ask
 * for libnv's prototypes.
 *
 * Results: the add and lookup calls return 0 or an errno value: 12 (ENOMEM)
 * when memory runs out, 22 (EINVAL) for a null list, a null or empty name or
 * a null value, 2 (ENOENT) when a lookup finds no member of that name and
 * type. Values handed out by lookups stay owned by the list; added values and
 * arrays are copied. The "f" forms stop the process (abort) when the call
 * fails or the member is missing.
 */
#ifndef OMBRIX_HOSTAPI_LIBNVPAIR_H
#define OMBRIX_HOSTAPI_LIBNVPAIR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifndef OMBRIX_BOOLEAN_T_DEFINED
#define OMBRIX_BOOLEAN_T_DEFINED
typedef int boolean_t;
#define B_FALSE 0
#define B_TRUE 1
#endif
typedef unsigned int uint_t;

typedef struct libnvpair_nvlist nvlist_t;
typedef struct libnvpair_nvpair nvpair_t; /* tag apart from the namespace nvpair */

/* nvlist_alloc flag: a later add of an existing name replaces its member. */
#define NV_UNIQUE_NAME 0x1

/* Member types (nvpair_type). */
typedef enum {
  DATA_TYPE_UNKNOWN = 0,
  DATA_TYPE_BOOLEAN = 1, /* a name without a value */
  DATA_TYPE_UINT32 = 2,
  DATA_TYPE_UINT64 = 3,
  DATA_TYPE_STRING = 4,
  DATA_TYPE_NVLIST = 5,
  DATA_TYPE_NVLIST_ARRAY = 6,
  DATA_TYPE_UINT64_ARRAY = 7
} data_type_t;

/* X(result, name, (parameters), (arguments)) for every entry point that the
 * controller resolves. */
#define LIBNVPAIR_ENTRY_POINTS(X)                                                               \
  X(int, nvlist_alloc, (nvlist_t * *nvlp, uint_t nvflag, int kmflag), (nvlp, nvflag, kmflag))   \
  X(void, nvlist_free, (nvlist_t * nvl), (nvl))                                                 \
  X(boolean_t, nvlist_empty, (const nvlist_t* nvl), (nvl))                                      \
  X(int, nvlist_merge, (nvlist_t * dst, nvlist_t * nvl, int flag), (dst, nvl, flag))            \
  X(int, nvlist_add_uint64, (nvlist_t * nvl, const char* name, uint64_t val), (nvl, name, val)) \
  X(int, nvlist_add_uint32, (nvlist_t * nvl, const char* name, uint32_t val), (nvl, name, val)) \
  X(int, nvlist_add_string, (nvlist_t * nvl, const char* name, const char* val),                \
    (nvl, name, val))                                                                           \
  X(int, nvlist_add_nvlist_array,                                                               \
    (nvlist_t * nvl, const char* name, nvlist_t* const* val, uint_t nelem),                     \
    (nvl, name, val, nelem))                                                                    \
  X(void, fnvlist_add_boolean, (nvlist_t * nvl, const char* name), (nvl, name))                 \
  X(int, nvlist_lookup_uint64, (const nvlist_t* nvl, const char* name, uint64_t* val),          \
    (nvl, name, val))                                                                           \
  X(int, nvlist_lookup_string, (const nvlist_t* nvl, const char* name, const char** val),       \
    (nvl, name, val))                                                                           \
  X(int, nvlist_lookup_nvlist, (nvlist_t * nvl, const char* name, nvlist_t** val),              \
    (nvl, name, val))                                                                           \
  X(int, nvlist_lookup_nvlist_array,                                                            \
    (nvlist_t * nvl, const char* name, nvlist_t*** val, uint_t* nelem), (nvl, name, val, nelem)) \
  X(int, nvlist_lookup_uint64_array,                                                            \
    (nvlist_t * nvl, const char* name, uint64_t** val, uint_t* nelem), (nvl, name, val, nelem))  \
  X(nvlist_t*, fnvlist_lookup_nvlist, (nvlist_t * nvl, const char* name), (nvl, name))          \
  X(uint64_t, fnvlist_lookup_uint64, (const nvlist_t* nvl, const char* name), (nvl, name))      \
  X(nvpair_t*, nvlist_next_nvpair, (nvlist_t * nvl, const nvpair_t* nvp), (nvl, nvp))           \
  X(const char*, nvpair_name, (const nvpair_t* nvp), (nvp))                                     \
  X(int, nvpair_value_nvlist, (nvpair_t * nvp, nvlist_t** val), (nvp, val))

#define LIBNVPAIR_FN_TYPEDEF(result, name, params, args) typedef result(*libnvpair_##name##_fn) params;
LIBNVPAIR_ENTRY_POINTS(LIBNVPAIR_FN_TYPEDEF)
#undef LIBNVPAIR_FN_TYPEDEF

#ifdef LIBNVPAIR_PROTOTYPES
#define LIBNVPAIR_PROTOTYPE(result, name, params, args) result name params;
LIBNVPAIR_ENTRY_POINTS(LIBNVPAIR_PROTOTYPE)
#undef LIBNVPAIR_PROTOTYPE
#endif

#ifdef __cplusplus
}
#endif

#endif /* OMBRIX_HOSTAPI_LIBNVPAIR_H */
