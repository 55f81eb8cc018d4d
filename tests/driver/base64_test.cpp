#include "driver/base64.h"

#include <gtest/gtest.h>

namespace {

const char* kBadInput = "If input is correct, this line should never be reached.";

TEST(Base64, StandardVectorsAlsoWithoutTheirFill) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},         {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, coded] : vectors) {
    EXPECT_EQ(base64_encode(plain), coded);
    EXPECT_EQ(base64_decode(coded), plain);
    EXPECT_EQ(base64_decode(coded.substr(0, coded.find('='))), plain) << coded;
  }
  EXPECT_EQ(base64_decode("Zg="), "f");  // half the fill
}

TEST(Base64, UrlAlphabetAndEitherOnDecode) {
  std::string bytes("\xfb\xff\xfe", 3);
  EXPECT_EQ(base64_encode(bytes), "+//+");
  EXPECT_EQ(base64_encode(bytes, true), "-__-");
  EXPECT_EQ(base64_encode("f", true), "Zg..");
  for (bool url : {false, true}) {
    EXPECT_EQ(base64_decode("+//+", url), bytes);
    EXPECT_EQ(base64_decode("-__-", url), bytes);
    EXPECT_EQ(base64_decode("Zg..", url), "f");
    EXPECT_EQ(base64_decode("Zg==", url), "f");
  }
}

TEST(Base64, AllByteValuesRoundTrip) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
  for (size_t cut = 0; cut < 3; ++cut) {
    std::string part = bytes.substr(cut);
    EXPECT_EQ(base64_decode(base64_encode(part)), part);
    EXPECT_EQ(base64_decode(base64_encode(part, true), true), part);
  }
}

TEST(Base64, BadInputThrows) {
  for (const char* bad : {"Zm9v!", "Zm 9v", "Zm9v\n", "Z", "Zm9vY", "Zg=a", "Zg===", "=Zg", "Zm9v=",
                          "Zm9vY==="}) {
    try {
      base64_decode(bad);
      ADD_FAILURE() << "no exception for '" << bad << "'";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), kBadInput) << bad;
    }
  }
}

}  // namespace
