// Rolling a dataset tree back to a snapshot, reporting what went.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "storage/dataset_result.h"
#include "storage/zfs_session.h"

// Rolls "dataset@snapshot" back on the dataset and on every filesystem and
// zvol below it that has a snapshot of that name; zvols created after the
// snapshot are destroyed with their dependents. The four maps are replaced
// by what really went (a failure part way leaves the tree partly rolled
// back; the maps then leave out what still exists). Code 0, or -4470 with
// the reason. The maps are keyed by guid in decimal: removed_datasets holds
// the clones of newer snapshots and the newer zvols with their dependents,
// removed_snapshots the snapshots newer than the target, kept_volumes the
// volsize of each zvol no newer than it, rolled_back the snapshots each
// dataset was rolled back to.
dataset_result rollback_snapshot(zfs_session& session, const std::string& name,
                                 std::map<std::string, std::string>& removed_datasets,
                                 std::map<std::string, std::string>& removed_snapshots,
                                 std::map<std::string, uint64_t>& kept_volumes,
                                 std::map<std::string, std::string>& rolled_back);
