/*
 * libzfs: the OpenZFS management library, as this system uses it.
 *
 * The controller's contract with the host's libzfs (included as <libzfs.h>;
 * used only where the host has no header of that name). The controller's
 * run-time binding (src/hostlib) and the storage library are built on it and
 * the stand-in library (sim/libzfs) implements it. As for libnvpair (see
 * <libnvpair.h>), the
 * header gives a function-pointer type libzfs_<name>_fn for every entry point
 * the controller resolves, from the list LIBZFS_ENTRY_POINTS, and the types
 * of the data objects it resolves from LIBZFS_DATA_OBJECTS; code that links
 * the library directly defines LIBZFS_PROTOTYPES (which implies
 * LIBNVPAIR_PROTOTYPES) before including it.
 *
 * Conventions: 0 means success for int results; on failure the reason is
 * kept in the libzfs handle (libzfs_errno, 2000 and up, and
 * libzfs_error_description) and, while printing is on
 * (libzfs_print_on_error), written to standard error. Handles returned by
 * zfs_open, zpool_open and the iterators are owned by the caller, who closes
 * them; texts and lists returned by accessors stay owned by the handle.
 */
#ifndef OMBRIX_HOSTAPI_LIBZFS_H
#define OMBRIX_HOSTAPI_LIBZFS_H

#if defined(LIBZFS_PROTOTYPES) && !defined(LIBNVPAIR_PROTOTYPES)
#define LIBNVPAIR_PROTOTYPES
#endif
#include <libnvpair.h>

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct libzfs_handle libzfs_handle_t;
typedef struct zfs_handle zfs_handle_t;
typedef struct zpool_handle zpool_handle_t;

/* Dataset types; masks are sums of them. */
typedef enum {
  ZFS_TYPE_FILESYSTEM = 1,
  ZFS_TYPE_SNAPSHOT = 2,
  ZFS_TYPE_VOLUME = 4,
  ZFS_TYPE_POOL = 8,
  ZFS_TYPE_BOOKMARK = 16
} zfs_type_t;
#define ZFS_TYPE_DATASET (ZFS_TYPE_FILESYSTEM | ZFS_TYPE_SNAPSHOT | ZFS_TYPE_VOLUME)

/* Where a property value comes from. */
typedef enum {
  ZPROP_SRC_NONE = 1,
  ZPROP_SRC_DEFAULT = 2,
  ZPROP_SRC_TEMPORARY = 4,
  ZPROP_SRC_LOCAL = 8,
  ZPROP_SRC_INHERITED = 16,
  ZPROP_SRC_RECEIVED = 32
} zprop_source_t;

/* Property ids: results of the name lookups and zprop_iter callback
 * answers. */
#define ZPROP_INVAL (-1)
#define ZPROP_CONT (-2)

/* Dataset property ids (0 to ZFS_NUM_PROPS - 1; an id without a property
 * in this table has no name). */
