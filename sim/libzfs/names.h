// Dataset and pool names: what is valid, and the parts of a name.
#pragma once

#include <optional>
#include <string>

namespace zfs_sim {

// Why `name` is not a valid name for a dataset of a type in `types` (a mask;
// snapshots need ZFS_TYPE_SNAPSHOT, pools ZFS_TYPE_POOL), or nothing when it
// is valid.
std::optional<std::string> name_problem(const std::string& name, int types);

// "tank" of "tank/a/b@s".
std::string pool_of(const std::string& name);
// "tank/a" of "tank/a/b", "tank/a/b" of "tank/a/b@s", "" of "tank".
std::string parent_of(const std::string& name);
// `name` is `ancestor` or lies below it ("tank/a" covers "tank/a/b", "tank/a@s").
bool is_within(const std::string& name, const std::string& ancestor);

}  // namespace zfs_sim
