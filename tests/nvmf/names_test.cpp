// NQN checks and the names and error texts the operations make.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "nvmf/answer_text.h"
#include "nvmf/nqn_valid.h"
#include "nvmf/nvmf_names.h"

namespace {

TEST(NqnValid, JudgesEveryForm) {
  const std::string uuid = "01234567-89ab-cdef-ABCD-0123456789ab";
  const struct {
    std::string nqn;
    bool valid;
  } cases[] = {
      {"nqn.2014-08.org.nvmexpress.discovery", true},
      {"nqn.2014-08.org.nvmexpress.discoveryx", true},
      {"nqn.2013-12.org.freebsd:bhyve-vm1-0-2-0", true},
      {"nqn.2023-08.com.example", true},
      {"nqn.2014-08.org.nvmexpress:uuid:" + uuid, true},
      {"nqn.2014-08.org.nvmexpress:uuid:" + uuid + "0", false},
      {"nqn.2014-08.org.nvmexpress:uuid:" + uuid.substr(1), false},
      {"nqn.2014-08.org.nvmexpress:uuid:" + std::string(36, 'g'), false},
      {"nqn.2023-13.com.example:a", false},
      {"nqn.2023-00.com.example", false},
      {"nqn.2020-01.com.-bad", false},
      {"nqn.2020-01.com.bad-", false},
      {"nqn.2020-01.com.example:", false},
      {"nqn.2020-01.com..example", false},
      {"nqn.2020-01.com.example:a b", false},
      {"nqn.202a-01.com.example", false},
      {"", false},
      {"nqn.2020-01.com.example:" + std::string(200, 'a'), false},  // 224 characters
      {"nqn.2020-01.com.example:" + std::string(199, 'a'), true},   // 223
  };
  for (const auto& c : cases) EXPECT_EQ(nqn_is_valid(c.nqn), c.valid) << c.nqn;
}

TEST(NvmfNames, VolumeSubsystemAndHostNqns) {
  EXPECT_EQ(nvmf::volume_name("/dev/zvol/p/d/x"), "p/d/x");
  EXPECT_EQ(nvmf::volume_name("p/d/x"), "p/d/x");
  EXPECT_EQ(nvmf::subsystem_nqn_from_path("pool/vms/000000007/disk0"), "nqn.2023-08.io.ombrix:000000007.disk0");
  EXPECT_EQ(nvmf::subsystem_nqn_from_path("disk"), "nqn.2023-08.io.ombrix:.disk");
  EXPECT_TRUE(nqn_is_valid(nvmf::subsystem_nqn_from_path("pool/vms/000000007/disk0")));
  EXPECT_EQ(vm_disk_nqn("vm1", 2, false), "nqn.2013-12.org.freebsd:bhyve-vm1-0-2-0");
  EXPECT_EQ(vm_disk_nqn("vm1", static_cast<uint8_t>(256), false), "nqn.2013-12.org.freebsd:bhyve-vm1-0-0-0");
  EXPECT_EQ(snapshot_nqn("vm1", false), "nqn.2013-12.org.freebsd:bhyve-vm1-snapshot");
  EXPECT_EQ(vm_disk_nqn("vm1", 2, true), "");
  EXPECT_EQ(snapshot_nqn("vm1", true), "");
  EXPECT_EQ(nvmf::format_uuid_text("0123456789abcdef0011223344556677"), "01234567-0011-0000-0000-223344556677");
  EXPECT_EQ(nvmf::format_uuid_text("01234567"), "01234567");
}

TEST(AnswerText, TruncatesOnCharacterBoundaries) {
  const std::string two_bytes = "\xc3\xa9";  // é
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {std::string(512, 'a'), std::string(512, 'a')},
      {std::string(600, 'a'), std::string(512, 'a') + "...<truncated>"},
      // The limit falls inside a two-byte character: it goes whole.
      {std::string(511, 'a') + two_bytes + "bbb", std::string(511, 'a') + "...<truncated>"},
      {std::string(510, 'a') + two_bytes + "bbb", std::string(510, 'a') + two_bytes + "...<truncated>"},
  };
  for (const auto& c : cases) {
    std::string cut = nvmf::truncate_answer(c.text);
    EXPECT_EQ(cut, c.expected);
    EXPECT_NO_THROW((void)nlohmann::json(cut).dump()) << "still UTF-8";
  }
}

TEST(AnswerText, ErrorTextsAndMemberReads) {
  nlohmann::json answer = nlohmann::json::parse(
      R"({"error":{"message":7},"nqn":"n","port":"4421x","f":12.0,"neg":-3,"big":1e30})");
  EXPECT_EQ(nvmf::answer_error_message(answer, "A", "none"), "7");
  EXPECT_EQ(nvmf::answer_error_message(nlohmann::json::object(), "", "none"),
            "Unexpected SPDK answer: none. Answer: <empty>");
  EXPECT_EQ(nvmf::json_get_u64(answer, "/port", 4420), 4421u);
  EXPECT_EQ(nvmf::json_get_u64(answer, "/f", 4420), 12u);
  EXPECT_EQ(nvmf::json_get_u64(answer, "/neg", 4420), 4420u);
  EXPECT_EQ(nvmf::json_get_u64(answer, "/big", 4420), 4420u);
  EXPECT_EQ(nvmf::json_get_u64(answer, "/missing", 4420), 4420u);
  EXPECT_EQ(nvmf::json_get_text(answer, "/error"), "");

  std::string text = "old";
  nvmf::unexpected_answer_error("what", text);
  EXPECT_EQ(text, R"({"error":{"code":-1,"message":"Unexpected SPDK answer: what. Answer: old"}})");
}

}  // namespace