typedef enum {
  ZFS_PROP_INVAL = ZPROP_INVAL, /* the lookups' "no such property" */
  ZFS_PROP_TYPE = 0,
  ZFS_PROP_CREATION = 1,
  ZFS_PROP_USED = 2,
  ZFS_PROP_AVAILABLE = 3,
  ZFS_PROP_REFERENCED = 4,
  ZFS_PROP_COMPRESSRATIO = 5,
  ZFS_PROP_MOUNTED = 6,
  ZFS_PROP_ORIGIN = 7,
  ZFS_PROP_QUOTA = 8,
  ZFS_PROP_RESERVATION = 9,
  ZFS_PROP_VOLSIZE = 10,
  ZFS_PROP_VOLBLOCKSIZE = 11,
  ZFS_PROP_RECORDSIZE = 12,
  ZFS_PROP_MOUNTPOINT = 13,
  ZFS_PROP_SHARENFS = 14,
  ZFS_PROP_CHECKSUM = 15,
  ZFS_PROP_COMPRESSION = 16,
  ZFS_PROP_ATIME = 17,
  ZFS_PROP_DEVICES = 18,
  ZFS_PROP_EXEC = 19,
  ZFS_PROP_SETUID = 20,
  ZFS_PROP_READONLY = 21,
  ZFS_PROP_JAILED = 22,
  ZFS_PROP_SNAPDIR = 23,
  ZFS_PROP_ACLMODE = 24,
  ZFS_PROP_ACLINHERIT = 25,
  ZFS_PROP_CREATETXG = 26,
  ZFS_PROP_NAME = 27,
  ZFS_PROP_CANMOUNT = 28,
  ZFS_PROP_XATTR = 29,
  ZFS_PROP_COPIES = 30,
  ZFS_PROP_VERSION = 31,
  ZFS_PROP_UTF8ONLY = 32,
  ZFS_PROP_NORMALIZE = 33,
  ZFS_PROP_CASE = 34,
  ZFS_PROP_SHARESMB = 35,
  ZFS_PROP_REFQUOTA = 36,
  ZFS_PROP_PRIMARYCACHE = 37,
  ZFS_PROP_SECONDARYCACHE = 38,
  ZFS_PROP_USEDSNAP = 39,
  ZFS_PROP_USEDDS = 40,
  ZFS_PROP_REFRESERVATION = 41,
  ZFS_PROP_GUID = 42,
  ZFS_PROP_USEDCHILD = 43,
  ZFS_PROP_USEDREFRESERV = 44,
  ZFS_PROP_LOGBIAS = 45,
  ZFS_PROP_DEDUP = 46,
  ZFS_PROP_WRITTEN = 47,
  ZFS_PROP_LOGICALUSED = 48,
  ZFS_PROP_LOGICALREFERENCED = 49,
  ZFS_PROP_DEFER_DESTROY = 50,
  ZFS_PROP_USERREFS = 51,
  ZFS_PROP_OBJSETID = 52,
  ZFS_PROP_REFRATIO = 53,
  ZFS_PROP_SNAPDEV = 54,
  ZFS_PROP_FILESYSTEM_LIMIT = 55,
  ZFS_PROP_SNAPSHOT_LIMIT = 56,
  ZFS_PROP_FILESYSTEM_COUNT = 57,
  ZFS_PROP_SYNC = 58,
  ZFS_PROP_SNAPSHOT_COUNT = 59,
  ZFS_PROP_REDUNDANT_METADATA = 60,
  ZFS_PROP_DNODESIZE = 61,
  ZFS_PROP_CLONES = 62,
  ZFS_PROP_ENCRYPTION = 63,
  ZFS_PROP_KEYFORMAT = 64,
  ZFS_PROP_INCONSISTENT = 65,
  ZFS_PROP_VOLMODE = 66,
  ZFS_PROP_KEYLOCATION = 67,
  ZFS_PROP_NUMCLONES = 68,
  ZFS_PROP_RELATIME = 69,
  ZFS_PROP_SPECIAL_SMALL_BLOCKS = 70,
  ZFS_PROP_RECEIVE_RESUME_TOKEN = 71,
  ZFS_PROP_ENCRYPTION_ROOT = 72,
  ZFS_PROP_KEYSTATUS = 73,
  ZFS_PROP_VSCAN = 74,
  ZFS_PROP_NBMAND = 75,
  ZFS_PROP_MLSLABEL = 76,
  ZFS_PROP_ACLTYPE = 77,
  ZFS_PROP_OVERLAY = 78,
  ZFS_PROP_PBKDF2_ITERS = 79,
  ZFS_PROP_REDACTED = 80,
  ZFS_PROP_REDACT_SNAPS = 81,
  ZFS_PROP_CONTEXT = 82,
  ZFS_PROP_FSCONTEXT = 83,
  ZFS_PROP_DEFCONTEXT = 84,
  ZFS_PROP_ROOTCONTEXT = 85,
  ZFS_PROP_SNAPSHOTS_CHANGED = 86,
  ZFS_PROP_PREFETCH = 87,
  ZFS_PROP_VOLTHREADING = 88,
  ZFS_PROP_DIRECT = 89,
  ZFS_PROP_LONGNAME = 90,
  ZFS_PROP_DEFAULTUSERQUOTA = 91,
  ZFS_PROP_DEFAULTGROUPQUOTA = 92,
  ZFS_PROP_DEFAULTPROJECTQUOTA = 93,
  ZFS_PROP_DEFAULTUSEROBJQUOTA = 94,
  ZFS_NUM_PROPS = 95
} zfs_prop_t;

