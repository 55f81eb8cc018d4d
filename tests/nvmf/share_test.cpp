// The share operations against the stand-in target and initiator service.
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "nvmf/nvmf_initiator_manager.h"
#include "nvmf/nvmf_share.h"
#include "nvmf/spdk_exchange.h"
#include "tests/nvmf/nvmf_stand_ins.h"

namespace {

using json = nlohmann::json;
using test_support::NvmfStandIns;

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kZvol = "/dev/zvol/pool/vms/000000007/disk0";
constexpr const char* kNqn = "nqn.2023-08.io.ombrix:000000007.disk0";

class NvmfShare : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(stand_ins_.ready());
    stand_ins_.make_zvol("pool/vms/000000007/disk0", "disk contents");
    nvmf::set_spdk_answer_wait(std::chrono::milliseconds(300));
    nvmf::set_initiator_answer_wait(std::chrono::milliseconds(1000));
  }
  void TearDown() override {
    nvmf::set_spdk_answer_wait(std::chrono::milliseconds(5000));
    nvmf::set_initiator_answer_wait(std::chrono::milliseconds(30000));
  }
  // The target's subsystem of the test volume (null when there is none).
  json subsystem() const {
    for (const json& s : stand_ins_.target_result("nvmf_get_subsystems"))
      if (s["nqn"] == kNqn) return s;
    return nullptr;
  }

  NvmfStandIns stand_ins_;
};

TEST_F(NvmfShare, FullCycleShareMountCountUnmountUnshare) {
  share_result shared = nvmf::share_nqn(kHost, kZvol, 4096, "");
  ASSERT_EQ(shared.port, 4420u) << shared.text;
  EXPECT_EQ(shared.text, kNqn);
  EXPECT_EQ(stand_ins_.requests(), json({"nvmf_get_subsystems", "bdev_aio_create", "nvmf_create_subsystem",
                                         "nvmf_subsystem_add_ns", "nvmf_subsystem_add_listener"}));
  EXPECT_EQ(subsystem()["allow_any_host"], true);
  EXPECT_EQ(nvmf::shared_count(kZvol, kHost), 0);

  mount_result mounted = nvmf::mount_nqn(kHost, shared.text, "");
  ASSERT_FALSE(mounted.error) << *mounted.error;
  std::string contents;
  std::getline(std::ifstream(stand_ins_.path(mounted.device)), contents);
  EXPECT_EQ(contents, "disk contents") << "the device shows the volume";
  EXPECT_EQ(nvmf::shared_count("pool/vms/000000007/disk0", kHost), 1);

  EXPECT_EQ(nvmf::unmount_nqn(kHost, shared.text), std::nullopt);
  EXPECT_EQ(nvmf::shared_count(kZvol, kHost), 0);
  EXPECT_EQ(nvmf::unshare_nqn(kHost, kZvol, ""), std::nullopt);
  EXPECT_EQ(nvmf::shared_count(kZvol, kHost), -1);
  EXPECT_TRUE(subsystem().is_null());
  EXPECT_EQ(stand_ins_.target_result("bdev_get_bdevs"), json::array());
}

TEST_F(NvmfShare, RepeatedShareFindsTheShareWithoutCreating) {
  ASSERT_EQ(nvmf::share_nqn(kHost, kZvol, 4096, "").port, 4420u);
  stand_ins_.requests();
  share_result again = nvmf::share_nqn(kHost, "pool/vms/000000007/disk0", 4096, "");
  EXPECT_EQ(again.port, 4420u);
  EXPECT_EQ(again.text, kNqn);
  EXPECT_EQ(stand_ins_.requests(), json({"nvmf_get_subsystems"}));
}

TEST_F(NvmfShare, AHalfMadeShareIsCompletedNotReportedShared) {
  stand_ins_.fault("nvmf_subsystem_add_listener", "error", {{"message", "listener refused"}});
  share_result failed = nvmf::share_nqn(kHost, kZvol, 4096, "");
  EXPECT_EQ(failed.port, 0u);
  EXPECT_EQ(failed.text, "listener refused");
  stand_ins_.requests();

  share_result completed = nvmf::share_nqn(kHost, kZvol, 4096, "");
  EXPECT_EQ(completed.port, 4420u) << completed.text;
  EXPECT_EQ(stand_ins_.requests(), json({"nvmf_get_subsystems", "bdev_aio_create", "nvmf_subsystem_add_listener"}));
  mount_result mounted = nvmf::mount_nqn(kHost, completed.text, "");
  EXPECT_FALSE(mounted.error) << "the completed share serves: " << mounted.error.value_or("");
}

