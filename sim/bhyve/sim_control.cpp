#include "sim/bhyve/sim_control.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fmt/format.h>

#include "sim/bhyve/text_lines.h"
#include "sim/bhyve/vm_settings.h"

namespace bhyve_sim {
namespace {

constexpr long long kMaxDelayMs = 24LL * 3600 * 1000;

}  // namespace

SimControlResult parse_sim_control(const std::string& text) {
  SimControlResult result;
  SimControl& c = result.control;
  bool exit_after_given = false;
  bool exit_status_given = false;
  for (const auto& [number, line] : content_lines(text)) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) {
      result.error = fmt::format("line {}: expected key=value: '{}'", number, line);
      return result;
    }
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    auto delay = [&](int* slot) {
      auto n = parse_number(value, 0, kMaxDelayMs);
      if (n) *slot = static_cast<int>(*n);
      return n.has_value();
    };
    auto flag = [&](bool* slot) {
      if (value != "0" && value != "1") return false;
      *slot = value == "1";
      return true;
    };
    bool ok = true;
    if (key == "ready_delay_ms") ok = delay(&c.ready_delay_ms);
    else if (key == "never_ready") ok = flag(&c.never_ready);
    else if (key == "reset_after_ms") ok = delay(&c.reset_after_ms);
    else if (key == "reset_after_seen_ms") ok = delay(&c.reset_after_seen_ms);
    else if (key == "crash_after_ms") ok = delay(&c.crash_after_ms);
    else if (key == "exit_after_ms") ok = exit_after_given = delay(&c.exit_after_ms);
    else if (key == "exit_status") {
      auto n = parse_number(value, 0, 255);
      ok = exit_status_given = n.has_value();
      if (n) c.exit_status = static_cast<int>(*n);
    } else if (key == "ignore_sigterm") ok = flag(&c.ignore_sigterm);
    else if (key == "shutdown_delay_ms") ok = delay(&c.shutdown_delay_ms);
    else if (key == "boot_rom_fail") ok = flag(&c.boot_rom_fail);
    else if (key == "vcpu_class") {
      auto n = parse_number(value, 0, 9);
      ok = n.has_value();
      if (n) c.vcpu_class = static_cast<int>(*n);
    } else if (key == "guest_script") {
      ok = !value.empty();
      c.guest_script = value;
    } else if (key == "expect_timeout_ms") ok = delay(&c.expect_timeout_ms);
    else {
      result.error = fmt::format("line {}: unknown key '{}'", number, key);
      return result;
    }
    if (!ok) {
      result.error = fmt::format("line {}: bad value for {}: '{}'", number, key, value);
      return result;
    }
  }
  if (exit_status_given && !exit_after_given) c.exit_after_ms = 0;
  return result;
}

SimControlResult load_sim_control(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    if (errno == ENOENT) return {};
    return {{}, fmt::format("{}: {}", path, std::strerror(errno))};
  }
  std::stringstream text;
  text << in.rdbuf();
  return parse_sim_control(text.str());
}

}  // namespace bhyve_sim