/* Pool property ids. */
typedef enum {
  ZPOOL_PROP_INVAL = ZPROP_INVAL, /* the lookups' "no such property" */
  ZPOOL_PROP_NAME = 0,
  ZPOOL_PROP_SIZE = 1,
  ZPOOL_PROP_CAPACITY = 2,
  ZPOOL_PROP_ALTROOT = 3,
  ZPOOL_PROP_HEALTH = 4,
  ZPOOL_PROP_GUID = 5,
  ZPOOL_PROP_VERSION = 6,
  ZPOOL_PROP_BOOTFS = 7,
  ZPOOL_PROP_DELEGATION = 8,
  ZPOOL_PROP_AUTOREPLACE = 9,
  ZPOOL_PROP_CACHEFILE = 10,
  ZPOOL_PROP_FAILUREMODE = 11,
  ZPOOL_PROP_LISTSNAPS = 12,
  ZPOOL_PROP_AUTOEXPAND = 13,
  ZPOOL_PROP_DEDUPRATIO = 14,
  ZPOOL_PROP_FREE = 15,
  ZPOOL_PROP_ALLOCATED = 16,
  ZPOOL_PROP_READONLY = 17,
  ZPOOL_PROP_COMMENT = 18,
  ZPOOL_PROP_ASHIFT = 19,
  ZPOOL_PROP_EXPANDSZ = 20,
  ZPOOL_PROP_FREEING = 21,
  ZPOOL_PROP_FRAGMENTATION = 22,
  ZPOOL_PROP_LEAKED = 23,
  ZPOOL_PROP_MULTIHOST = 24,
  ZPOOL_PROP_CHECKPOINT = 25,
  ZPOOL_PROP_LOAD_GUID = 26,
  ZPOOL_PROP_AUTOTRIM = 27,
  ZPOOL_PROP_COMPATIBILITY = 28,
  ZPOOL_NUM_PROPS = 29
} zpool_prop_t;

/* Pool states (zpool_get_state, zpool_in_use). */
typedef enum {
  POOL_STATE_ACTIVE = 0,
  POOL_STATE_EXPORTED = 1,
  POOL_STATE_DESTROYED = 2,
  POOL_STATE_SPARE = 3,
  POOL_STATE_L2CACHE = 4,
  POOL_STATE_UNINITIALIZED = 5,
  POOL_STATE_UNAVAIL = 6,
  POOL_STATE_POTENTIALLY_ACTIVE = 7
} pool_state_t;

/* Vdev states and aux codes (zpool_state_to_name, zpool_vdev_online). */
typedef enum {
  VDEV_STATE_UNKNOWN = 0,
  VDEV_STATE_CLOSED = 1,
  VDEV_STATE_OFFLINE = 2,
  VDEV_STATE_REMOVED = 3,
  VDEV_STATE_CANT_OPEN = 4,
  VDEV_STATE_FAULTED = 5,
  VDEV_STATE_DEGRADED = 6,
  VDEV_STATE_HEALTHY = 7
} vdev_state_t;
typedef int vdev_aux_t;

