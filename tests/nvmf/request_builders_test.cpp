// The request texts: read back as JSON, each builder's method and "params".
#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "nvmf/request_builders.h"

namespace {

using json = nlohmann::json;

struct BuilderCase {
  const char* name;
  std::function<std::string()> build;
  const char* method;
  json params;  // null: no "params" member at all
};

json list(const json& item) { return json::array({item}); }

TEST(RequestBuilders, EveryBuilderWritesItsMethodAndParams) {
  const std::vector<BuilderCase> cases = {
      {"aio create", [] { return nvmf::bdev_aio_create_request("/dev/zvol/pool/a/b", 4096, ""); },
       "bdev_aio_create", {{"block_size", 4096}, {"filename", "/dev/zvol/pool/a/b"}, {"name", "pool/a/b"}}},
      {"aio create with uuid", [] { return nvmf::bdev_aio_create_request("/dev/zvol/p/x", 512, "src"); },
       "bdev_aio_create",
       {{"block_size", 512}, {"filename", "/dev/zvol/p/x"}, {"name", "p/x"},
        {"uuid", "f27fede2-220b-5d32-aaee-3e86ddfd4ebd"}}},
      {"aio delete", [] { return nvmf::bdev_aio_delete_request("/dev/zvol/p/x"); }, "bdev_aio_delete",
       {{"name", "p/x"}}},
      {"qos", [] { return nvmf::bdev_set_qos_limit_request("d", R"({"rw_ios_per_sec": 100})"); },
       "bdev_set_qos_limit", {{"name", "d"}, {"rw_ios_per_sec", 100}}},
      {"create subsystem", [] { return nvmf::nvmf_create_subsystem_request("nqn.a", true, "", "", ""); },
       "nvmf_create_subsystem", {{"allow_any_host", true}, {"ana_reporting", true}, {"nqn", "nqn.a"}}},
      {"create subsystem full", [] { return nvmf::nvmf_create_subsystem_request("nqn.a", false, "p", "S", "M"); },
       "nvmf_create_subsystem",
       {{"allow_any_host", false}, {"ana_reporting", true}, {"model_number", "M"}, {"nqn", "nqn.a"},
        {"pool", "p"}, {"serial_number", "S"}}},
      {"add ns with identity",
       [] { return nvmf::nvmf_subsystem_add_ns_request("nqn.a", "/dev/zvol/p/x", "0123456789abcdef0011223344556677", "/f"); },
       "nvmf_subsystem_add_ns",
       {{"namespace",
         {{"bdev_name", "p/x"}, {"eui64", "0011223344556677"}, {"nguid", "0123456789abcdef0011223344556677"},
          {"no_auto_visible", false}, {"ptpl_file", "/f"}, {"uuid", "4fd7e27c-bfca-5d34-ae2a-d469faf1547f"}}},
        {"nqn", "nqn.a"}}},
      {"add ns hidden", [] { return nvmf::nvmf_subsystem_add_ns_no_auto_visible_request("nqn.a", "/dev/zvol/p/x", "", ""); },
       "nvmf_subsystem_add_ns", {{"namespace", {{"bdev_name", "p/x"}, {"no_auto_visible", true}}}, {"nqn", "nqn.a"}}},
      {"add listener", [] { return nvmf::nvmf_subsystem_add_listener_request("nqn.a", "10.0.0.5", "4420"); },
       "nvmf_subsystem_add_listener",
       {{"listen_address", {{"traddr", "10.0.0.5"}, {"trsvcid", "4420"}, {"trtype", "tcp"}}}, {"nqn", "nqn.a"}}},
      {"add host one key", [] { return nvmf::nvmf_subsystem_add_host_request("nqn.a", "nqn.h", "k", ""); },
       "nvmf_subsystem_add_host", {{"host", "nqn.h"}, {"nqn", "nqn.a"}}},
      {"add host keys", [] { return nvmf::nvmf_subsystem_add_host_request("nqn.a", "nqn.h", "k", "c"); },
       "nvmf_subsystem_add_host", {{"dhchap_ctrlr_key", "c"}, {"dhchap_key", "k"}, {"host", "nqn.h"}, {"nqn", "nqn.a"}}},
      {"remove ns", [] { return nvmf::nvmf_subsystem_remove_ns_request("nqn.a", 3); }, "nvmf_subsystem_remove_ns",
       {{"nqn", "nqn.a"}, {"nsid", 3}}},
      {"ns add host", [] { return nvmf::nvmf_ns_add_host_request("nqn.a", 1, "h"); }, "nvmf_ns_add_host",
       {{"host", "h"}, {"nqn", "nqn.a"}, {"nsid", 1}}},
      {"controllers", [] { return nvmf::nvmf_subsystem_get_controllers_request("nqn.a"); },
       "nvmf_subsystem_get_controllers", {{"nqn", "nqn.a"}}},
      {"subsystems", [] { return nvmf::nvmf_get_subsystems_request(); }, "nvmf_get_subsystems", nullptr},
      {"keyring add", [] { return nvmf::keyring_file_add_key_request("k", "/p"); }, "keyring_file_add_key",
       {{"name", "k"}, {"path", "/p"}}},
      {"iscsi node",
       [] {
         return nvmf::iscsi_create_target_node_request("n", "a", list({{"pg_tag", 1}, {"ig_tag", 1}}),
                                                       list({{"bdev_name", "b"}, {"lun_id", 0}}), 64, "",
                                                       R"({"mutual_chap": true})");
       },
       "iscsi_create_target_node",
       {{"alias_name", "a"}, {"chap_group", 0}, {"disable_chap", true}, {"luns", list({{"bdev_name", "b"}, {"lun_id", 0}})},
        {"mutual_chap", true}, {"name", "n"}, {"pg_ig_maps", list({{"ig_tag", 1}, {"pg_tag", 1}})},
        {"queue_depth", 64}, {"require_chap", true}}},
      {"iscsi secret", [] { return nvmf::iscsi_auth_group_add_secret_request(2, {{"user", "u"}, {"secret", "s"}}); },
       "iscsi_auth_group_add_secret", {{"msecret", ""}, {"muser", ""}, {"secret", "s"}, {"tag", 2}, {"user", "u"}}},
      {"iscsi portal", [] { return nvmf::iscsi_portal_group_add_portal_request(1, "h", "3260"); },
       "iscsi_portal_group_add_portal", {{"host", "h"}, {"port", "3260"}, {"tag", 1}}},
      {"initiator create", [] { return nvmf::initiator_create_request("nqn.a", "10.0.0.5", ""); }, "create",
       {{"nqn", "nqn.a"}, {"target", "10.0.0.5"}}},
      {"initiator create host", [] { return nvmf::initiator_create_request("nqn.a", "t", "nqn.h"); }, "create",
       {{"hostnqn", "nqn.h"}, {"nqn", "nqn.a"}, {"target", "t"}}},
      {"initiator list", [] { return nvmf::initiator_list_request(); }, "list", nullptr},
  };
  for (const BuilderCase& c : cases) {
    SCOPED_TRACE(c.name);
    json request = json::parse(c.build());
    EXPECT_EQ(request["jsonrpc"], "2.0");
    EXPECT_TRUE(request["id"].is_number_integer());
    EXPECT_EQ(request["method"], c.method);
    if (c.params.is_null())
      EXPECT_FALSE(request.contains("params"));
    else
      EXPECT_EQ(request["params"], c.params);
  }
}

TEST(RequestBuilders, TextIsCompactInKeyOrderAndIdsCount) {
  std::string first = nvmf::nvmf_subsystem_add_ns_request("nqn.a", "/dev/zvol/p/x", "", "");
  std::string second = nvmf::nvmf_get_subsystems_request();
  int64_t id = json::parse(first)["id"];
  EXPECT_EQ(first, "{\"id\":" + std::to_string(id) +
                       R"(,"jsonrpc":"2.0","method":"nvmf_subsystem_add_ns","params":{"namespace":{"bdev_name":"p/x","no_auto_visible":false},"nqn":"nqn.a"}})");
  EXPECT_EQ(json::parse(second)["id"], (id + 1) & 0x7FFFFFFF);
}

TEST(RequestBuilders, TextThatIsNotUtf8IsRefused) {
  EXPECT_THROW(nvmf::nvmf_delete_subsystem_request("nqn.\xff"), nlohmann::json::exception);
}

}  // namespace
