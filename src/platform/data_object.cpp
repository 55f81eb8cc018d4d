#include "platform/data_object.h"

#include <dlfcn.h>
#include <link.h>

namespace platform {

size_t data_object_size(const void* address) {
  if (!address) return 0;
  Dl_info info{};
  void* entry = nullptr;
  if (::dladdr1(address, &info, &entry, RTLD_DL_SYMENT) == 0 || !entry) return 0;
  const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
  if (info.dli_saddr != address) return 0;  // inside an object, not at its start
  return static_cast<size_t>(symbol->st_size);
}

}  // namespace platform