/* libzfs error numbers (libzfs_errno); 0 before the first failure. */
typedef enum {
  EZFS_SUCCESS = 0,
  EZFS_NOMEM = 2000,         /* out of memory */
  EZFS_BADPROP = 2001,       /* invalid property value */
  EZFS_PROPREADONLY = 2002,  /* cannot set read-only property */
  EZFS_PROPTYPE = 2003,      /* property does not apply to datasets of this type */
  EZFS_PROPNONINHERIT = 2004,
  EZFS_PROPSPACE = 2005,
  EZFS_BADTYPE = 2006,       /* operation not applicable to datasets of this type */
  EZFS_BUSY = 2007,
  EZFS_EXISTS = 2008,        /* dataset already exists */
  EZFS_NOENT = 2009,         /* dataset does not exist */
  EZFS_BADSTREAM = 2010,
  EZFS_DSREADONLY = 2011,
  EZFS_VOLTOOBIG = 2012,
  EZFS_INVALIDNAME = 2013,
  EZFS_BADRESTORE = 2014,
  EZFS_BADBACKUP = 2015,
  EZFS_BADTARGET = 2016,
  EZFS_NODEVICE = 2017,
  EZFS_BADDEV = 2018,
  EZFS_NOREPLICAS = 2019,
  EZFS_RESILVERING = 2020,
  EZFS_BADVERSION = 2021,
  EZFS_POOLUNAVAIL = 2022,
  EZFS_DEVOVERFLOW = 2023,
  EZFS_BADPATH = 2024,
  EZFS_CROSSTARGET = 2025,
  EZFS_ZONED = 2026,
  EZFS_MOUNTFAILED = 2027,
  EZFS_UMOUNTFAILED = 2028,
  EZFS_UNSHARENFSFAILED = 2029,
  EZFS_SHARENFSFAILED = 2030,
  EZFS_PERM = 2031,
  EZFS_NOSPC = 2032,
  EZFS_IO = 2033,
  EZFS_INTR = 2034,
  EZFS_ISSPARE = 2035,
  EZFS_INVALCONFIG = 2036,
  EZFS_RECURSIVE = 2037,
  EZFS_NOHISTORY = 2038,
  EZFS_POOLPROPS = 2039,
  EZFS_POOL_NOTSUP = 2040,
  EZFS_POOL_INVALARG = 2041,
  EZFS_NAMETOOLONG = 2042,
  EZFS_NOTSUP = 2043,        /* operation not supported */
  EZFS_UNKNOWN = 2044        /* unknown error */
} zfs_error_t;

/* zfs_rename flags. */
typedef struct {
  boolean_t recursive;
  boolean_t nounmount;
  boolean_t forceunmount;
} zfs_rename_flags_t;

/* zfs_send flags: 68 bytes, replicate at 4, doall at 12, props at 24 and
 * largeblock at 40. */
typedef struct {
  int verbosity;
  boolean_t replicate;   /* the whole tree below the dataset */
  boolean_t skipmissing;
  boolean_t doall;       /* every intermediate snapshot */
  boolean_t fromorigin;
  boolean_t pad;
  boolean_t props;       /* send properties */
  boolean_t dryrun;
  boolean_t parsable;
  boolean_t progress;
  boolean_t largeblock;  /* blocks above 128 KiB as they are */
  boolean_t embed_data;
  boolean_t compress;
  boolean_t raw;
  boolean_t backup;
  boolean_t holds;
  boolean_t saved;
} zfs_send_flags_t;

/* zfs_receive flags. */
typedef struct {
  boolean_t verbose;
  boolean_t isprefix;
  boolean_t istail;
  boolean_t dryrun;
  boolean_t force;       /* roll the target back first */
  boolean_t canmountoff;
  boolean_t resumable;
  boolean_t byteswap;
  boolean_t nomount;
  boolean_t holds;
  boolean_t skipholds;
} zfs_recv_flags_t;

#ifdef __cplusplus
static_assert(sizeof(zfs_send_flags_t) == 68, "send flags layout");
static_assert(offsetof(zfs_send_flags_t, replicate) == 4 && offsetof(zfs_send_flags_t, doall) == 12 &&
                  offsetof(zfs_send_flags_t, props) == 24 &&
                  offsetof(zfs_send_flags_t, largeblock) == 40,
              "send flags layout");
static_assert(offsetof(zfs_recv_flags_t, force) == 16, "receive flags layout");
#endif

/* One entry of the pool feature table (spa_feature_table); the layout is
 * 56 bytes: feature number at 0, short name at 8, guid at 16, kernel support
 * at 36. */
