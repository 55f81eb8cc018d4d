#include "daemon/vm_command_word.h"

#include <gtest/gtest.h>

#include "daemon/command_deadline.h"

namespace {

TEST(VmCommandWord, EveryWordAndItsMethod) {
  struct Case {
    const char* text;
    VmCommandWord word;
    const char* method;
    bool forced;
  };
  const Case cases[] = {
      {"start", VmCommandWord::start, "vms-start", false},
      {"force_start", VmCommandWord::force_start, "vms-start", true},
      {"stop", VmCommandWord::stop, "vms-stop", false},
      {"restart", VmCommandWord::restart, "vms-restart", false},
      {"suspend", VmCommandWord::suspend, "vms-suspend", false},
      {"suspend_pool", VmCommandWord::suspend_pool, "vms-suspend", false},
      {"resume", VmCommandWord::resume, "vms-resume", false},
      {"force_resume", VmCommandWord::force_resume, "vms-resume", true},
      {"pause", VmCommandWord::pause, "vms-pause", false},
      {"unpause", VmCommandWord::unpause, "vms-unpause", false},
  };
  for (const Case& c : cases) {
    auto word = parse_vm_command_word(c.text);
    ASSERT_TRUE(word) << c.text;
    EXPECT_EQ(*word, c.word);
    EXPECT_STREQ(vm_command_word_text(c.word), c.text);
    EXPECT_STREQ(vm_command_method(c.word), c.method);
    EXPECT_EQ(vm_command_forced(c.word), c.forced) << c.text;
  }
}

TEST(VmCommandWord, OnlyExactWords) {
  for (const char* text : {"", "Start", "START", " start", "start ", "exit", "vms-start", "remove",
                           "force-start"})
    EXPECT_FALSE(parse_vm_command_word(text)) << text;
}

TEST(CommandDeadline, ByMethodAndTimeout) {
  EXPECT_EQ(command_deadline_s("vms-start", -1), 300);
  EXPECT_EQ(command_deadline_s("vms-start", 60), 300);
  EXPECT_EQ(command_deadline_s("vms-pause", 30), 300);
  EXPECT_EQ(command_deadline_s("vms-resume", 30), 3600);
  EXPECT_EQ(command_deadline_s("vms-suspend", 30), 3600);
  for (const char* method : {"vms-stop", "vms-restart", "vms-send", "vms-receive"}) {
    EXPECT_EQ(command_deadline_s(method, 30), 330) << method;
    EXPECT_EQ(command_deadline_s(method, 1), 301) << method;
    EXPECT_EQ(command_deadline_s(method, 604800), 604800 + 300) << method;
    // Out of range: no time-out of the command is added.
    EXPECT_EQ(command_deadline_s(method, 604801), 300) << method;
    EXPECT_EQ(command_deadline_s(method, 0), 300) << method;
    EXPECT_EQ(command_deadline_s(method, -1), 300) << method;
  }
  DeadlineOptions shorter;
  shorter.base_s = 2;
  shorter.long_s = 3;
  EXPECT_EQ(command_deadline_s("vms-start", -1, shorter), 2);
  EXPECT_EQ(command_deadline_s("vms-stop", 5, shorter), 7);
  EXPECT_EQ(command_deadline_s("vms-resume", -1, shorter), 3);
}

}  // namespace
