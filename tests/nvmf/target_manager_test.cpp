// The target manager's presence tests and host lists against the stand-in.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "nvmf/nvmf_target_manager.h"
#include "tests/nvmf/nvmf_stand_ins.h"

namespace {

using json = nlohmann::json;

constexpr const char* kManagerHost = "127.0.0.1";
constexpr const char* kManagerNqn = "nqn.2023-08.io.ombrix:d.v";

std::string message(const std::string& answer) {
  return json::parse(answer).value("/error/message"_json_pointer, std::string());
}

TEST(NvmfTargetManager, PresenceTestsAndHostLists) {
  test_support::NvmfStandIns stand_ins(false);
  ASSERT_TRUE(stand_ins.ready());
  stand_ins.make_zvol("p/d/v");
  nvmf::nvmf_target_manager manager("", "");
  std::string answer;

  EXPECT_FALSE(manager.check_subsystem(kManagerNqn, answer, kManagerHost));
  EXPECT_EQ(message(answer), "Target not exists!");
  EXPECT_FALSE(manager.check_subsystem("nqn.2014-08.org.nvmexpress.discovery", answer, kManagerHost))
      << "the discovery subsystem is never taken";
  EXPECT_EQ(manager.get_hosts(kManagerNqn, answer, kManagerHost), "[]");

  ASSERT_TRUE(manager.share_volume("p/d/v", kManagerHost, 4096, answer, "nqn.2014-08.h:one"));
  EXPECT_TRUE(manager.check_subsystem(kManagerNqn, answer, kManagerHost));
  EXPECT_EQ(message(answer), std::string("Target already exists! NQN: ") + kManagerNqn);
  EXPECT_TRUE(manager.check_namespace(kManagerNqn, "p/d/v", 0, answer, kManagerHost));
  EXPECT_EQ(message(answer), "Namespace already exists!");
  EXPECT_FALSE(manager.check_namespace(kManagerNqn, "p/d/w", 7, answer, kManagerHost));
  EXPECT_EQ(message(answer), "Namespace not exists!");
  EXPECT_EQ(json::parse(manager.get_namespaces(kManagerNqn, answer, kManagerHost))[0]["bdev_name"], "p/d/v");
  EXPECT_EQ(manager.list_hosts(answer, kManagerHost), 1);
  EXPECT_TRUE(manager.ensure_host(kManagerNqn, "nqn.2014-08.h:one", "", "", answer, kManagerHost));
  EXPECT_FALSE(manager.ensure_host(kManagerNqn, "nqn.2014-08.h:one", "key", "ctrl", answer, kManagerHost));

  EXPECT_FALSE(manager.delete_subsystem(kManagerNqn, "10.0.0.9", "4420", answer, kManagerHost)) << "no such listener";
  EXPECT_TRUE(manager.delete_subsystem(kManagerNqn, kManagerHost, "4420", answer, kManagerHost));
  EXPECT_FALSE(manager.check_subsystem(kManagerNqn, answer, kManagerHost));

  // A controller list of the wrong shape is no count.
  stand_ins.fault("nvmf_subsystem_get_controllers", "error", {{"message", "gone"}});
  EXPECT_EQ(manager.count_controllers(kManagerNqn, answer, kManagerHost), -1);
  EXPECT_EQ(message(answer), "gone");
  stand_ins.fault("nvmf_subsystem_get_controllers", "result", {{"value", {{"cntlid", 1}}}});
  EXPECT_EQ(manager.count_controllers(kManagerNqn, answer, kManagerHost), -1);
  EXPECT_EQ(message(answer).rfind("Unexpected SPDK answer: nvmf_subsystem_get_controllers answered without a "
                                  "controller list. Answer: ", 0),
            0u)
      << answer;
}

}  // namespace
