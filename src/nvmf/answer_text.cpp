#include "nvmf/answer_text.h"

#include <cmath>

namespace nvmf {
namespace {

constexpr size_t kAnswerLimit = 512;

const nlohmann::json* at_pointer(const nlohmann::json& j, const std::string& pointer) {
  try {
    nlohmann::json::json_pointer p(pointer);
    if (!j.contains(p)) return nullptr;
    return &j.at(p);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace

std::string json_get_text(const nlohmann::json& j, const std::string& pointer) {
  const nlohmann::json* v = at_pointer(j, pointer);
  if (!v) return "";
  if (v->is_string()) return v->get<std::string>();
  if (v->is_number()) return v->dump();
  return "";
}

uint64_t json_get_u64(const nlohmann::json& j, const std::string& pointer, uint64_t fallback) {
  const nlohmann::json* v = at_pointer(j, pointer);
  if (!v) return fallback;
  if (v->is_number_unsigned()) return v->get<uint64_t>();
  if (v->is_number_integer()) {
    int64_t i = v->get<int64_t>();
    return i < 0 ? fallback : static_cast<uint64_t>(i);
  }
  if (v->is_number_float()) {
    double d = v->get<double>();
    if (d >= 0 && d < 18446744073709551616.0 && std::floor(d) == d) return static_cast<uint64_t>(d);
    return fallback;
  }
  if (v->is_string()) {
    const std::string& s = v->get_ref<const std::string&>();
    size_t digits = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') ++digits;
    if (digits == 0) return fallback;
    try {
      return std::stoull(s.substr(0, digits));
    } catch (const std::exception&) {
      return fallback;
    }
  }
  return fallback;
}

std::string truncate_answer(const std::string& text) {
  if (text.size() <= kAnswerLimit) return text;
  size_t cut = kAnswerLimit;
  // Never end inside a character: back off over continuation bytes to the
  // start of the character that the limit splits.
  if ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  }
  return text.substr(0, cut) + "...<truncated>";
}

std::string unexpected_answer_text(const std::string& what, const std::string& answer) {
  return "Unexpected SPDK answer: " + what + ". Answer: " + (answer.empty() ? "<empty>" : truncate_answer(answer));
}

std::string answer_error_message(const nlohmann::json& answer, const std::string& answer_text,
                                 const std::string& fallback) {
  std::string message = json_get_text(answer, "/error/message");
  if (!message.empty()) return truncate_answer(message);
  return unexpected_answer_text(fallback, answer_text);
}

bool parse_answer(const std::string& text, nlohmann::json& out) {
  nlohmann::json parsed;
  try {
    parsed = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  if (!parsed.is_object()) return false;
  out = std::move(parsed);
  return true;
}

std::string compact(const nlohmann::json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string error_object(const std::string& message, bool with_code) {
  nlohmann::json error = {{"message", message}};
  if (with_code) error["code"] = -1;
  return compact({{"error", error}});
}

void unexpected_answer_error(const std::string& what, std::string& answer) {
  std::string message = "Unexpected SPDK answer: " + what;
  if (!answer.empty()) message += ". Answer: " + answer;
  answer = error_object(message);
}

}  // namespace nvmf
