// The metadata document a guest reads over its cloud-init serial line: the
// guest record of the VM plus what the guest's cloud-init asks for by name
// ("cloud-init:user-data", "resolvers", "routes", "root_authorized_keys",
// "uuid", "nics").
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "model/vm_config.h"

// The document of `record` with `user_data`; nothing when the record has no
// id or `user_data` is empty.
std::optional<nlohmann::json> make_metadata_document(const VmConfig& record,
                                                     const std::string& user_data);

// The "nics" entries of the record's network ports, in list order.
nlohmann::json metadata_nics(const std::vector<VmNetworkPort>& ports);
