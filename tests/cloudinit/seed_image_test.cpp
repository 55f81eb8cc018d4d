// The documents on disk (Cloudinit::write_seed) and the config-drive seed
// image built by the system's genisoimage.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bhwrap/cloudinit/cloudinit.h"
#include "bhwrap/cloudinit/seed_image.h"
#include "tests/support/temp_root.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string system_genisoimage() {
  for (const char* candidate : {"/usr/bin/genisoimage", "/usr/local/bin/genisoimage"})
    if (fs::exists(candidate)) return candidate;
  return "";
}

// The ISO 9660 volume identifier: 32 characters at byte 40 of the primary
// volume descriptor (sector 16), filled with blanks.
std::string volume_id(const std::string& image) {
  constexpr size_t kPvd = 16 * 2048;
  if (image.size() < kPvd + 72) return "";
  std::string id = image.substr(kPvd + 40, 32);
  return id.substr(0, id.find_last_not_of(' ') + 1);
}

class SeedImage : public ::testing::Test {
 protected:
  void SetUp() override {
    tool = system_genisoimage();
    if (tool.empty()) GTEST_SKIP() << "genisoimage is not installed";
    fs::create_directories(root.path("/usr/local/bin"));
    fs::create_symlink(tool, root.path("/usr/local/bin/genisoimage"));
  }

  // The VM directory exists before anything is written into it.
  Cloudinit generated(json record) const {
    fs::create_directories(root.path(vm_dir));
    record["root_fs"] = vm_dir;
    Cloudinit ci("vm1");
    ci.from_item(record.dump());
    return ci;
  }
  std::string file(const std::string& name) const { return root.path(vm_dir + "/" + name); }

  test_support::TempRoot root;
  std::string tool;
  std::string vm_dir = "/pools/p/.vm_V4/0001";
};

json nocloud_record(const char* hostname) {
  return {{"id", "vm1"},
          {"guest", {{"hostname", hostname}, {"users", {{"root", {{"password", "pw"}}}}}}},
          {"network_ports", json::array({{{"slot", 5}, {"ipv4", json::array({{{"address", "10.0.0.5"}}})}}})}};
}

json openstack_record(const char* hostname) {
  json record = nocloud_record(hostname);
  record["os_type"] = 7;
  return record;
}

TEST_F(SeedImage, NoCloudDocumentsAreWrittenOnce) {
  Cloudinit first = generated(nocloud_record("first"));
  first.write_seed();

  const std::string guest = read(file("guest.json"));
  json expected_guest = first.vm_config().guest;
  EXPECT_EQ(guest, expected_guest.dump(2) + "\n");
  EXPECT_LT(guest.find("\"boot_cmds\""), guest.find("\"hostname\""));  // sorted keys
  EXPECT_EQ(read(file("cloud-init/meta-data")), first.meta_data() + "\n");
  EXPECT_EQ(read(file("cloud-init/user-data")), first.user_data() + "\n");
  EXPECT_EQ(read(file("cloud-init/network-config")), first.network_config() + "\n");
  EXPECT_FALSE(fs::exists(file("seed.iso")));
  EXPECT_FALSE(fs::exists(file("cloud-base")));

  // A second call rewrites only guest.json.
  Cloudinit second = generated(nocloud_record("second"));
  second.write_seed();
  EXPECT_NE(read(file("guest.json")).find("\"second\""), std::string::npos);
  EXPECT_EQ(read(file("cloud-init/meta-data")), first.meta_data() + "\n");
  EXPECT_EQ(read(file("cloud-init/user-data")), first.user_data() + "\n");

  // What was written is what load reads back.
  Cloudinit loaded("vm1");
  root.write(vm_dir + "/vm.json", json{{"id", "vm1"}}.dump());
  EXPECT_TRUE(loaded.load(vm_dir));
  EXPECT_EQ(loaded.user_data(), first.user_data() + "\n");
  EXPECT_EQ(loaded.vm_config().guest.hostname, "second");
}

