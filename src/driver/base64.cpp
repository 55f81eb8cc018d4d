#include "driver/base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrl[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr int kFill = 64;
constexpr int kInvalid = -1;

// Character -> 6-bit value, kFill for a fill character, kInvalid otherwise.
constexpr std::array<int8_t, 256> make_decode_table() {
  std::array<int8_t, 256> table{};
  for (auto& v : table) v = kInvalid;
  for (int i = 0; i < 64; ++i) {
    table[static_cast<unsigned char>(kStandard[i])] = static_cast<int8_t>(i);
    table[static_cast<unsigned char>(kUrl[i])] = static_cast<int8_t>(i);
  }
  table['='] = kFill;
  table['.'] = kFill;
  return table;
}
constexpr auto kDecode = make_decode_table();

[[noreturn]] void bad_input() {
  throw std::invalid_argument("If input is correct, this line should never be reached.");
}

}  // namespace

std::string base64_encode(std::string_view bytes, bool url) {
  const char* alphabet = url ? kUrl : kStandard;
  const char fill = url ? '.' : '=';
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 | static_cast<uint8_t>(bytes[i + 1]) << 8 |
                 static_cast<uint8_t>(bytes[i + 2]);
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  size_t rest = bytes.size() - i;
  if (rest) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += alphabet[v >> 18];
    out += alphabet[(v >> 12) & 63];
    out += rest == 2 ? alphabet[(v >> 6) & 63] : fill;
    out += fill;
  }
  return out;
}

std::string base64_decode(std::string_view text, bool /*url*/) {
  std::string out;
  out.reserve(text.size() / 4 * 3 + 2);
  uint32_t bits = 0;
  int count = 0;      // characters of data in the current group of four
  size_t fills = 0;   // fill characters seen; data may not follow them
  for (unsigned char c : text) {
    int v = kDecode[c];
    if (v == kInvalid) bad_input();
    if (v == kFill) {
      ++fills;
      continue;
    }
    if (fills) bad_input();
    bits = bits << 6 | static_cast<uint32_t>(v);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) bad_input();  // six bits make no byte
  if (count == 2) {
    out += static_cast<char>(bits >> 4);
  } else if (count == 3) {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  // Fill only completes a last group of two or three characters, in part or whole.
  if (fills && (count < 2 || count + fills > 4)) bad_input();
  return out;
}
