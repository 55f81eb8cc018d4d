// The bhyve command line of a VM record: an ordered list of elements, each an
// option and its value in one text ("-s 0,hostbridge", "-c 4"). The wrapper
// completes and splits the list before it starts bhyve.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "model/vm_config.h"

// The elements for `config`: the program, the flags, the topology and memory,
// the fixed and the record's PCI devices, the serial ports, the boot ROM and
// the record's extra options. Values are used as stored; never fails.
std::vector<std::string> make_bhyve_args(const VmConfig& config);

// The value following "-s " for `disk`, or nothing when its devtype/trtype
// combination is not one the line supports.
std::optional<std::string> make_disk_arg(const VmDisk& disk);

// The refusal text when a virtio-net device of a bhyve configuration (key ->
// value, as read from a checkpoint image or a running VM) uses a backend other
// than netgraph; nothing when all of them use netgraph.
std::optional<std::string> check_snapshot_net_backend(
    const std::map<std::string, std::string>& config);