TEST_F(SeedImage, OpenStackTreeAndImage) {
  Cloudinit ci = generated(openstack_record("first"));
  ci.write_seed();

  EXPECT_EQ(read(file("cloud-base/openstack/latest/meta_data.json")), ci.meta_data() + "\n");
  EXPECT_EQ(read(file("cloud-base/openstack/latest/network_data.json")), ci.network_config() + "\n");
  EXPECT_FALSE(fs::exists(file("cloud-init")));  // no user-data for this layout

  const std::string image = read(file("seed.iso"));
  ASSERT_FALSE(image.empty());
  EXPECT_EQ(volume_id(image), "config-2");
  // Rock Ridge keeps the names as they are; the documents are stored whole.
  for (const char* name : {"openstack", "latest", "meta_data.json", "network_data.json"})
    EXPECT_NE(image.find(name), std::string::npos) << name;
  EXPECT_NE(image.find(ci.meta_data()), std::string::npos);
  EXPECT_NE(image.find(ci.network_config()), std::string::npos);

  // A second call keeps the documents but rebuilds the image from them.
  const std::string marker = "{\"edited\": \"by hand\"}\n";
  root.write(vm_dir + "/cloud-base/openstack/latest/meta_data.json", marker);
  generated(openstack_record("second")).write_seed();
  EXPECT_EQ(read(file("cloud-base/openstack/latest/meta_data.json")), marker);
  EXPECT_NE(read(file("seed.iso")).find(marker), std::string::npos);
  EXPECT_NE(read(file("guest.json")).find("\"second\""), std::string::npos);
}

// The VM directory comes from the record: nothing in it may reach a shell.
TEST_F(SeedImage, DirectoryTextIsNeverInterpreted) {
  const std::string mark = root.dir() + "/pwned";
  const std::vector<std::string> hostile = {
      "/pools/p/vm;touch " + mark + ";",        "/pools/p/vm$(touch " + mark + ")",
      "/pools/p/vm`touch " + mark + "`",        "/pools/p/vm && touch " + mark,
      "/pools/p/vm' ; touch " + mark + " ; '",  "/pools/p/vm\" ; touch " + mark + " ; \"",
      "/pools/p/vm | touch " + mark,            "/pools/p/vm\ntouch " + mark,
  };
  for (const std::string& dir : hostile) {
    SCOPED_TRACE(dir);
    vm_dir = dir;
    generated(openstack_record("h")).write_seed();
    EXPECT_FALSE(fs::exists(mark));
    // The image lands in that very directory.
    EXPECT_EQ(volume_id(read(file("seed.iso"))), "config-2");
  }
}

TEST(SeedImageArgs, ToolOptionsAndPaths) {
  test_support::TempRoot root;
  std::vector<std::string> args = seed_image_args("/d");
  EXPECT_EQ(args.front(), root.path("/usr/local/bin/genisoimage"));
  EXPECT_EQ(std::vector<std::string>(args.begin() + 1, args.end()),
            (std::vector<std::string>{"-A", "Ombrix", "-copyright", "ombrix.io", "-publisher", "ombrix.io",
                                      "-p", "ombrix.io", "-J", "-l", "-joliet-long", "-input-charset",
                                      "us-ascii", "-R", "-V", "config-2", "-quiet", "-o", "/d/seed.iso",
                                      "/d/cloud-base"}));
  // A directory that looks like an option is passed as a path.
  args = seed_image_args("-x");
  EXPECT_EQ(args[args.size() - 2], "./-x/seed.iso");
  EXPECT_EQ(args.back(), "./-x/cloud-base");
}

TEST(SeedImageBuild, MissingToolIsAFailureNotACrash) {
  test_support::TempRoot root;  // no genisoimage under this root
  fs::create_directories(root.path("/vm/cloud-base"));
  EXPECT_FALSE(build_seed_image(root.path("/vm")));
  EXPECT_FALSE(fs::exists(root.path("/vm/seed.iso")));

  // write_seed reports nothing and keeps what it wrote.
  fs::create_directories(root.path("/vm2"));
  Cloudinit ci("vm1");
  ci.from_item(json{{"id", "vm1"}, {"os_type", 7}, {"root_fs", "/vm2"}}.dump());
  ci.write_seed();
  EXPECT_TRUE(fs::exists(root.path("/vm2/cloud-base/openstack/latest/meta_data.json")));
  EXPECT_TRUE(fs::exists(root.path("/vm2/guest.json")));
  EXPECT_FALSE(fs::exists(root.path("/vm2/seed.iso")));
}

TEST(SeedImageBuild, UnwritableDirectoryPassesSilently) {
  test_support::TempRoot root;
  root.write("/vm", "a file where the directory should be");
  Cloudinit ci("vm1");
  ci.from_item(json{{"id", "vm1"}, {"root_fs", "/vm"}}.dump());
  EXPECT_NO_THROW(ci.write_seed());
  EXPECT_EQ(read(root.path("/vm")), "a file where the directory should be");
}

}  // namespace
