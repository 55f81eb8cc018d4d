// Facts about the running program itself.
#pragma once

#include <string>

namespace platform {

// The absolute path of the running executable, "" when it cannot be found.
std::string executable_path();

}  // namespace platform
