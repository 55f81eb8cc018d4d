// Answers the stand-in target is told to get wrong (the "sim_fault" method):
// each fault hits the next requests of one method (or of any) a number of times.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace spdk_sim {

struct Fault {
  std::string method = "*";
  std::string kind;      // error, split, silent, wrong_id, invalid_json, exact_64k, close, result, whole
  int code = -32603;     // for "error"
  std::string message;   // for "error"
  int times = 1;         // -1: for ever
  int delay_ms = 100;    // for "split"
  nlohmann::json value;  // for "result": the answer's "result" instead; for "whole": the answer
};

class FaultList {
 public:
  // Adds the fault described by `params`; the reason when they describe none.
  std::optional<std::string> add(const nlohmann::json& params);
  // The fault that hits this request of `method`, used up by one.
  std::optional<Fault> take(const std::string& method);

 private:
  std::vector<Fault> faults_;
};

}  // namespace spdk_sim
