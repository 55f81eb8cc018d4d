// The common base of the two request managers: `exchange` sends one request
// and tells whether the answer is a success (a JSON object without "error"
// member). The base
// sends on the calling thread's connection to the storage target.
#pragma once

#include <mutex>
#include <string>

namespace nvmf {

class base_target_manager {
 public:
  virtual ~base_target_manager() = default;
  virtual bool exchange(const std::string& request, std::string& answer, const std::string& host);

 protected:
  // True when `answer` is an object without an "error" member. An answer that
  // is not an object is replaced by the unexpected-answer error object.
  bool judge(std::string& answer);

 private:
  std::mutex mutex_;
};

}  // namespace nvmf
