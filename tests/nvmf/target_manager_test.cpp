// The target manager's presence tests and host lists against the stand-in.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "nvmf/nvmf_target_manager.h"
#include "tests/nvmf/nvmf_stand_ins.h"

namespace {

using json = nlohmann::json;

constexpr const char* kHost = "127.0.0.1";
constexpr const char* kNqn = "nqn.2023-08.io.ombrix:d.v";

std::string message(const std::string& answer) {
  return json::parse(answer).value("/error/message"_json_pointer, std::string());
}

TEST(NvmfTargetManager, PresenceTestsAndHostLists) {
  test_support::NvmfStandIns stand_ins(false);
  ASSERT_TRUE(stand_ins.ready());
  stand_ins.make_zvol("p/d/v");
  nvmf::nvmf_target_manager manager("", "");
  std::string answer;

  EXPECT_FALSE(manager.check_subsystem(kNqn, answer, kHost));
  EXPECT_EQ(message(answer), "Target not exists!");
  EXPECT_FALSE(manager.check_subsystem("nqn.2014-08.org.nvmexpress.discovery", answer, kHost))
      << "the discovery subsystem is never taken";
  EXPECT_EQ(manager.get_hosts(kNqn, answer, kHost), "[]");

  ASSERT_TRUE(manager.share_volume("p/d/v", kHost, 4096, answer, "nqn.2014-08.h:one"));
  EXPECT_TRUE(manager.check_subsystem(kNqn, answer, kHost));
  EXPECT_EQ(message(answer), std::string("Target already exists! NQN: ") + kNqn);
  EXPECT_TRUE(manager.check_namespace(kNqn, "p/d/v", 0, answer, kHost));
  EXPECT_EQ(message(answer), "Namespace already exists!");
  EXPECT_FALSE(manager.check_namespace(kNqn, "p/d/w", 7, answer, kHost));
  EXPECT_EQ(message(answer), "Namespace not exists!");
  EXPECT_EQ(json::parse(manager.get_namespaces(kNqn, answer, kHost))[0]["bdev_name"], "p/d/v");
  EXPECT_EQ(manager.list_hosts(answer, kHost), 1);
  EXPECT_TRUE(manager.ensure_host(kNqn, "nqn.2014-08.h:one", "", "", answer, kHost));
  EXPECT_FALSE(manager.ensure_host(kNqn, "nqn.2014-08.h:one", "key", "ctrl", answer, kHost));

  EXPECT_FALSE(manager.delete_subsystem(kNqn, "10.0.0.9", "4420", answer, kHost)) << "no such listener";
  EXPECT_TRUE(manager.delete_subsystem(kNqn, kHost, "4420", answer, kHost));
  EXPECT_FALSE(manager.check_subsystem(kNqn, answer, kHost));

  // A controller list of the wrong shape is no count.
  stand_ins.fault("nvmf_subsystem_get_controllers", "error", {{"message", "gone"}});
  EXPECT_EQ(manager.count_controllers(kNqn, answer, kHost), -1);
  EXPECT_EQ(message(answer), "gone");
  stand_ins.fault("nvmf_subsystem_get_controllers", "result", {{"value", {{"cntlid", 1}}}});
  EXPECT_EQ(manager.count_controllers(kNqn, answer, kHost), -1);
  EXPECT_EQ(message(answer).rfind("Unexpected SPDK answer: nvmf_subsystem_get_controllers answered without a "
                                  "controller list. Answer: ", 0),
            0u)
      << answer;
}

}  // namespace
