// The VM id as the administrator gives it: `vm list` writes ids as nine
// digits with leading zeros ("000100001"), and that form names the same VM as
// the id itself ("100001").
#pragma once

#include <string>

// `id` without its leading zeros when it is all digits and no VM (in a state
// directory of any pool, or running) has `id` as written; else `id`.
std::string vm_id_from_listed(const std::string& id);
