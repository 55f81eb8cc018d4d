// Checking property values before they are stored, and reading a dataset's
// effective value (its own, inherited or the default).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

#include <libzfs.h>

#include "sim/libzfs/errors.h"
#include "sim/libzfs/prop_table.h"

namespace zfs_sim {

// A value to set: a number (from a uint64 list member) or a text.
struct PropSetting {
  std::string name;
  std::optional<uint64_t> number;
  std::string text;
};

// The name under which a value is stored (the canonical property name or the
// user property name) and the JSON value to store, or why the value is
// refused for a dataset of type `type`. `creating`: the dataset is being
// created (create-only properties are accepted).
std::variant<std::pair<std::string, nlohmann::json>, Failure> check_setting(
    const PropSetting& setting, int type, bool creating);

// A dataset's effective value of one property.
struct PropValue {
  uint64_t number = 0;  // numbers; the index of an index property
  std::string text;     // texts; the value text of an index property
  zprop_source_t source = ZPROP_SRC_NONE;
  std::string inherited_from;  // for ZPROP_SRC_INHERITED
};

// The value of `entry` for dataset `name` in `datasets` (the model's
// "datasets" object), or nothing when it has none (origin of a dataset that
// is not a clone) or does not apply to the dataset's type.
std::optional<PropValue> read_prop(const nlohmann::json& datasets, const std::string& name,
                                   const PropEntry& entry);

// The value as libzfs shows it: sizes in K/M/G and dates as text unless
// `literal`, "none" for an unset limit.
std::string format_prop(const PropEntry& entry, const PropValue& value, bool literal);

}  // namespace zfs_sim
