// Whether a text is a well-formed NVMe qualified name: the discovery NQN, a
// UUID NQN, or the dated "nqn.yyyy-mm.reverse.domain[:rest]" form.
#pragma once

#include <string>

bool nqn_is_valid(const std::string& nqn);
