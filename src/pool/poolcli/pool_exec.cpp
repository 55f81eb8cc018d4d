#include "pool/poolcli/pool_exec.h"

#include <cstdio>
#include <cstring>
#include <map>

#include <fmt/format.h>

#include "driver/command_line.h"
#include "driver/config.h"
#include "model/pool_state.h"
#include "pool/state/pool_list.h"
#include "pool/poolcli/pool_operations.h"
#include "pool/state/pool_state_dir.h"

namespace {

using Action = pool_op_result (*)(const std::string& pool, const std::string& param);

// The listing's word for a pool state.
const char* pool_state_word(int state) {
  switch (state) {
    case PoolState::stopped: return "offline";
    case PoolState::started: return "online";
    case PoolState::suspended: return "suspended";
    case PoolState::unreadable: return "unreadable";
    default: return "unknown";
  }
}

pool_op_result pool_list(const std::string&, const std::string&) {
  pool_error_map errors;
  std::vector<std::string> pools = find_pool(false, &errors);
  std::puts("POOL STATUS");
  for (const std::string& pool : pools)
    std::printf("%-4s %s\n", pool.c_str(), pool_state_word(PoolState::read(pool)));
  for (const auto& [pool, error] : errors)
    std::printf("%-4s %s (%s)\n", pool.c_str(), "unreadable", std::strerror(error));
  return {kPoolOk, ""};
}

pool_op_result pool_status(const std::string& pool, const std::string&) {
  if (auto unreadable = pool_state_dir_check(pool)) {
    std::printf("%-4s %s\n", pool.c_str(), "unreadable");
    return {unreadable->code, unreadable->text};
  }
  if (!pool_exists(pool)) return {kPoolFailed, "Pool not found: " + pool};
  std::printf("%-4s %s\n", pool.c_str(), pool_state_word(PoolState::read(pool)));
  return {kPoolOk, ""};
}

const std::map<std::string, Action>& action_table() {
  static const std::map<std::string, Action> table = {
      {"list", pool_list},
      {"status", pool_status},
      {"start",
       [](const std::string& pool, const std::string& param) {
         const Config& config = Config::instance();
         return run_pool_start(pool, param, config.parallel, config.wait_for_replies);
       }},
      {"stop",
       [](const std::string& pool, const std::string& param) {
         return run_pool_stop(pool, param, Config::instance().parallel, false);
       }},
      {"suspend",
       [](const std::string& pool, const std::string&) {
         return run_pool_suspend(pool, Config::instance().parallel, false);
       }},
      {"resume",
       [](const std::string& pool, const std::string&) {
         return run_pool_resume(pool, Config::instance().parallel);
       }},
      {"unshare", [](const std::string& pool, const std::string& param) { return run_pool_unshare(pool, param); }},
  };
  return table;
}

}  // namespace

std::optional<std::string> Pool::exec(const std::string& action, const std::string& id,
                                      const std::string& param) {
  const auto& table = action_table();
  auto it = table.find(action);
  std::optional<std::string> error;
  if (it == table.end()) {
    error = fmt::format("Unknown pool command: '{}'", action);
  } else if ((action == "list") != id.empty()) {
    // "list" takes no pool, every other action one: how to call it.
    error = action == "list" ? "'list' takes no --id"
                             : fmt::format("Missing parameter '--id' for implementation of '{}'", action);
    std::fprintf(stderr, "Error: %s\n", error->c_str());
    print_usage();
    return error;
  } else {
    pool_op_result result = it->second(id, param);
    std::fflush(stdout);
    if (!result.ok()) error = result.text;
  }
  if (error) std::fprintf(stderr, "Error: %s\n", error->c_str());
  return error;
}
