#include "storage/pool_history.h"

namespace {

constexpr std::string_view program_name = "ombrix-vm";

}  // namespace

std::string pool_history_line(std::string_view verb, std::string_view what) {
  std::string line;
  line.reserve(program_name.size() + verb.size() + what.size());
  line.append(program_name).append(verb).append(what);
  return line;
}

void log_pool_history(const zfs_session& session, std::string_view verb, std::string_view what) {
  if (!session.ok()) return;
  libzfs::zpool_log_history(session.handle(), pool_history_line(verb, what).c_str());
}
