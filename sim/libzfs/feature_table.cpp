// The stand-in's pool feature table: the features it supports, then an
// entry of zeros that ends the table.
#pragma GCC visibility push(default)
#include <libzfs.h>
#pragma GCC visibility pop

#include <cstddef>
#include <cstring>

#define FEATURE(n, name, guid) {n, 0, name, guid, "", 0, 1, nullptr, 0, 0}

extern "C" {

const zfeature_info_t spa_feature_table[SPA_FEATURES] = {
    FEATURE(0, "async_destroy", "com.delphix:async_destroy"),
    FEATURE(1, "empty_bpobj", "com.delphix:empty_bpobj"),
    FEATURE(2, "lz4_compress", "org.illumos:lz4_compress"),
    FEATURE(3, "multi_vdev_crash_dump", "com.joyent:multi_vdev_crash_dump"),
    FEATURE(4, "spacemap_histogram", "com.delphix:spacemap_histogram"),
    FEATURE(5, "enabled_txg", "com.delphix:enabled_txg"),
    FEATURE(6, "hole_birth", "com.delphix:hole_birth"),
    FEATURE(7, "extensible_dataset", "com.delphix:extensible_dataset"),
    FEATURE(8, "embedded_data", "com.delphix:embedded_data"),
    FEATURE(9, "bookmarks", "com.delphix:bookmarks"),
    FEATURE(10, "filesystem_limits", "com.joyent:filesystem_limits"),
    FEATURE(11, "large_blocks", "org.open-zfs:large_blocks"),
    FEATURE(12, "large_dnode", "org.zfsonlinux:large_dnode"),
    FEATURE(13, "sha512", "org.illumos:sha512"),
    FEATURE(14, "skein", "org.illumos:skein"),
    FEATURE(15, "edonr", "org.illumos:edonr"),
    FEATURE(16, "userobj_accounting", "org.zfsonlinux:userobj_accounting"),
    FEATURE(17, "encryption", "com.datto:encryption"),
    FEATURE(18, "project_quota", "org.zfsonlinux:project_quota"),
    FEATURE(19, "device_removal", "com.delphix:device_removal"),
    FEATURE(20, "obsolete_counts", "com.delphix:obsolete_counts"),
    FEATURE(21, "zpool_checkpoint", "com.delphix:zpool_checkpoint"),
    FEATURE(22, "spacemap_v2", "com.delphix:spacemap_v2"),
    FEATURE(23, "allocation_classes", "org.zfsonlinux:allocation_classes"),
    FEATURE(24, "resilver_defer", "com.datto:resilver_defer"),
    FEATURE(25, "bookmark_v2", "com.datto:bookmark_v2"),
    FEATURE(26, "redaction_bookmarks", "com.delphix:redaction_bookmarks"),
    FEATURE(27, "redacted_datasets", "com.delphix:redacted_datasets"),
    FEATURE(28, "bookmark_written", "com.delphix:bookmark_written"),
    FEATURE(29, "log_spacemap", "com.delphix:log_spacemap"),
    FEATURE(30, "livelist", "com.delphix:livelist"),
    FEATURE(31, "device_rebuild", "org.openzfs:device_rebuild"),
    FEATURE(32, "zstd_compress", "org.freebsd:zstd_compress"),
    FEATURE(33, "draid", "org.openzfs:draid"),
    // Known to the table but not to the loaded kernel module.
    {34, 0, "zilsaxattr", "org.openzfs:zilsaxattr", "", 0, 0, nullptr, 0, 0},
    // The rest is zero: the end of the table.
};

boolean_t zfeature_is_supported(const char* guid) {
  if (!guid) return B_FALSE;
  for (const zfeature_info_t& feature : spa_feature_table)
    if (feature.fi_guid && feature.fi_zfs_mod_supported &&
        (std::strcmp(feature.fi_guid, guid) == 0 || std::strcmp(feature.fi_uname, guid) == 0))
      return B_TRUE;
  return B_FALSE;
}

}  // extern "C"

static_assert(sizeof(zfeature_info_t) == 56);
static_assert(offsetof(zfeature_info_t, fi_uname) == 8);
static_assert(offsetof(zfeature_info_t, fi_guid) == 16);
static_assert(offsetof(zfeature_info_t, fi_zfs_mod_supported) == 36);
