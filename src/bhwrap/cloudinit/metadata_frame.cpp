#include "bhwrap/cloudinit/metadata_frame.h"

#include <array>
#include <charconv>
#include <stdexcept>

#include <fmt/format.h>

#include "driver/base64.h"

namespace {

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = make_crc_table();

// Cuts the next blank-delimited token from `rest`, skipping blanks before it.
std::string_view next_token(std::string_view& rest) {
  size_t start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    rest = {};
    return {};
  }
  rest.remove_prefix(start);
  size_t end = rest.find(' ');
  std::string_view token = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  return token;
}

std::string_view skip_blanks(std::string_view text) {
  size_t start = text.find_first_not_of(' ');
  return start == std::string_view::npos ? std::string_view{} : text.substr(start);
}

// A whole field as an unsigned number in `base`; nothing when it is empty,
// holds anything else or does not fit 64 bits.
std::optional<uint64_t> read_number(std::string_view field, int base) {
  if (base == 16 && field.size() > 2 && field[0] == '0' && (field[1] == 'x' || field[1] == 'X'))
    field.remove_prefix(2);
  if (field.empty()) return std::nullopt;
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value, base);
  if (ec != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return value;
}

}  // namespace

uint32_t crc32(const void* bytes, size_t length) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

std::string MetadataBody::text() const {
  std::string b = request_id + " " + word;
  if (!argument.empty()) b += " " + base64_encode(argument);
  return b;
}

std::optional<MetadataFrame> MetadataFrame::parse(std::string_view line) {
  if (!line.starts_with(kMetadataFramePrefix)) return std::nullopt;
  std::string_view rest = line.substr(kMetadataFramePrefix.size());

  // The length runs from right after the prefix (no blanks skipped there).
  size_t end = rest.find(' ');
  std::string_view length = rest.substr(0, end);
  rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
  std::string_view crc = next_token(rest);
  std::string_view body = skip_blanks(rest);
  if (!read_number(length, 10) || !read_number(crc, 16)) return std::nullopt;

  MetadataFrame frame;
  frame.length = std::string(length);
  frame.crc = std::string(crc);
  // The request id runs from the start of the body text; the words after it
  // may be preceded by several blanks.
  end = body.find(' ');
  frame.body.request_id = std::string(body.substr(0, end));
  body.remove_prefix(end == std::string_view::npos ? body.size() : end);
  frame.body.word = std::string(next_token(body));
  std::string_view argument = next_token(body);
  try {
    frame.body.argument = base64_decode(argument);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return frame;
}

bool MetadataFrame::check(const MetadataFrame& frame) {
  std::optional<uint64_t> length = read_number(frame.length, 10);
  std::optional<uint64_t> crc = read_number(frame.crc, 16);
  if (!length || !crc) return false;
  std::string b = frame.body.text();
  return *length == b.size() && static_cast<uint32_t>(*crc) == crc32(b.data(), b.size());
}

MetadataFrame MetadataFrame::seal(MetadataBody body) {
  std::string b = body.text();
  MetadataFrame frame;
  frame.length = std::to_string(b.size());
  frame.crc = fmt::format("{:08x}", crc32(b.data(), b.size()));
  frame.body = std::move(body);
  return frame;
}

std::string MetadataFrame::compose(const MetadataFrame& frame) {
  return fmt::format("{}{} {} {}", kMetadataFramePrefix, frame.length, frame.crc, frame.body.text());
}
