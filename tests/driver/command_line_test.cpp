#include "driver/command_line.h"

#include <gtest/gtest.h>

#include "driver/config.h"

namespace {

struct Parsed {
  int result;
  Config config;
  std::string out;
  std::string err;
};

Parsed parse(std::vector<const char*> words) {
  words.insert(words.begin(), "ombrix-vm");
  Parsed p;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  p.result = parse_command_line(static_cast<int>(words.size()), words.data(), p.config);
  p.out = testing::internal::GetCapturedStdout();
  p.err = testing::internal::GetCapturedStderr();
  return p;
}

TEST(CommandLine, TopLevelActions) {
  auto p = parse({"start", "--daemon"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.config.system, "");
  EXPECT_EQ(p.config.action, "start");
  EXPECT_TRUE(p.config.daemon);
  for (const char* action : {"stop", "status", "inventory"}) {
    p = parse({action});
    EXPECT_EQ(p.result, 0) << action;
    EXPECT_EQ(p.config.action, action);
  }
}

TEST(CommandLine, SystemsWithTheirActionsAndOptions) {
  auto p = parse({"vm", "start", "--id=403404", "--log-level=debug", "--config=/tmp/x.config"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.config.system, "vm");
  EXPECT_EQ(p.config.action, "start");
  EXPECT_EQ(p.config.id, "403404");
  EXPECT_EQ(p.config.cli_log_level, "debug");
  EXPECT_EQ(p.config.config_path, "/tmp/x.config");
  EXPECT_EQ(p.config.action_param, "");

  p = parse({"pool", "start", "--id=z05", "--serial", "--no-service"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.config.system, "pool");
  EXPECT_FALSE(p.config.parallel);
  EXPECT_EQ(p.config.action_param, "1");

  p = parse({"vm", "stop", "--id=1", "--force"});
  EXPECT_EQ(p.config.action_param, "force");
  EXPECT_TRUE(p.config.force);

  p = parse({"pool", "stop", "--parallel"});
  EXPECT_EQ(p.result, 0);
  EXPECT_TRUE(p.config.parallel);

  for (const char* a : {"list", "status", "start", "stop", "restart", "suspend", "resume", "pause",
                        "unpause", "unshare", "config"})
    EXPECT_EQ(parse({"vm", a}).result, 0) << a;
  for (const char* a : {"list", "status", "start", "stop", "suspend", "resume", "unshare"})
    EXPECT_EQ(parse({"pool", a}).result, 0) << a;
}

TEST(CommandLine, ActionWordsAsOptions) {
  auto p = parse({"vm", "--status", "--id=7"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.config.system, "vm");
  EXPECT_EQ(p.config.action, "status");
  p = parse({"--stop"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.config.action, "stop");
  // The same action twice is fine, two different ones are not.
  EXPECT_EQ(parse({"status", "--status"}).result, 0);
  p = parse({"vm", "start", "--stop"});
  EXPECT_LT(p.result, 0);
  EXPECT_EQ(p.err, "Error: two actions given: 'start' and 'stop'\n");
}

TEST(CommandLine, HelpAndVersionEndWithSuccess) {
  auto p = parse({"--help"});
  EXPECT_GT(p.result, 0);
  EXPECT_NE(p.out.find("Usage: ombrix-vm"), std::string::npos);
  p = parse({"vm", "start", "--version"});
  EXPECT_GT(p.result, 0);
  EXPECT_EQ(p.out, version_text() + "\n");
  EXPECT_EQ(p.out.rfind("ombrix-vm ", 0), 0u);
}

// Every action the parser takes is named in the help, in its system's part.
TEST(CommandLine, HelpNamesEveryAction) {
  auto help = parse({"--help"}).out;
  size_t vm_at = help.find("\n  vm "), pool_at = help.find("\n  pool "), options_at = help.find("\nOptions:");
  ASSERT_TRUE(vm_at < pool_at && pool_at < options_at) << help;
  struct Case {
    const char* system;
    std::string part;
  } systems[] = {{"vm", help.substr(vm_at, pool_at - vm_at)},
                 {"pool", help.substr(pool_at, options_at - pool_at)}};
  for (const auto& [system, part] : systems) {
    for (const char* action : {"list", "status", "start", "stop", "restart", "suspend", "resume", "pause",
                               "unpause", "unshare", "config", "nice", "setnice", "vcpuclass",
                               "setvcpuclass", "inventory"}) {
      if (parse({system, action, "--id=1"}).result != 0 && parse({system, action}).result != 0) continue;
      bool named = false;
      for (size_t at = part.find(action); at != std::string::npos && !named; at = part.find(action, at + 1)) {
        char before = part[at - 1], after = part[at + std::string(action).size()];
        named = (before == ' ' || before == ',') && (after == ' ' || after == ',' || after == '\n');
      }
      EXPECT_TRUE(named) << system << " " << action;
    }
  }
  EXPECT_NE(help.find("--force"), std::string::npos);
  EXPECT_NE(help.find("unshare: unshare what is shared"), std::string::npos) << help;
}

TEST(CommandLine, ErrorsEndWithFailure) {
  struct Case {
    std::vector<const char*> words;
    std::string error;
  };
  const std::vector<Case> cases = {
      {{"vm"}, "Error: no action given for vm\n"},
      {{"--force"}, "Error: no action given\n"},
      {{"frobnicate"}, "Error: unknown word 'frobnicate'\n"},
      {{"--frobnicate"}, "Error: unknown option '--frobnicate'\n"},
      {{"list"}, "Error: unknown action 'list'\n"},
      {{"pool", "restart"}, "Error: unknown pool action 'restart'\n"},
      {{"vm", "inventory"}, "Error: unknown vm action 'inventory'\n"},
      {{"vm", "start", "--id="}, "Error: --id= needs a VM id or a pool name\n"},
      {{"vm", "start", "--id"}, "Error: option '--id' needs a value: --id=VALUE\n"},
      {{"pool", "stop", "--id", "p"}, "Error: option '--id' needs a value: --id=VALUE\n"},
      {{"vm", "setnice", "--value"}, "Error: option '--value' needs a value: --value=VALUE\n"},
      {{"status", "--config"}, "Error: option '--config' needs a value: --config=VALUE\n"},
      {{"status", "--log-level=loud"}, "Error: unknown log level 'loud'\n"},
      {{"status", "--config="}, "Error: --config= needs a file name\n"},
      {{"pool", "start", "--serial", "--parallel"}, "Error: --parallel and --serial exclude each other\n"},
      {{"start", "vm"}, "Error: unknown word 'vm'\n"},
  };
  for (const auto& c : cases) {
    auto p = parse(c.words);
    EXPECT_LT(p.result, 0) << c.error;
    EXPECT_EQ(p.err, c.error);
    EXPECT_NE(p.out.find("Usage:"), std::string::npos) << c.error;
  }
  auto p = parse({});
  EXPECT_LT(p.result, 0);
  EXPECT_NE(p.out.find("Usage:"), std::string::npos);
}

}  // namespace