TEST_F(NvmfShare, HostNqnLimitsWhoMayMount) {
  const std::string host_nqn = vm_disk_nqn("7", 5, false);
  ASSERT_EQ(nvmf::share_nqn(kHost, kZvol, 512, host_nqn).port, 4420u);
  EXPECT_EQ(stand_ins_.requests().back(), "nvmf_subsystem_add_host");
  EXPECT_EQ(subsystem()["allow_any_host"], false);

  mount_result stranger = nvmf::mount_nqn(kHost, kNqn, "nqn.2013-12.org.freebsd:bhyve-other-0-5-0");
  EXPECT_EQ(stranger.device, "");
  EXPECT_NE(stranger.error.value_or("").find("not allowed"), std::string::npos) << stranger.error.value_or("");
  EXPECT_FALSE(nvmf::mount_nqn(kHost, kNqn, host_nqn).error);
  EXPECT_EQ(nvmf::unmount_nqn(kHost, kNqn), std::nullopt);
  EXPECT_EQ(nvmf::unshare_nqn(kHost, kZvol, host_nqn), std::nullopt);
}

TEST_F(NvmfShare, AShareForAHostIsMadeOnlyWhenTheHostIsAdmitted) {
  const std::string first = vm_disk_nqn("7", 0, false), second = vm_disk_nqn("8", 0, false);
  stand_ins_.fault("nvmf_subsystem_add_host", "error", {{"message", "host refused"}});
  EXPECT_EQ(nvmf::share_nqn(kHost, kZvol, 512, first).text, "host refused");
  for (const std::string& host_nqn : {first, second}) {
    SCOPED_TRACE(host_nqn);
    stand_ins_.requests();
    share_result r = nvmf::share_nqn(kHost, kZvol, 512, host_nqn);
    EXPECT_EQ(r.port, 4420u) << r.text;
    EXPECT_EQ(stand_ins_.requests(), json({"nvmf_get_subsystems", "bdev_aio_create", "nvmf_subsystem_add_host"}));
    mount_result mounted = nvmf::mount_nqn(kHost, kNqn, host_nqn);
    EXPECT_FALSE(mounted.error) << "the host is admitted: " << mounted.error.value_or("");
    EXPECT_EQ(nvmf::unmount_nqn(kHost, kNqn), std::nullopt);
  }
  stand_ins_.requests();
  EXPECT_EQ(nvmf::share_nqn(kHost, kZvol, 512, second).port, 4420u);
  EXPECT_EQ(stand_ins_.requests(), json({"nvmf_get_subsystems"})) << "an admitted host finds its share";
}

// Another share of the volume ran between our subsystem and its namespace:
// it made its own subsystem's namespace of the block device, so ours is
// refused as claimed. The share then finds and completes the other's work.
TEST_F(NvmfShare, AShareRacedByAnotherCompletesTheOthersWork) {
  const std::string bdev = "pool/vms/000000007/disk0";
  stand_ins_.target("bdev_aio_create", {{"name", bdev}, {"filename", "/dev/zvol/" + bdev}});
  stand_ins_.target("nvmf_create_subsystem", {{"nqn", kNqn}, {"allow_any_host", true}});
  stand_ins_.target("nvmf_subsystem_add_ns", {{"nqn", kNqn}, {"namespace", {{"bdev_name", bdev}}}});
  stand_ins_.fault("nvmf_get_subsystems", "result", {{"value", json::array()}});
  stand_ins_.fault("nvmf_create_subsystem", "result", {{"value", true}});
  stand_ins_.requests();

  share_result r = nvmf::share_nqn(kHost, kZvol, 4096, "");
  EXPECT_EQ(r.port, 4420u) << r.text;
  EXPECT_EQ(stand_ins_.requests(),
            json({"nvmf_get_subsystems", "bdev_aio_create", "nvmf_create_subsystem", "nvmf_subsystem_add_ns",
                  "nvmf_get_subsystems", "bdev_aio_create", "nvmf_subsystem_add_listener"}));
  EXPECT_FALSE(nvmf::mount_nqn(kHost, kNqn, "").error);
  EXPECT_EQ(nvmf::unmount_nqn(kHost, kNqn), std::nullopt);
}

