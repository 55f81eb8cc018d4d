// Facts about the running program itself.
#pragma once

#include <string>

namespace platform {

// The absolute path of the running executable, "" when it cannot be found.
std::string executable_path();

// Closes every open descriptor numbered `first` or higher (a new daemon drops
// what it inherited).
void close_descriptors_from(int first);

}  // namespace platform
