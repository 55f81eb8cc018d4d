#include "daemon/vm_command_word.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<VmCommandWord, const char*>, 10> kWords{{
    {VmCommandWord::start, "start"},
    {VmCommandWord::force_start, "force_start"},
    {VmCommandWord::stop, "stop"},
    {VmCommandWord::restart, "restart"},
    {VmCommandWord::suspend, "suspend"},
    {VmCommandWord::suspend_pool, "suspend_pool"},
    {VmCommandWord::resume, "resume"},
    {VmCommandWord::force_resume, "force_resume"},
    {VmCommandWord::pause, "pause"},
    {VmCommandWord::unpause, "unpause"},
}};

}  // namespace

std::optional<VmCommandWord> parse_vm_command_word(const std::string& text) {
  for (const auto& [word, name] : kWords)
    if (text == name) return word;
  return std::nullopt;
}

const char* vm_command_word_text(VmCommandWord word) {
  for (const auto& [w, name] : kWords)
    if (w == word) return name;
  return "";
}

const char* vm_command_method(VmCommandWord word) {
  switch (word) {
    case VmCommandWord::start:
    case VmCommandWord::force_start: return "vms-start";
    case VmCommandWord::stop: return "vms-stop";
    case VmCommandWord::restart: return "vms-restart";
    case VmCommandWord::suspend:
    case VmCommandWord::suspend_pool: return "vms-suspend";
    case VmCommandWord::resume:
    case VmCommandWord::force_resume: return "vms-resume";
    case VmCommandWord::pause: return "vms-pause";
    case VmCommandWord::unpause: return "vms-unpause";
  }
  return "";
}

bool vm_command_forced(VmCommandWord word) {
  return word == VmCommandWord::force_start || word == VmCommandWord::force_resume;
}
