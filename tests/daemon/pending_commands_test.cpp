#include "daemon/pending_commands.h"

#include <gtest/gtest.h>

namespace {

PendingCommand command(const std::string& vm_id, double deadline,
                       VmCommandWord word = VmCommandWord::start) {
  PendingCommand c;
  c.vm_id = vm_id;
  c.word = word;
  c.deadline = deadline;
  return c;
}

TEST(PendingCommands, OneCommandPerVm) {
  PendingCommands pending;
  EXPECT_FALSE(pending.busy("100001"));
  EXPECT_TRUE(pending.try_add(command("100001", 10)));
  EXPECT_TRUE(pending.busy("100001"));
  // The second command for the VM is refused and the first one kept.
  EXPECT_FALSE(pending.try_add(command("100001", 99, VmCommandWord::stop)));
  ASSERT_NE(pending.find("100001"), nullptr);
  EXPECT_EQ(pending.find("100001")->word, VmCommandWord::start);
  EXPECT_EQ(pending.find("100001")->deadline, 10);
  // Other VMs are not affected.
  EXPECT_TRUE(pending.try_add(command("100002", 20)));
  EXPECT_EQ(pending.size(), 2u);

  auto taken = pending.take("100001");
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->vm_id, "100001");
  EXPECT_FALSE(pending.busy("100001"));
  EXPECT_FALSE(pending.take("100001"));
  EXPECT_EQ(pending.find("100001"), nullptr);
  EXPECT_TRUE(pending.try_add(command("100001", 30, VmCommandWord::stop)));
}

TEST(PendingCommands, ExpiredByDeadline) {
  PendingCommands pending;
  pending.try_add(command("3", 30));
  pending.try_add(command("1", 10));
  pending.try_add(command("2", 20));
  EXPECT_TRUE(pending.expired(9.9).empty());
  EXPECT_EQ(pending.expired(10), std::vector<std::string>{"1"});
  EXPECT_EQ(pending.expired(25), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(pending.ids(), (std::vector<std::string>{"1", "2", "3"}));
}

}  // namespace
