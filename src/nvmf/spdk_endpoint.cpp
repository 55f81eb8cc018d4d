#include "nvmf/spdk_endpoint.h"

#include <mutex>

namespace nvmf {
namespace {

constexpr const char* kLocalHost = "127.0.0.1";
std::mutex address_mutex;
std::string& address_storage() {
  static std::string address = kLocalHost;
  return address;
}

}  // namespace

void set_spdk_address(const std::string& address) {
  std::lock_guard lock(address_mutex);
  address_storage() = address.empty() ? kLocalHost : address;
}

std::string get_spdk_address() {
  std::lock_guard lock(address_mutex);
  return address_storage();
}

int spdk_port() { return 7000; }

std::string spdk_host_key(const std::string& host) { return host == kLocalHost ? get_spdk_address() : host; }

}  // namespace nvmf
