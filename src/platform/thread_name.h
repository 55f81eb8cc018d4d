// The name of a thread as the system's tools show it (ps, top, a debugger).
#pragma once

#include <string_view>

namespace platform {

// Names the calling thread. Names longer than the system allows (15
// characters here) are cut; a name that cannot be set is left as it was.
void name_this_thread(std::string_view name);

}  // namespace platform
