// Reading and writing the answer texts of the storage target and the
// initiator service: typed reads of members, the error object that every
// transport failure leaves in an answer, and the error texts callers get.
// None of these throws.
#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace nvmf {

// The member at JSON pointer `pointer` as text: a string unchanged, a number in
// decimal; "" for anything else or when it is missing.
std::string json_get_text(const nlohmann::json& j, const std::string& pointer);

// The member at `pointer` as an unsigned number: a non-negative integer, a text
// beginning with digits (those digits), an integral non-negative float below
// 2^64; `fallback` otherwise.
uint64_t json_get_u64(const nlohmann::json& j, const std::string& pointer, uint64_t fallback);

// `text` when it has at most 512 bytes; else its first 512 bytes, shortened to
// the last whole UTF-8 character, followed by "...<truncated>".
std::string truncate_answer(const std::string& text);

// "Unexpected SPDK answer: " + what + ". Answer: " + the (truncated) answer or "<empty>".
std::string unexpected_answer_text(const std::string& what, const std::string& answer);

// The answer's "/error/message" (truncated) when it has one; else
// unexpected_answer_text(fallback, answer_text).
std::string answer_error_message(const nlohmann::json& answer, const std::string& answer_text,
                                 const std::string& fallback);

// Parses `text`; true (and `out` set) only when it is a JSON object.
bool parse_answer(const std::string& text, nlohmann::json& out);

// The compact error object {"error":{"code":-1,"message":...}}; without
// "code" when `with_code` is false.
std::string error_object(const std::string& message, bool with_code = true);

// Replaces `answer` by the error object of "Unexpected SPDK answer: " + what,
// with ". Answer: " + the old answer when it was not empty.
void unexpected_answer_error(const std::string& what, std::string& answer);

// The compact serialisation of `j`; invalid UTF-8 replaced, never throws.
std::string compact(const nlohmann::json& j);

}  // namespace nvmf
