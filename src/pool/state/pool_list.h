// Which pools this host has and which pool holds a VM. Every call asks libzfs
// for the imported pools again and reads each pool's marks again; nothing is
// cached.
#pragma once

#include <map>
#include <string>
#include <vector>

// Pool name -> errno of the pools whose state directories cannot be read.
using pool_error_map = std::map<std::string, int>;

// The imported pools in libzfs's order: the started ones, and with `all` the
// stopped and suspended ones too. A pool whose state directory cannot be read
// is left out and, when `errors` is given, entered there; a pool without a
// state directory (unknown) is left out.
std::vector<std::string> find_pool(bool all, pool_error_map* errors = nullptr);

// The pool is among find_pool(true).
bool pool_exists(const std::string& pool);

// The first pool of find_pool(all) that holds the VM's state link with its
// target; "" when none does (and for an id that cannot name a file).
std::string vm_pool_of(const std::string& vm_id, bool all = true);
