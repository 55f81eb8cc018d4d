// The suspend image of a VM: a zvol "snapshot.bvmss" below the VM's dataset,
// into which the hypervisor writes its checkpoint.
//
// Its size: the image holds a 4096-byte header page, the configuration section
// (a few pages), the guest memory and the memory table (one 4096-byte page per
// 2 MiB of memory). The volume gets the VM's RAM, plus RAM/512 for the table,
// plus 16 MiB for the header, the configuration and rounding, rounded up to its
// block size of 32 KiB.
#pragma once

#include <cstdint>
#include <string>

#include "storage/zfs_session.h"

inline constexpr uint64_t kSuspendImageMargin = 16ULL << 20;
inline constexpr uint64_t kSuspendImageBlockSize = 32ULL << 10;

// The bytes a suspend image of a VM with `ram` bytes of memory may need;
// nothing beyond what fits in 64 bits (then the largest value).
uint64_t suspend_image_size(uint64_t ram);

// A dataset name the image may be placed under: components separated by
// single '/', none of them empty, "." or "..", no NUL.
bool valid_dataset_name(const std::string& name);

// "<root dataset>/snapshot.bvmss".
std::string suspend_image_dataset(const std::string& root_dataset_name);
// "/dev/zvol/<root dataset>/snapshot.bvmss" (real path).
std::string suspend_image_path(const std::string& root_dataset_name);

struct SuspendVolumeResult {
  bool ok = false;
  std::string text;  // what was done, or why it failed
};

// Makes the zvol `dataset` hold `size` bytes (rounded up to whole blocks): a
// missing one is created, a smaller one grown, a larger one destroyed and
// created anew; a volume that cannot be grown fails the preparation with the
// reason and stays as it was. The size asked for is logged in MiB (rounded
// up) before the volume is created or grown.
SuspendVolumeResult prepare_suspend_volume(zfs_session& session, const std::string& dataset,
                                           uint64_t size);
