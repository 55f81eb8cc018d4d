#include "nvmf/nvmf_names.h"

#include <filesystem>

#include <fmt/format.h>

#include "driver/uuid.h"
#include "platform/host_root.h"

namespace nvmf {

constexpr const char* kHostNqnPrefix = "nqn.2013-12.org.freebsd:bhyve-";

namespace {

constexpr std::string_view kZvolPrefix = "/dev/zvol/";
constexpr const char* kTargetNqnPrefix = "nqn.2023-08.io.ombrix:";

std::string last_component(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string volume_name(const std::string& zvol_path) {
  if (zvol_path.rfind(kZvolPrefix, 0) == 0) return zvol_path.substr(kZvolPrefix.size());
  return zvol_path;
}

std::string subsystem_nqn_from_path(const std::string& volume) {
  size_t slash = volume.rfind('/');
  std::string parent = slash == std::string::npos ? "" : last_component(volume.substr(0, slash));
  return kTargetNqnPrefix + parent + "." + last_component(volume);
}

std::string zvol_relative_name(const std::string& file) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = fs::weakly_canonical(platform::host_path(kZvolPrefix), ec);
  if (ec) base = platform::host_path(kZvolPrefix);
  fs::path mapped = fs::weakly_canonical(platform::host_path(file), ec);
  if (ec) mapped = platform::host_path(file);
  return mapped.lexically_relative(base).generic_string();
}

std::string uuid_from_name(const std::string& text) { return sha1_uuid(text.data(), text.size()); }

std::string format_uuid_text(const std::string& text) {
  auto part = [&](size_t from, size_t count) { return from < text.size() ? text.substr(from, count) : ""; };
  std::string out = part(0, 8);
  if (text.size() <= 16) return out;
  out += "-" + part(16, 4);
  if (text.size() <= 20) return out;
  return out + "-0000-0000-" + part(20, 12);
}

}  // namespace nvmf

std::string vm_disk_nqn(const std::string& vm, uint8_t disk_index, bool any_host) {
  if (any_host) return "";
  return fmt::format("{}{}-0-{}-0", nvmf::kHostNqnPrefix, vm, static_cast<unsigned>(disk_index));
}

std::string snapshot_nqn(const std::string& name, bool any_host) {
  if (any_host) return "";
  return fmt::format("{}{}-snapshot", nvmf::kHostNqnPrefix, name);
}
