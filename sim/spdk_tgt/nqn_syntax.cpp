#include "sim/spdk_tgt/nqn_syntax.h"

#include <cctype>
#include <string_view>

namespace spdk_sim {
namespace {

constexpr size_t kLongest = 223;
constexpr std::string_view kDiscovery = "nqn.2014-08.org.nvmexpress.discovery";
constexpr std::string_view kUuidForm = "nqn.2014-08.org.nvmexpress:uuid:";

bool hex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }
bool digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// 8-4-4-4-12 hexadecimal digits.
bool uuid_text(std::string_view s) {
  if (s.size() != 36) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? s[i] != '-' : !hex(s[i])) return false;
  }
  return true;
}

// "yyyy-mm." with a month of 01 to 12.
bool date_part(std::string_view s) {
  if (s.size() < 8 || s[4] != '-' || s[7] != '.') return false;
  for (size_t i : {0u, 1u, 2u, 3u, 5u, 6u})
    if (!digit(s[i])) return false;
  int month = (s[5] - '0') * 10 + (s[6] - '0');
  return month >= 1 && month <= 12;
}

// Labels of letters, digits and '-', each starting with a letter or digit
// and not ending with '-', separated by '.'.
bool domain(std::string_view s) {
  if (s.empty()) return false;
  size_t start = 0;
  for (;;) {
    size_t end = s.find('.', start);
    std::string_view label = s.substr(start, end == std::string_view::npos ? end : end - start);
    if (label.empty() || !alnum(label.front()) || label.back() == '-') return false;
    for (char c : label)
      if (!alnum(c) && c != '-') return false;
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

}  // namespace

bool nqn_acceptable(const std::string& nqn) {
  if (nqn.empty() || nqn.size() > kLongest) return false;
  std::string_view s = nqn;
  if (s == kDiscovery) return true;
  if (s.starts_with(kUuidForm)) return uuid_text(s.substr(kUuidForm.size()));
  if (!s.starts_with("nqn.")) return false;
  s.remove_prefix(4);
  if (!date_part(s)) return false;
  s.remove_prefix(8);
  size_t colon = s.find(':');
  if (!domain(s.substr(0, colon))) return false;
  if (colon == std::string_view::npos) return true;
  std::string_view owner = s.substr(colon + 1);
  if (owner.empty()) return false;
  for (char c : owner)
    if (!alnum(c) && c != '-' && c != '.' && c != ':' && c != '_') return false;
  return true;
}

}  // namespace spdk_sim
