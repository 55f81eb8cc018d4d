#include "driver/uuid.h"

#include <array>
#include <cstdint>
#include <random>

#include <sha1.h>

namespace {

std::string uuid_text(const std::array<uint8_t, 16>& b) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += digits[b[i] >> 4];
    out += digits[b[i] & 0x0f];
  }
  return out;
}

void set_version(std::array<uint8_t, 16>& b, uint8_t version) {
  b[6] = static_cast<uint8_t>((b[6] & 0x0f) | (version << 4));
  b[8] = static_cast<uint8_t>((b[8] & 0x3f) | 0x80);
}

}  // namespace

std::string make_uuid_text() {
  static thread_local std::random_device device;
  std::array<uint8_t, 16> b;
  for (size_t i = 0; i < b.size(); i += 4) {
    uint32_t r = device();
    for (size_t k = 0; k < 4; ++k) b[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
  set_version(b, 4);
  return uuid_text(b);
}

std::string sha1_uuid(const void* data, size_t length) {
  SHA1_CTX ctx;
  SHA1Init(&ctx);
  if (length) SHA1Update(&ctx, static_cast<const uint8_t*>(data), length);
  uint8_t digest[SHA1_DIGEST_LENGTH];
  SHA1Final(digest, &ctx);
  std::array<uint8_t, 16> b;
  for (size_t i = 0; i < b.size(); ++i) b[i] = digest[i];
  set_version(b, 5);
  return uuid_text(b);
}
