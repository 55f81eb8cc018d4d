// The cloud-init documents of one VM.
//
// Two layouts, chosen by the record's os_type:
//   os_type 7 (kOsTypeOpenStack)  OpenStack config drive: meta_data.json and
//                                 network_data.json (JSON, indent 2)
//   any other                     NoCloud: meta-data, user-data ("#cloud-config")
//                                 and network-config (version 1), all YAML
//
// The object is filled once, by from_item (the record text; generates every
// document) or by load (what the VM directory already holds; generates
// nothing), and is then only read, except for the metadata document that the
// guest metadata protocol builds at each negotiation. Copies are independent:
// the cloud-init channel thread works on its own copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>
#include <spdlog/logger.h>

#include "model/vm_config.h"

// The network-config document of a NoCloud guest.
struct NetworkConfigText {
  std::string text;               // the YAML document, no header line
  uint32_t nameserver_index = 0;  // position of the nameserver entry in "config"
};

class Cloudinit {
 public:
  // The record starts with its defaults, the documents empty, the metadata
  // document null.
  explicit Cloudinit(std::string vm_id);

  // Parses `item` (the VM record as JSON text) and generates the documents.
  // False when the text does not parse or generation fails (both logged);
  // otherwise true when the record has an id and user_data is not empty (so an
  // OpenStack VM gives false).
  bool from_item(const std::string& item);

  // Reads "vm.json", "guest.json" and "cloud-init/user-data" of the VM
  // directory `vm_dir` (a real host path, mapped here), each only when it opens
  // and holds what it should; nothing is generated. True when both JSON files
  // gave objects and user_data is not empty. Never throws: a JSON file that does
  // not parse is logged and counts as missing.
  bool load(const std::string& vm_dir);

  // Takes over `record` and builds the documents of its layout; the texts of
  // the other layout keep what they held.
  void generate(VmConfig record);

  // Writes the documents into the record's VM directory (root_fs): guest.json
  // always; for NoCloud the three documents under "cloud-init", for OpenStack
  // the two under "cloud-base/openstack/latest" (each only when this call made
  // the directory) and the ISO image "seed.iso" of "cloud-base". Reports
  // nothing.
  void write_seed() const;

  // (address, prefix): ("fd00::5/56", "56") for an address with "/", else
  // (address + "/64", "64").
  static std::pair<std::string, std::string> split_slash(const std::string& address);

  // The NoCloud network-config (version 1) of `record`.
  static NetworkConfigText make_network_config(const VmConfig& record);

  // Rewrites "cloud-init/network-config" under the root_fs of `item` (a VM
  // record as JSON) from its network ports, keeping the name servers and the
  // search domain of the old file when the item's resolver lacks them. Items
  // that are not records with a "network_ports" list are ignored. Throws
  // YAML::Exception when the old file has to be read and cannot be (it is then
  // not rewritten).
  static void update_network_config(const nlohmann::json& item);

  // The guest metadata protocol (defined beside it, in metadata_*.cpp).
  // One request line (without its line feed) -> {request tag, response line}.
  std::pair<std::string, std::string> handle_request(const std::string& line);
  // Rebuilds the metadata document; false (document untouched) when the record
  // has no id or user_data is empty.
  bool make_metadata();

  const std::string& vm_id() const { return vm_id_; }
  const VmConfig& vm_config() const { return vm_config_; }
  const std::string& meta_data() const { return meta_data_; }
  const std::string& user_data() const { return user_data_; }
  const std::string& network_config() const { return network_config_; }
  const nlohmann::json& metadata() const { return metadata_; }
  nlohmann::json& metadata() { return metadata_; }
  // The object's own logger "cloudinit" (not registered; the default sinks).
  spdlog::logger& logger() const { return *logger_; }

 private:
  void generate_openstack(const std::string& hostname);
  void generate_nocloud(const std::string& hostname);

  std::string vm_id_;
  VmConfig vm_config_;
  std::string meta_data_;       // NoCloud meta-data or OpenStack meta_data.json
  std::string user_data_;       // NoCloud user-data; empty for OpenStack
  std::string network_config_;  // NoCloud network-config or OpenStack network_data.json
  nlohmann::json metadata_;     // the guest metadata document; null until negotiated
  std::shared_ptr<spdlog::logger> logger_;
};
