#include "sim/spdk_tgt/fault_list.h"

#include <algorithm>
#include <set>

namespace spdk_sim {

std::optional<std::string> FaultList::add(const nlohmann::json& p) {
  static const std::set<std::string> kinds = {"error",        "split",     "silent", "wrong_id",
                                              "invalid_json", "exact_64k", "close", "result",
                                              "whole"};
  if (!p.is_object()) return "params must be an object";
  Fault f;
  try {
    f.method = p.value("method", std::string("*"));
    f.kind = p.value("kind", std::string());
    f.code = p.value("code", f.code);
    f.message = p.value("message", std::string("Injected failure"));
    f.times = p.value("times", 1);
    f.delay_ms = p.value("delay_ms", f.delay_ms);
    f.value = p.value("value", nlohmann::json());
  } catch (const nlohmann::json::exception& e) {
    return e.what();
  }
  if (!kinds.count(f.kind)) return "unknown fault kind '" + f.kind + "'";
  if (f.times == 0 || f.delay_ms < 0) return "times must not be 0, delay_ms not negative";
  faults_.push_back(std::move(f));
  return std::nullopt;
}

std::optional<Fault> FaultList::take(const std::string& method) {
  auto it = std::find_if(faults_.begin(), faults_.end(),
                         [&](const Fault& f) { return f.method == "*" || f.method == method; });
  if (it == faults_.end()) return std::nullopt;
  Fault hit = *it;
  if (it->times > 0 && --it->times == 0) faults_.erase(it);
  return hit;
}

}  // namespace spdk_sim
