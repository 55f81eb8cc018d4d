/*
 * libnv: FreeBSD's name/value lists, as this system uses them (the packed
 * list in a checkpoint image's header).
 *
 * The controller's contract with the host's libnv (included as <libnv.h>;
 * used only where the host has no header of that name). The controller's
 * run-time binding (src/hostlib) is built on it and the stand-in library
 * (sim/libnv) implements it. As for libnvpair (see <libnvpair.h>), the
 * header gives a function-pointer type libnv_<name>_fn for every entry point
 * the controller resolves, from the list LIBNV_ENTRY_POINTS, because libnv
 * and libnvpair export functions of the same names. The list type is
 * libnv_nvlist_t here so that both headers can be included together. Code
 * that links the stand-in directly defines LIBNV_PROTOTYPES first and gets
 * the C prototypes (never together with LIBNVPAIR_PROTOTYPES).
 *
 * Behaviour: adding to a list never fails loudly; the first failure (a
 * duplicate name in a list without NV_FLAG_NO_UNIQUE, a null or empty name, a
 * null value, out of memory) is kept as the list's error (nvlist_error) and
 * later adds are ignored. The getters stop the process (abort, with a message
 * on standard error) when no member of that name and type exists, as the real
 * library does; callers that read outside input ask nvlist_exists_* first.
 * nvlist_unpack returns NULL for anything that is not a complete, well-formed
 * packed list; it never reads outside the given buffer.
 *
 * Packed format (all integers little-endian):
 *
 *   packed  = "ONV1" body                       the whole buffer, nothing after
 *   body    = flags:u8 count:u32 member*count
 *   member  = type:u8 namelen:u16 name datalen:u32 data
 *
 *   name     namelen bytes, 1 to 1024, no NUL byte
 *   type 1   bool:   datalen 1, data 0 or 1
 *   type 2   number: datalen 8, unsigned 64-bit
 *   type 3   string: datalen bytes of text, no NUL byte (none stored)
 *   type 4   nvlist: data is a body of exactly datalen bytes (nesting at
 *                    most 32 deep)
 *   type 5   binary: datalen bytes
 *
 * flags holds NV_FLAG_NO_UNIQUE or 0; a list without it must not repeat a
 * name. Members keep their order.
 */
#ifndef OMBRIX_HOSTAPI_LIBNV_H
#define OMBRIX_HOSTAPI_LIBNV_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct libnv_nvlist libnv_nvlist_t;

/* nvlist_create flag: names may repeat. */
#define NV_FLAG_NO_UNIQUE 0x2

/* X(result, name, (parameters), (arguments)) for every entry point that the
 * controller resolves. */
#define LIBNV_ENTRY_POINTS(X)                                                                    \
  X(libnv_nvlist_t*, nvlist_unpack, (const void* buf, size_t size, int flags), (buf, size, flags)) \
  X(const libnv_nvlist_t*, nvlist_get_nvlist, (const libnv_nvlist_t* nvl, const char* name),    \
    (nvl, name))                                                                                 \
  X(uint64_t, nvlist_get_number, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))    \
  X(const char*, nvlist_get_string, (const libnv_nvlist_t* nvl, const char* name), (nvl, name)) \
  X(bool, nvlist_exists_nvlist, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))     \
  X(bool, nvlist_exists_number, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))     \
  X(bool, nvlist_exists_string, (const libnv_nvlist_t* nvl, const char* name), (nvl, name))     \
  X(void, nvlist_destroy, (libnv_nvlist_t * nvl), (nvl))

#define LIBNV_FN_TYPEDEF(result, name, params, args) typedef result(*libnv_##name##_fn) params;
LIBNV_ENTRY_POINTS(LIBNV_FN_TYPEDEF)
#undef LIBNV_FN_TYPEDEF

#ifdef LIBNV_PROTOTYPES
#define LIBNV_PROTOTYPE(result, name, params, args) result name params;
LIBNV_ENTRY_POINTS(LIBNV_PROTOTYPE)
#undef LIBNV_PROTOTYPE
#endif

#ifdef __cplusplus
}
#endif

#endif /* OMBRIX_HOSTAPI_LIBNV_H */
