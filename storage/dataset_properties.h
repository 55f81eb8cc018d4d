// Reading, setting and inheriting dataset properties.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "storage/dataset_property_list.h"
#include "storage/dataset_result.h"
#include "storage/zfs_session.h"

inline constexpr int32_t dataset_properties_open_failed = -13;

// Reads every property that applies to the open dataset (its user
// properties included) into `props`; only the names in `filter` unless it
// is empty. Properties libzfs cannot read are left out. -1 for a null
// handle, else 0.
int32_t read_dataset_properties(zfs_handle_t* dataset, dataset_property_list& props,
                                const std::set<std::string>& filter);

// All properties of the dataset `name` of a type in `types`: code 0, or -13
// with libzfs's reason when it cannot be opened.
dataset_result get_dataset_properties(zfs_session& session, dataset_property_list& props,
                                      const std::string& name, int32_t types);

// Sets the properties of `props` on the dataset in one call: code 0 or -1
// with the message.
dataset_result set_dataset_properties(zfs_session& session, const std::string& name,
                                      nvlist_t* props, int32_t types);

// Lets the user properties among the comma-separated `names` inherit again
// (other names are ignored): code 0, or -1 with the reason when the dataset
// cannot be opened or a property cannot be inherited.
dataset_result inherit_dataset_property(zfs_session& session, const std::string& name,
                                        const std::string& names);
