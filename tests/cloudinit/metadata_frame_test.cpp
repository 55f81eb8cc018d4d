// The V2 frames of the guest metadata protocol and their CRC-32.
#include "bhwrap/cloudinit/metadata_frame.h"

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "driver/base64.h"

namespace {

uint32_t crc_of(const std::string& s) { return crc32(s.data(), s.size()); }

std::string hex8(uint32_t v) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", v);
  return hex;
}

TEST(MetadataCrc32, KnownValues) {
  EXPECT_EQ(crc_of(""), 0u);
  EXPECT_EQ(crc_of("abc"), 0x352441c2u);
  EXPECT_EQ(crc_of("123456789"), 0xcbf43926u);
  // Bytes above 0x7f and nulls count as bytes, not as signed characters.
  EXPECT_EQ(crc_of(std::string("\xff\x00\x80", 3)), 0xac616edfu);
}

TEST(MetadataFrame, SealedAnswersComposeWithEightDigitCrc) {
  MetadataFrame frame = MetadataFrame::seal({"abc123", "SUCCESS", "hello"});
  std::string body = "abc123 SUCCESS " + base64_encode("hello");
  EXPECT_EQ(frame.length, std::to_string(body.size()));
  EXPECT_EQ(frame.crc, hex8(crc_of(body)));
  EXPECT_EQ(MetadataFrame::compose(frame),
            "V2 " + std::to_string(body.size()) + " " + hex8(crc_of(body)) + " " + body);

  // No argument: no trailing blank; a small CRC keeps its leading zeros.
  MetadataFrame bare = MetadataFrame::seal({"id", "NOTFOUND", ""});
  EXPECT_EQ(bare.body.text(), "id NOTFOUND");
  EXPECT_EQ(bare.crc.size(), 8u);
  EXPECT_TRUE(MetadataFrame::check(bare));
}

TEST(MetadataFrame, ParsesWhatItComposes) {
  for (const std::string argument : {"", "hostname", "sdc:nics:0:mac", "a\nb c"}) {
    MetadataFrame sealed = MetadataFrame::seal({"r1", "GET", argument});
    std::optional<MetadataFrame> parsed = MetadataFrame::parse(MetadataFrame::compose(sealed));
    ASSERT_TRUE(parsed) << argument;
    EXPECT_EQ(parsed->body, sealed.body);
    EXPECT_TRUE(MetadataFrame::check(*parsed)) << argument;
  }
}

TEST(MetadataFrame, RequestsMayWriteTheCrcInAnyHexForm) {
  std::string body = "r1 GET " + base64_encode("hostname");
  uint32_t crc = crc_of(body);
  char lower[16], upper[16], prefixed[16];
  std::snprintf(lower, sizeof lower, "%x", crc);
  std::snprintf(upper, sizeof upper, "%X", crc);
  std::snprintf(prefixed, sizeof prefixed, "0x%x", crc);
  for (const char* field : {lower, upper, prefixed}) {
    std::string line = "V2 " + std::to_string(body.size()) + " " + field + " " + body;
    std::optional<MetadataFrame> frame = MetadataFrame::parse(line);
    ASSERT_TRUE(frame) << line;
    EXPECT_TRUE(MetadataFrame::check(*frame)) << line;
  }
  // More than 32 bits are cut to 32.
  std::string wide = "V2 " + std::to_string(body.size()) + " 1" + lower + " " + body;
  ASSERT_TRUE(MetadataFrame::parse(wide));
  EXPECT_TRUE(MetadataFrame::check(*MetadataFrame::parse(wide)));
}

TEST(MetadataFrame, ExtraBlanksBetweenFieldsAndAfterTheArgument) {
  std::string body = "r1 GET " + base64_encode("hostname");
  std::string crc = MetadataFrame::seal({"r1", "GET", "hostname"}).crc;
  std::string line = "V2 " + std::to_string(body.size()) + "   " + crc + "  r1   GET  " +
                     base64_encode("hostname") + " trailing words";
  std::optional<MetadataFrame> frame = MetadataFrame::parse(line);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body, (MetadataBody{"r1", "GET", "hostname"}));
  // The check covers the canonical body, so the extra blanks do not matter.
  EXPECT_TRUE(MetadataFrame::check(*frame));
}

TEST(MetadataFrame, UnparsableLines) {
  std::string crc = MetadataFrame::seal({"r1", "KEYS", ""}).crc;
  for (const std::string& line : {
           std::string("V2 "), std::string("V2"), std::string("V1 7 ") + crc + " r1 KEYS",
           std::string("V2 abc ") + crc + " r1 KEYS",   // length not a number
           std::string("V2 7"),                         // no CRC field
           std::string("V2 7  "),                       // empty CRC field
           std::string("V2 -7 ") + crc + " r1 KEYS",     // negative length
           std::string("V2 7 xyz r1 KEYS"),             // CRC not hex
           std::string("V2 7 0x r1 KEYS"),              // prefix without digits
           std::string("V2 7 12345678901234567890 r1 KEYS"),  // CRC out of range
           std::string("V2 99999999999999999999999 ") + crc + " r1 KEYS",  // length out of range
           std::string("V2 12 ") + crc + " r1 GET ***",  // argument not base64
       }) {
    EXPECT_FALSE(MetadataFrame::parse(line)) << line;
  }
}

TEST(MetadataFrame, CheckRejectsFieldsThatDoNotDescribeTheBody) {
  MetadataFrame good = MetadataFrame::seal({"r1", "GET", "hostname"});
  MetadataFrame longer = good;
  longer.length = "100000";  // more than the line carries
  EXPECT_FALSE(MetadataFrame::check(longer));
  MetadataFrame bad_crc = good;
  bad_crc.crc = "0";
  EXPECT_FALSE(MetadataFrame::check(bad_crc));
  MetadataFrame other_body = good;
  other_body.body.request_id = "r2";
  EXPECT_FALSE(MetadataFrame::check(other_body));

  // A base64 argument without its fill is read, but the canonical body is
  // longer than the length the guest gave.
  std::string unfilled = base64_encode("ab");  // "YWI="
  unfilled.pop_back();
  std::string body = "r1 GET " + unfilled;
  std::string line = "V2 " + std::to_string(body.size()) + " " + hex8(crc_of(body)) + " " + body;
  std::optional<MetadataFrame> frame = MetadataFrame::parse(line);
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->body.argument, "ab");
  EXPECT_FALSE(MetadataFrame::check(*frame));
}

TEST(MetadataFrame, HugeGarbageLineIsRefusedWithoutTrouble) {
  std::string line = "V2 " + std::string(100000, '9') + " " + std::string(100000, 'f') + " " +
                     std::string(100000, '\x01');
  EXPECT_FALSE(MetadataFrame::parse(line));
  std::string garbage(65536, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  EXPECT_FALSE(MetadataFrame::parse(garbage));
  EXPECT_FALSE(MetadataFrame::parse("V2 " + garbage));
}

}  // namespace
