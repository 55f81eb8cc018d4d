// Filling a Cloudinit object: from a record text (from_item) and from what a
// VM directory holds (load).
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "bhwrap/cloudinit/cloudinit.h"
#include "tests/support/temp_root.h"

namespace {

using nlohmann::json;

TEST(CloudinitFromItem, BadRecordsFillNothing) {
  for (const std::string bad : {"", "{not json", "[1, 2]", "\"text\"", "42", "null"}) {
    SCOPED_TRACE(bad);
    Cloudinit ci("vm1");
    EXPECT_FALSE(ci.from_item(bad));
    EXPECT_TRUE(ci.meta_data().empty());
    EXPECT_TRUE(ci.user_data().empty());
    EXPECT_TRUE(ci.network_config().empty());
    EXPECT_TRUE(ci.vm_config().id.empty());
    EXPECT_EQ(ci.vm_config().default_shell, "/bin/sh");
    EXPECT_TRUE(ci.metadata().is_null());
    EXPECT_EQ(ci.vm_id(), "vm1");
  }
}

TEST(CloudinitFromItem, ResultNeedsAnIdAndUserData) {
  Cloudinit ci("vm1");
  EXPECT_TRUE(ci.from_item(R"({"id": "vm1"})"));
  EXPECT_FALSE(Cloudinit("vm1").from_item(R"({"guest": {"hostname": "h"}})"));  // no id
  EXPECT_FALSE(Cloudinit("vm1").from_item(R"({"id": "vm1", "os_type": 7})"));   // no user-data
}

class CloudinitLoad : public ::testing::Test {
 protected:
  test_support::TempRoot root;
  const std::string vm_dir = "/pools/p/.vm_V4/0001";
  void put(const std::string& name, const std::string& text) const { root.write(vm_dir + "/" + name, text); }
};

TEST_F(CloudinitLoad, ReadsRecordGuestAndUserData) {
  put("vm.json", json{{"id", "vm1"}, {"os_type", 3}, {"guest", {{"hostname", "from-vm-json"}}}}.dump());
  put("guest.json", json{{"hostname", "from-guest-json"}, {"users", {{"root", {{"password", "pw"}}}}}}.dump());
  put("cloud-init/user-data", "#cloud-config\nresize_rootfs: True\n");
  Cloudinit ci("vm1");
  EXPECT_TRUE(ci.load(vm_dir));
  EXPECT_EQ(ci.vm_config().id, "vm1");
  EXPECT_EQ(ci.vm_config().os_type, 3u);
  EXPECT_EQ(ci.vm_config().guest.hostname, "from-guest-json");
  ASSERT_EQ(ci.vm_config().guest.users.size(), 1u);
  EXPECT_EQ(ci.vm_config().guest.users[0].password, "pw");
  EXPECT_EQ(ci.user_data(), "#cloud-config\nresize_rootfs: True\n");
  // Nothing is generated.
  EXPECT_TRUE(ci.meta_data().empty());
  EXPECT_TRUE(ci.network_config().empty());

  // The mapped path is taken as it is too.
  EXPECT_TRUE(Cloudinit("vm1").load(root.path(vm_dir)));
}

TEST_F(CloudinitLoad, UserDataLines) {
  struct Case {
    const char* stored;
    const char* loaded;
  };
  for (const Case& c : {Case{"a: 1\nb: 2\n", "a: 1\nb: 2\n"}, Case{"a: 1\nb: 2", "a: 1\nb: 2\n"},
                        Case{"", ""}, Case{"\n\n", "\n\n"}}) {
    SCOPED_TRACE(c.stored);
    put("cloud-init/user-data", c.stored);
    Cloudinit ci("vm1");
    ci.load(vm_dir);
    EXPECT_EQ(ci.user_data(), c.loaded);
  }
}

TEST_F(CloudinitLoad, MissingOrUnusableFilesAreSkipped) {
  Cloudinit ci("vm1");
  ASSERT_TRUE(ci.from_item(R"({"id": "generated", "guest": {"hostname": "h1"}})"));
  const std::string user_data = ci.user_data();

  // Nothing there: everything stays.
  EXPECT_FALSE(ci.load(vm_dir));
  EXPECT_EQ(ci.vm_config().id, "generated");
  EXPECT_EQ(ci.user_data(), user_data);

  // JSON that is not an object, and text that is not JSON at all, are ignored
  // without an exception.
  put("vm.json", "[1, 2]");
  put("guest.json", "{\"hostname\": ");
  EXPECT_NO_THROW(EXPECT_FALSE(ci.load(vm_dir)));
  EXPECT_EQ(ci.vm_config().id, "generated");
  EXPECT_EQ(ci.vm_config().guest.hostname, "h1");

  // Both objects but no user-data file: user_data keeps what it held, so true.
  put("vm.json", "{\"id\": \"vm1\"}");
  put("guest.json", "{}");
  EXPECT_TRUE(ci.load(vm_dir));
  EXPECT_EQ(ci.vm_config().id, "vm1");
  EXPECT_EQ(ci.user_data(), user_data);

  // An empty user-data file empties it: false.
  put("cloud-init/user-data", "");
  EXPECT_FALSE(ci.load(vm_dir));
  EXPECT_TRUE(ci.user_data().empty());
}

}  // namespace
