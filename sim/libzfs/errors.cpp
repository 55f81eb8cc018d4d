#include "sim/libzfs/errors.h"

#include <libzfs.h>

namespace zfs_sim {

const char* error_text(int code) {
  switch (code) {
    case EZFS_SUCCESS: return "no error";
    case EZFS_NOMEM: return "out of memory";
    case EZFS_BADPROP: return "invalid property value";
    case EZFS_PROPREADONLY: return "read-only property";
    case EZFS_PROPTYPE: return "property doesn't apply to datasets of this type";
    case EZFS_PROPNONINHERIT: return "property cannot be inherited";
    case EZFS_PROPSPACE: return "invalid quota or reservation";
    case EZFS_BADTYPE: return "operation not applicable to datasets of this type";
    case EZFS_BUSY: return "pool or dataset is busy";
    case EZFS_EXISTS: return "pool or dataset exists";
    case EZFS_NOENT: return "no such pool or dataset";
    case EZFS_BADSTREAM: return "invalid backup stream";
    case EZFS_DSREADONLY: return "dataset is read-only";
    case EZFS_VOLTOOBIG: return "volume size exceeds limit for this system";
    case EZFS_INVALIDNAME: return "invalid name";
    case EZFS_BADRESTORE: return "unable to restore to destination";
    case EZFS_BADBACKUP: return "backup failed";
    case EZFS_BADTARGET: return "invalid target vdev";
    case EZFS_NODEVICE: return "no such device in pool";
    case EZFS_BADDEV: return "invalid device";
    case EZFS_NOREPLICAS: return "no valid replicas";
    case EZFS_RESILVERING: return "currently resilvering";
    case EZFS_BADVERSION: return "unsupported version or feature";
    case EZFS_POOLUNAVAIL: return "pool is unavailable";
    case EZFS_DEVOVERFLOW: return "too many devices in one vdev";
    case EZFS_BADPATH: return "must be an absolute path";
    case EZFS_CROSSTARGET: return "operation crosses datasets or pools";
    case EZFS_ZONED: return "dataset in use by local zone";
    case EZFS_MOUNTFAILED: return "mount failed";
    case EZFS_UMOUNTFAILED: return "unmount failed";
    case EZFS_UNSHARENFSFAILED: return "NFS share removal failed";
    case EZFS_SHARENFSFAILED: return "NFS share creation failed";
    case EZFS_PERM: return "permission denied";
    case EZFS_NOSPC: return "out of space";
    case EZFS_IO: return "I/O error";
    case EZFS_INTR: return "signal received";
    case EZFS_ISSPARE: return "device is reserved as a hot spare";
    case EZFS_INVALCONFIG: return "invalid vdev configuration";
    case EZFS_RECURSIVE: return "recursive dataset dependency";
    case EZFS_NOHISTORY: return "no history available";
    case EZFS_POOLPROPS: return "failed to retrieve pool properties";
    case EZFS_POOL_NOTSUP: return "operation not supported by pool version";
    case EZFS_POOL_INVALARG: return "invalid argument for this pool operation";
    case EZFS_NAMETOOLONG: return "dataset name is too long";
    case EZFS_NOTSUP: return "operation not supported";
    default: return "unknown error";
  }
}

}  // namespace zfs_sim
