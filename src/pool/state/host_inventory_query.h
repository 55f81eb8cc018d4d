// The host inventory: every pool of this host with its state and the states
// of its VMs, under the node name "localhost". The daemon's "host-inventory"
// reply and the command line's "inventory" report it
// (make_jsonrpc_pool_reply).
#pragma once

#include "model/host_inventory.h"

// Pools of find_pool(true) with their states and, for started (or
// unreadable) pools, their VMs; a running VM whose runtime record names one
// of these pools is started there. Pools whose state directories cannot be
// read are entered in the result's `errors`.
host_inventory collect_host_inventory();
