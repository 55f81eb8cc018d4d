// The hypervisor's configuration as "key=value" settings, built from the
// command line's device options. Each function adds one option's settings to
// `config` and returns an error text for a malformed value.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace bhyve_sim {

using Settings = std::map<std::string, std::string>;

// "-c": "N", or "cpus=N,sockets=S,cores=C,threads=T" with any of the parts.
std::optional<std::string> add_topology(Settings& config, const std::string& value);
// "-m": bytes, or a number with a suffix K, M, G or T.
std::optional<std::string> add_memory(Settings& config, const std::string& value);
// "-s": "slot[:function]" or "bus:slot:function", the emulation, its options.
std::optional<std::string> add_slot(Settings& config, const std::string& value);
// "-l": "com1,path" .. "com4,path" or "bootrom,path".
std::optional<std::string> add_lpc(Settings& config, const std::string& value);
// "-o": "key=value".
std::optional<std::string> add_setting(Settings& config, const std::string& value);

// Checks that only make sense on the whole configuration: "-l" needs an lpc
// device.
std::optional<std::string> check_settings(const Settings& config);

// "key=value" lines in key order, and back: lines without "=" or with an
// empty key are dropped, the first of a repeated key wins.
std::string settings_text(const Settings& config);
Settings parse_settings_text(const std::string& text);

// A whole decimal number within [min, max].
std::optional<long long> parse_number(const std::string& text, long long min, long long max);

}  // namespace bhyve_sim
