// The VMs of a pool, as its state directory lists them: one "<vm id>.state"
// link per VM.
#pragma once

#include <string>
#include <vector>

#include "pool/state/pool_error.h"

// {-5, "### Pool '<pool>' state directory '<dir>' error: <reason>"} when the
// pool's state directory cannot be read; nothing otherwise.
pool_check pool_state_dir_check(const std::string& pool);

// The error of pool_state_dir_check's form for the errno `error`.
pool_error pool_state_dir_error(const std::string& pool, int error);

// The VM ids of the pool's state directory, sorted by text: every entry named
// "<stem>.state" with a stem of 1 to 254 characters. When the directory cannot
// be listed the result is empty and `error` holds the errno (else 0).
std::vector<std::string> load_pool_state_dir(const std::string& pool, int& error);

// load_pool_state_dir into `out`; an unreadable directory gives the error of
// pool_state_dir_check's form.
pool_check pool_vm_list(const std::string& pool, std::vector<std::string>& out);
