#include "nvmf/nqn_valid.h"

#include <cctype>

namespace {

constexpr size_t kMaxLength = 223;
constexpr std::string_view kDiscovery = "nqn.2014-08.org.nvmexpress.discovery";
constexpr std::string_view kUuidPrefix = "nqn.2014-08.org.nvmexpress:uuid:";

bool digit(char c) { return c >= '0' && c <= '9'; }
bool alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

bool uuid_form(std::string_view rest) {
  if (rest.size() != 36) return false;
  for (size_t i = 0; i < rest.size(); ++i) {
    bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? rest[i] != '-' : !std::isxdigit(static_cast<unsigned char>(rest[i]))) return false;
  }
  return true;
}

}  // namespace

bool nqn_is_valid(const std::string& nqn) {
  if (nqn.empty() || nqn.size() > kMaxLength) return false;
  if (nqn == kDiscovery) return true;
  std::string_view text = nqn;
  if (text.substr(0, kUuidPrefix.size()) == kUuidPrefix) return uuid_form(text.substr(kUuidPrefix.size()));

  // "nqn.yyyy-mm."
  if (text.size() < 12 || text.substr(0, 4) != "nqn.") return false;
  for (size_t i : {4, 5, 6, 7, 9, 10})
    if (!digit(text[i])) return false;
  if (text[8] != '-' || text[11] != '.') return false;
  int month = (text[9] - '0') * 10 + (text[10] - '0');
  if (month < 1 || month > 12) return false;

  // Reverse domain: labels of letters, digits and '-', not beginning or ending with '-'.
  size_t i = 12;
  for (;;) {
    if (i >= text.size() || !alnum(text[i])) return false;
    while (i < text.size() && (alnum(text[i]) || text[i] == '-')) ++i;
    if (text[i - 1] == '-') return false;
    if (i == text.size()) return true;
    if (text[i] != '.') break;
    ++i;
  }
  if (text[i] != ':' || i + 1 == text.size()) return false;
  for (++i; i < text.size(); ++i) {
    char c = text[i];
    if (!alnum(c) && c != '-' && c != '.' && c != ':' && c != '_') return false;
  }
  return true;
}
