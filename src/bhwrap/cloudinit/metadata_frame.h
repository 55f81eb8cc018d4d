// The V2 frames of the guest metadata protocol:
//
//   "V2 " + length + " " + crc + " " + body
//   body = request id + " " + word [+ " " + base64(argument)]
//
// `length` is the byte length of the body in decimal, `crc` its CRC-32 in
// hex (answers write exactly eight lower-case digits). The argument travels
// base64-encoded and is held decoded here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Every framed line begins so.
inline constexpr std::string_view kMetadataFramePrefix = "V2 ";

// IEEE 802.3 CRC-32 (reflected 0xEDB88320, initial 0xFFFFFFFF, final
// complement); 0 for no bytes.
uint32_t crc32(const void* bytes, size_t length);

struct MetadataBody {
  std::string request_id;
  std::string word;      // the request's command or the answer's status
  std::string argument;  // decoded

  // The body as it travels: the argument base64-encoded again (so this is
  // the canonical text the length and CRC describe).
  std::string text() const;

  bool operator==(const MetadataBody&) const = default;
};

struct MetadataFrame {
  std::string length;  // as written on the line
  std::string crc;     // as written on the line
  MetadataBody body;

  // Splits a line beginning with "V2 " into its fields. Nothing when the line
  // does not begin so, when the length is not a decimal number, the CRC not a
  // hex number (an optional "0x" allowed) or the argument not base64.
  static std::optional<MetadataFrame> parse(std::string_view line);

  // Whether the length and CRC fields describe the (canonical) body.
  static bool check(const MetadataFrame& frame);

  // The frame of an answer body, its fields filled in.
  static MetadataFrame seal(MetadataBody body);

  // The frame as a line (without the line feed).
  static std::string compose(const MetadataFrame& frame);
};