typedef struct {
  uint32_t fi_feature;
  uint32_t fi_reserved0;
  const char* fi_uname;
  const char* fi_guid;
  const char* fi_desc;
  uint32_t fi_flags;
  uint32_t fi_zfs_mod_supported;
  const void* fi_depends;
  uint32_t fi_type;
  uint32_t fi_reserved1;
} zfeature_info_t;
#define SPA_FEATURES 64

/* Pool search (zpool_search_import). */
typedef struct {
  nvlist_t* (*pco_refresh_config)(void* handle, nvlist_t* tryconfig);
  int (*pco_pool_active)(void* handle, const char* name, uint64_t guid, boolean_t* isactive);
} pool_config_ops_t;

typedef struct {
  void* lpc_lib_handle;              /* the libzfs handle */
  const pool_config_ops_t* lpc_ops;  /* libzfs_config_ops */
  boolean_t lpc_printerr;
  boolean_t lpc_open_access_error;
  char lpc_desc[1024];
} libpc_handle_t;

typedef struct {
  char** path;            /* directories to search, NULL for the defaults */
  int paths;
  const char* poolname;   /* only this pool, or NULL */
  uint64_t guid;          /* only this guid, or 0 */
  const char* cachefile;
  boolean_t can_be_active;
  boolean_t scan;
  nvlist_t* policy;
} importargs_t;

/* Pools in full: vdev names, import flags. */
#define VDEV_NAME_PATH 0x1
#define VDEV_NAME_GUID 0x2
#define VDEV_NAME_FOLLOW_LINKS 0x4
#define VDEV_NAME_TYPE_ID 0x8 /* "mirror-0": the type with the vdev's id */
#define ZFS_IMPORT_NORMAL 0x0
#define ZFS_IMPORT_ONLY 0x8 /* import without mounting */

typedef int (*zfs_iter_f)(zfs_handle_t* zhp, void* data);
typedef int (*zpool_iter_f)(zpool_handle_t* zhp, void* data);
typedef int (*zprop_func)(int prop, void* data);
typedef boolean_t (*snapfilter_cb_t)(zfs_handle_t* zhp, void* data);

/* X(result, name, (parameters), (arguments)) for every entry point that the
 * controller resolves. */