TEST_F(NvmfShare, TargetFailuresComeBackAsTexts) {
  const std::string long_message(600, 'm');
  const struct {
    const char* name;
    const char* method;
    json fault;
    std::string text;  // expected result text; "*" = checked below
  } cases[] = {
      {"retried by callers", "nvmf_create_subsystem", {{"message", "Unable to create subsystem x"}},
       "Unable to create subsystem x"},
      {"block device exists", "bdev_aio_create", {{"message", "File exists"}, {"code", -17}}, kNqn},
      {"long message", "nvmf_subsystem_add_ns", {{"message", long_message}},
       long_message.substr(0, 512) + "...<truncated>"},
      {"no message", "nvmf_create_subsystem", {{"message", ""}}, "*"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    nvmf::unshare_nqn(kHost, kZvol, "");
    stand_ins_.fault(c.method, "error", c.fault);
    share_result r = nvmf::share_nqn(kHost, kZvol, 4096, "");
    if (c.text == "*") {
      EXPECT_EQ(r.port, 0u);
      std::string prefix = "Unexpected SPDK answer: answer carries no error message. Answer: ";
      ASSERT_EQ(r.text.rfind(prefix, 0), 0u) << r.text;
      json answer = json::parse(r.text.substr(prefix.size()));
      EXPECT_EQ(answer["nqn"], kNqn);
      EXPECT_EQ(answer["port"], 4420);
    } else {
      EXPECT_EQ(r.text, c.text);
      EXPECT_EQ(r.port, c.text == kNqn ? 4420u : 0u);
    }
  }
}

TEST_F(NvmfShare, AnswersOfTheWrongShapeAreErrors) {
  const std::string not_object = "Unexpected SPDK answer: answer is not a JSON object. Answer: ";
  for (json whole : {json::array(), json(7), json("text")}) {
    SCOPED_TRACE(whole.dump());
    ASSERT_EQ(nvmf::share_nqn(kHost, kZvol, 4096, "").port, 4420u);
    stand_ins_.fault("nvmf_delete_subsystem", "whole", {{"value", whole}});
    EXPECT_EQ(nvmf::unshare_nqn(kHost, kZvol, ""), not_object + whole.dump());
  }
  stand_ins_.fault("nvmf_subsystem_add_listener", "whole", {{"value", json::array()}});
  EXPECT_EQ(nvmf::share_nqn(kHost, kZvol, 4096, "").text, not_object + "[]");

  const std::string out_of_range = "Unexpected SPDK answer: share port out of range. Answer: ";
  for (json port : {json("0"), json("70000"), json("4294967296")}) {
    SCOPED_TRACE(port.dump());
    json listed = {{"nqn", kNqn},
                   {"subtype", "NVMe"},
                   {"allow_any_host", true},
                   {"namespaces", {{{"nsid", 1}, {"bdev_name", "pool/vms/000000007/disk0"}}}},
                   {"listen_addresses", {{{"trtype", "tcp"}, {"traddr", kHost}, {"trsvcid", port}}}}};
    stand_ins_.fault("nvmf_get_subsystems", "result", {{"value", {listed}}});
    share_result r = nvmf::share_nqn(kHost, kZvol, 4096, "");
    EXPECT_EQ(r.port, 0u);
    EXPECT_EQ(r.text, out_of_range + json({{"nqn", kNqn}, {"port", port}}).dump());
  }
}

TEST_F(NvmfShare, UnshareAndCountFailures) {
  std::optional<std::string> error = nvmf::unshare_nqn(kHost, kZvol, "");
  EXPECT_EQ(error, "Unable to find subsystem with NQN " + std::string(kNqn));
  EXPECT_EQ(nvmf::shared_count(kZvol, kHost), -1);

  ASSERT_EQ(nvmf::share_nqn(kHost, kZvol, 4096, "").port, 4420u);
  stand_ins_.target("nvmf_subsystem_remove_listener",
                    {{"nqn", kNqn}, {"listen_address", {{"trtype", "tcp"}, {"traddr", kHost}, {"trsvcid", "4420"}}}});
  EXPECT_EQ(nvmf::unshare_nqn(kHost, kZvol, ""), std::nullopt) << "a missing listener does not stop it";
  EXPECT_TRUE(subsystem().is_null());

  stand_ins_.fault("nvmf_subsystem_get_controllers", "close");
  EXPECT_EQ(nvmf::shared_count(kZvol, kHost), -1);
}

TEST_F(NvmfShare, InitiatorAnswersAreReadWhole) {
  ASSERT_EQ(nvmf::share_nqn(kHost, kZvol, 4096, "").port, 4420u);
  const struct {
    const char* name;
    json fault;
    std::string error;  // "" = mounted
  } cases[] = {
      {"answer in two parts", {{"kind", "split"}, {"delay_ms", 200}}, ""},
      {"closed without answer", {{"kind", "close"}}, "Unexpected SPDK answer: answer is not a JSON object"},
      {"service error", {{"kind", "error"}, {"message", "no path to target"}}, "no path to target"},
      {"no device", {{"kind", "raw"}, {"message", R"({"id":5,"jsonrpc":"2.0","result":true})"}},
       R"(Unexpected SPDK answer: session answer carries no device name. Answer: {"id":5,"jsonrpc":"2.0","result":true})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    stand_ins_.initiator("sim_fault", c.fault);
    mount_result r = nvmf::mount_nqn(kHost, kNqn, "");
    if (c.error.empty()) {
      EXPECT_FALSE(r.error) << *r.error;
      EXPECT_FALSE(r.device.empty());
      EXPECT_EQ(nvmf::unmount_nqn(kHost, kNqn), std::nullopt);
    } else {
      EXPECT_EQ(r.device, "");
      EXPECT_EQ(r.error, c.error);
    }
  }
  EXPECT_EQ(nvmf::unmount_nqn(kHost, kNqn), "No session for " + std::string(kNqn) + " on " + kHost);
}

TEST(NvmfInitiator, NoServiceListening) {
  test_support::TempRoot root;
  std::string answer;
  EXPECT_EQ(nvmf::nvmf_initiator_manager().create(kNqn, kHost, answer, ""), "");
  EXPECT_EQ(answer, R"({"error":{"message":"Error bind socket!"}})");
  EXPECT_EQ(nvmf::mount_nqn(kHost, kNqn, "").error, "Error bind socket!");
}

}  // namespace