#define LIBZFS_ENTRY_POINTS(X)                                                                    \
  X(libzfs_handle_t*, libzfs_init, (void), ())                                                    \
  X(void, libzfs_fini, (libzfs_handle_t * hdl), (hdl))                                            \
  X(void, libzfs_print_on_error, (libzfs_handle_t * hdl, boolean_t on), (hdl, on))                \
  X(const char*, libzfs_error_description, (libzfs_handle_t * hdl), (hdl))                        \
  X(int, libzfs_errno, (libzfs_handle_t * hdl), (hdl))                                            \
  X(zfs_handle_t*, zfs_open, (libzfs_handle_t * hdl, const char* name, int types),                \
    (hdl, name, types))                                                                           \
  X(void, zfs_close, (zfs_handle_t * zhp), (zhp))                                                 \
  X(const char*, zfs_get_name, (const zfs_handle_t* zhp), (zhp))                                  \
  X(zfs_type_t, zfs_get_type, (const zfs_handle_t* zhp), (zhp))                                   \
  X(libzfs_handle_t*, zfs_get_handle, (zfs_handle_t * zhp), (zhp))                                \
  X(boolean_t, zfs_dataset_exists, (libzfs_handle_t * hdl, const char* name, zfs_type_t types),   \
    (hdl, name, types))                                                                           \
  X(int, zfs_name_valid, (const char* name, zfs_type_t type), (name, type))                       \
  X(const char*, zfs_type_to_name, (zfs_type_t type), (type))                                     \
  X(int, zfs_create, (libzfs_handle_t * hdl, const char* name, zfs_type_t type, nvlist_t* props), \
    (hdl, name, type, props))                                                                     \
  X(int, zfs_create_ancestors, (libzfs_handle_t * hdl, const char* name), (hdl, name))            \
  X(int, zfs_destroy, (zfs_handle_t * zhp, boolean_t defer), (zhp, defer))                        \
  X(int, zfs_clone, (zfs_handle_t * zhp, const char* target, nvlist_t* props),                    \
    (zhp, target, props))                                                                         \
  X(int, zfs_snapshot,                                                                            \
    (libzfs_handle_t * hdl, const char* name, boolean_t recursive, nvlist_t* props),              \
    (hdl, name, recursive, props))                                                                \
  X(int, zfs_snapshot_nvl, (libzfs_handle_t * hdl, nvlist_t * snaps, nvlist_t * props),           \
    (hdl, snaps, props))                                                                          \
  X(int, zfs_destroy_snaps_nvl, (libzfs_handle_t * hdl, nvlist_t * snaps, boolean_t defer),       \
    (hdl, snaps, defer))                                                                          \
  X(int, zfs_rollback, (zfs_handle_t * zhp, zfs_handle_t * snap, boolean_t force),                \
    (zhp, snap, force))                                                                           \
  X(int, zfs_rename, (zfs_handle_t * zhp, const char* target, zfs_rename_flags_t flags),          \
    (zhp, target, flags))                                                                         \
  X(int, zfs_send,                                                                                \
    (zfs_handle_t * zhp, const char* fromsnap, const char* tosnap, zfs_send_flags_t* flags,       \
     int outfd, snapfilter_cb_t filter, void* filter_arg, nvlist_t** debugnvp),                   \
    (zhp, fromsnap, tosnap, flags, outfd, filter, filter_arg, debugnvp))                          \
  X(int, zfs_receive,                                                                             \
    (libzfs_handle_t * hdl, const char* tosnap, nvlist_t* props, zfs_recv_flags_t* flags,         \
     int infd, void* stream_tree),                                                                \
    (hdl, tosnap, props, flags, infd, stream_tree))                                               \
  X(int, zfs_iter_root, (libzfs_handle_t * hdl, zfs_iter_f func, void* data), (hdl, func, data))  \
  X(int, zfs_iter_children, (zfs_handle_t * zhp, zfs_iter_f func, void* data), (zhp, func, data)) \
  X(int, zfs_iter_dependents,                                                                     \
    (zfs_handle_t * zhp, boolean_t allowrecursion, zfs_iter_f func, void* data),                  \
    (zhp, allowrecursion, func, data))                                                            \
  X(int, zfs_iter_filesystems, (zfs_handle_t * zhp, zfs_iter_f func, void* data),                 \
    (zhp, func, data))                                                                            \
  X(int, zfs_iter_snapspec, (zfs_handle_t * zhp, const char* spec, zfs_iter_f func, void* data),  \
    (zhp, spec, func, data))                                                                      \
  X(int, zfs_mount, (zfs_handle_t * zhp, const char* options, int flags), (zhp, options, flags))  \
  X(int, zfs_share, (zfs_handle_t * zhp), (zhp))                                                  \
  X(boolean_t, zfs_is_mounted, (zfs_handle_t * zhp, char** where), (zhp, where))                  \
  X(int, zfs_unmountall, (zfs_handle_t * zhp, int flags), (zhp, flags))                           \
  X(const char*, zfs_prop_to_name, (zfs_prop_t prop), (prop))                                     \
  X(zfs_prop_t, zfs_name_to_prop, (const char* name), (name))                                     \
  X(boolean_t, zfs_prop_user, (const char* name), (name))                                         \
  X(boolean_t, zfs_prop_is_string, (zfs_prop_t prop), (prop))                                     \
  X(boolean_t, zfs_prop_valid_for_type, (int prop, zfs_type_t type, boolean_t headcheck),         \
    (prop, type, headcheck))                                                                      \
  X(const char*, zfs_prop_values, (zfs_prop_t prop), (prop))                                      \
  X(int, zprop_iter,                                                                              \
    (zprop_func func, void* data, boolean_t show_all, boolean_t ordered, zfs_type_t type),        \
    (func, data, show_all, ordered, type))                                                        \
  X(int, zfs_prop_get,                                                                            \
    (zfs_handle_t * zhp, zfs_prop_t prop, char* buf, size_t len, zprop_source_t* src,             \
     char* statbuf, size_t statlen, boolean_t literal),                                           \
    (zhp, prop, buf, len, src, statbuf, statlen, literal))                                        \
  X(int, zfs_prop_get_numeric,                                                                    \
    (zfs_handle_t * zhp, zfs_prop_t prop, uint64_t* value, zprop_source_t* src, char* statbuf,    \
     size_t statlen),                                                                             \
    (zhp, prop, value, src, statbuf, statlen))                                                    \
  X(uint64_t, zfs_prop_get_int, (zfs_handle_t * zhp, zfs_prop_t prop), (zhp, prop))               \
  X(int, zfs_prop_set, (zfs_handle_t * zhp, const char* name, const char* value),                 \
    (zhp, name, value))                                                                           \
  X(int, zfs_prop_set_list, (zfs_handle_t * zhp, nvlist_t * props), (zhp, props))                \
  X(int, zfs_prop_inherit, (zfs_handle_t * zhp, const char* name, boolean_t received),            \
    (zhp, name, received))                                                                        \
  X(nvlist_t*, zfs_get_user_props, (zfs_handle_t * zhp), (zhp))                                   \
  X(nvlist_t*, zfs_get_clones_nvl, (zfs_handle_t * zhp), (zhp))                                   \
  X(int, zpool_iter, (libzfs_handle_t * hdl, zpool_iter_f func, void* data), (hdl, func, data))   \
  X(zpool_handle_t*, zpool_open, (libzfs_handle_t * hdl, const char* pool), (hdl, pool))          \
  X(zpool_handle_t*, zpool_open_canfail, (libzfs_handle_t * hdl, const char* pool), (hdl, pool))  \
  X(void, zpool_close, (zpool_handle_t * zhp), (zhp))                                             \
  X(const char*, zpool_get_name, (zpool_handle_t * zhp), (zhp))                                   \
  X(libzfs_handle_t*, zpool_get_handle, (zpool_handle_t * zhp), (zhp))                            \
  X(int, zpool_get_state, (zpool_handle_t * zhp), (zhp))                                          \
  X(nvlist_t*, zpool_get_config, (zpool_handle_t * zhp, nvlist_t * *oldconfig), (zhp, oldconfig)) \
  X(int, zpool_refresh_stats, (zpool_handle_t * zhp, boolean_t * missing), (zhp, missing))        \
  X(nvlist_t*, zpool_get_features, (zpool_handle_t * zhp), (zhp))                                 \
  X(int, zpool_get_prop,                                                                          \
    (zpool_handle_t * zhp, zpool_prop_t prop, char* buf, size_t len, zprop_source_t* src,         \
     boolean_t literal),                                                                          \
    (zhp, prop, buf, len, src, literal))                                                          \
  X(uint64_t, zpool_get_prop_int, (zpool_handle_t * zhp, zpool_prop_t prop, zprop_source_t * src), \
    (zhp, prop, src))                                                                             \
  X(int, zpool_set_prop, (zpool_handle_t * zhp, const char* name, const char* value),             \
    (zhp, name, value))                                                                           \
  X(const char*, zpool_prop_to_name, (zpool_prop_t prop), (prop))                                 \
  X(zpool_prop_t, zpool_name_to_prop, (const char* name), (name))                                 \
  X(const char*, zpool_prop_values, (zpool_prop_t prop), (prop))                                  \
  X(int, zpool_prop_get_feature, (zpool_handle_t * zhp, const char* name, char* buf, size_t len), \
    (zhp, name, buf, len))                                                                        \
  X(boolean_t, zfeature_is_supported, (const char* guid), (guid))                                 \
  X(char*, zpool_vdev_name,                                                                       \
    (libzfs_handle_t * hdl, zpool_handle_t * zhp, nvlist_t * nv, int name_flags),                 \
    (hdl, zhp, nv, name_flags))                                                                   \
  X(const char*, zpool_state_to_name, (vdev_state_t state, vdev_aux_t aux), (state, aux))         \
  X(int, zpool_create,                                                                            \
    (libzfs_handle_t * hdl, const char* pool, nvlist_t* nvroot, nvlist_t* props,                  \
     nvlist_t* fsprops),                                                                          \
    (hdl, pool, nvroot, props, fsprops))                                                          \
  X(int, zpool_destroy, (zpool_handle_t * zhp, const char* log_str), (zhp, log_str))              \
  X(int, zpool_add, (zpool_handle_t * zhp, nvlist_t * nvroot, boolean_t check_ashift),            \
    (zhp, nvroot, check_ashift))                                                                  \
  X(int, zpool_vdev_attach,                                                                       \
    (zpool_handle_t * zhp, const char* old_disk, const char* new_disk, nvlist_t* nvroot,          \
     int replacing, boolean_t rebuild),                                                           \
    (zhp, old_disk, new_disk, nvroot, replacing, rebuild))                                        \
  X(int, zpool_vdev_online,                                                                       \
    (zpool_handle_t * zhp, const char* path, int flags, vdev_state_t* newstate),                  \
    (zhp, path, flags, newstate))                                                                 \
  X(int, zpool_vdev_offline, (zpool_handle_t * zhp, const char* path, boolean_t istmp),           \
    (zhp, path, istmp))                                                                           \
  X(int, zpool_clear, (zpool_handle_t * zhp, const char* path, nvlist_t* rewindnvl),              \
    (zhp, path, rewindnvl))                                                                       \
  X(int, zpool_in_use,                                                                            \
    (libzfs_handle_t * hdl, int fd, pool_state_t* state, char** namestr, boolean_t* inuse),       \
    (hdl, fd, state, namestr, inuse))                                                             \
  X(int, zpool_disable_datasets, (zpool_handle_t * zhp, boolean_t force), (zhp, force))          \
  X(int, zpool_enable_datasets, (zpool_handle_t * zhp, const char* mntopts, int flags),           \
    (zhp, mntopts, flags))                                                                        \
  X(int, zpool_export, (zpool_handle_t * zhp, boolean_t force, const char* log_str),              \
    (zhp, force, log_str))                                                                        \
  X(int, zpool_export_force, (zpool_handle_t * zhp, const char* log_str), (zhp, log_str))         \
  X(nvlist_t*, zpool_search_import, (libpc_handle_t * hdl, importargs_t * args), (hdl, args))     \
  X(int, zpool_import_props,                                                                      \
    (libzfs_handle_t * hdl, nvlist_t * config, const char* newname, nvlist_t* props, int flags),  \
    (hdl, config, newname, props, flags))                                                         \
  X(int, zpool_log_history, (libzfs_handle_t * hdl, const char* message), (hdl, message))

/* X(type, name) for every data object that the controller resolves; the
 * binding hands out their addresses. */
#define LIBZFS_DATA_OBJECTS(X)                      \
  X(const zfeature_info_t, spa_feature_table)       \
  X(const pool_config_ops_t, libzfs_config_ops)

#define LIBZFS_FN_TYPEDEF(result, name, params, args) typedef result(*libzfs_##name##_fn) params;
LIBZFS_ENTRY_POINTS(LIBZFS_FN_TYPEDEF)
#undef LIBZFS_FN_TYPEDEF

#ifdef LIBZFS_PROTOTYPES
#define LIBZFS_PROTOTYPE(result, name, params, args) result name params;
LIBZFS_ENTRY_POINTS(LIBZFS_PROTOTYPE)
#undef LIBZFS_PROTOTYPE
extern const zfeature_info_t spa_feature_table[SPA_FEATURES];
extern const pool_config_ops_t libzfs_config_ops;
#endif

#ifdef __cplusplus
}
#endif

#endif /* OMBRIX_HOSTAPI_LIBZFS_H */
