#include "storage/pool_spec_check.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include <fmt/format.h>

namespace {

constexpr size_t max_pool_name = 239;

pool_result bad_request(std::string message) { return {pool_error::bad_request, std::move(message)}; }
pool_result bad_geometry(std::string message) { return {pool_error::bad_geometry, std::move(message)}; }

bool is_alpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool is_alnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

pool_result check_pool_name(const std::string& name) {
  if (name.empty()) return bad_request("no pool name");
  if (name.size() > max_pool_name)
    return bad_request(fmt::format("pool name is too long: {} characters, maximum is {}",
                                   name.size(), max_pool_name));
  if (!is_alpha(name[0])) return bad_request(fmt::format("pool name '{}' must begin with a letter", name));
  for (char c : name)
    if (!is_alnum(c) && c != '_' && c != '.' && c != ':' && c != '-')
      return bad_request(
          fmt::format("pool name '{}' contains characters outside [A-Za-z0-9_.:-]", name));
  for (const char* reserved : {"mirror", "raidz", "draid", "spare"})
    if (name.starts_with(reserved))
      return bad_request(fmt::format("pool name '{}' is reserved by ZFS", name));
  if (name == "log") return bad_request(fmt::format("pool name '{}' is reserved by ZFS", name));
  return {};
}

pool_result check_raidz(const vdev_spec& vdev, uint64_t n, vdev_layout& layout) {
  uint64_t p = vdev.parity == 0 ? 1 : vdev.parity;
  if (p >= 4) return bad_geometry(fmt::format("invalid raidz parity level {}; must be between 1 and 3", p));
  if (n <= p) return bad_geometry(fmt::format("raidz{} needs at least {} devices, {} provided", p, p + 1, n));
  if (n >= 256) return bad_geometry(fmt::format("raidz supports at most 255 devices, {} provided", n));
  layout.nparity = p;
  layout.name = fmt::format("raidz{}", p);
  return {};
}

pool_result check_draid(const vdev_spec& vdev, uint64_t n, vdev_layout& layout) {
  uint64_t s = vdev.draid_spares, d = vdev.draid_data;
  uint64_t p = vdev.parity == 0 ? 1 : vdev.parity;
  if (vdev.draid_children != 0 && vdev.draid_children != n)
    return bad_geometry(fmt::format("dRAID was requested with {} children but {} devices provided",
                                    vdev.draid_children, n));
  if (n < 2) return bad_geometry(fmt::format("dRAID needs at least 2 devices, {} provided", n));
  if (n >= 256) return bad_geometry(fmt::format("dRAID supports at most 255 devices, {} provided", n));
  if (p >= 4)
    return bad_geometry(fmt::format("invalid dRAID parity level {}; must be between 1 and 3", p));
  if (s >= 101)
    return bad_geometry(
        fmt::format("invalid number of dRAID distributed spares {}; at most 100 are allowed", s));
  if (d >= 256)
    return bad_geometry(fmt::format("invalid number of dRAID data disks {}; at most 255 are allowed", d));
  if (n <= s + p)
    return bad_geometry(fmt::format(
        "requested number of dRAID distributed spares {} and parity level {} leave no disks "
        "available for data among {} devices",
        s, p, n));
  if (d == 0) d = std::min<uint64_t>(n - s - p, 8);
  if (d + p > n - s)
    return bad_geometry(fmt::format(
        "requested number of dRAID data disks per group {} is too high; at most {} disks are "
        "available for data",
        d, n - s - p));
  uint64_t g = (n - s) / std::gcd(d + p, n - s);
  layout.nparity = p;
  layout.ndata = d;
  layout.nspares = s;
  layout.ngroups = g;
  layout.name = fmt::format("draid{}:{}d:{}c:{}s", p, d, n, s);
  return {};
}

}  // namespace

const char* vdev_type_name(vdev_type type) {
  switch (type) {
    case vdev_type::disk: return "disk";
    case vdev_type::mirror: return "mirror";
    case vdev_type::raidz: return "raidz";
    case vdev_type::draid: return "draid";
  }
  return "";
}

const char* vdev_role_bias(vdev_role role) {
  switch (role) {
    case vdev_role::log: return "log";
    case vdev_role::special: return "special";
    case vdev_role::dedup: return "dedup";
    default: return "";
  }
}

pool_result validate_pool_spec(const pool_spec& spec, bool check_name) {
  if (check_name) {
    if (pool_result r = check_pool_name(spec.name); !r.ok()) return r;
  }
  bool has_data = std::any_of(spec.vdevs.begin(), spec.vdevs.end(),
                              [](const vdev_spec& v) { return v.role == vdev_role::data; });
  if (!has_data) {
    if (spec.vdevs.empty() && spec.spares.empty() && spec.l2cache.empty())
      return bad_request("no vdevs specified");
    return bad_request("at least one data vdev is required");
  }
  if (spec.ashift != 0 && (spec.ashift < 9 || spec.ashift > 16))
    return bad_request(fmt::format("invalid ashift {}; must be between 9 and 16", spec.ashift));
  for (const vdev_spec& vdev : spec.vdevs) {
    if (vdev.devices.empty()) return bad_request("a vdev with an empty device list");
    if (vdev.role != vdev_role::data && (vdev.type == vdev_type::raidz || vdev.type == vdev_type::draid))
      return bad_request(fmt::format("vdev type '{}' is not allowed for a non-data vdev",
                                     vdev_type_name(vdev.type)));
  }
  std::vector<std::string> paths = collect_spec_devices(spec);
  for (const std::string& path : paths)
    if (!path.starts_with("/dev/"))
      return bad_request(fmt::format("device path '{}' must be absolute and start with /dev/", path));
  std::sort(paths.begin(), paths.end());
  auto twice = std::adjacent_find(paths.begin(), paths.end());
  if (twice != paths.end())
    return bad_request(fmt::format("device '{}' is specified more than once", *twice));
  return {};
}

pool_result check_vdev_geometry(const vdev_spec& vdev, vdev_layout& layout) {
  layout = vdev_layout{};
  const uint64_t n = vdev.devices.size();
  layout.type_name = vdev_type_name(vdev.type);
  layout.alloc_bias = vdev_role_bias(vdev.role);
  layout.device_count = n;
  pool_result result;
  switch (vdev.type) {
    case vdev_type::disk:
      if (n != 1)
        result = bad_geometry(fmt::format("a single-disk vdev needs exactly one device, {} provided", n));
      else
        layout.name = "disk";
      break;
    case vdev_type::mirror:
      if (n < 2)
        result = bad_geometry(fmt::format("a mirror needs at least two devices, {} provided", n));
      else
        layout.name = "mirror";
      break;
    case vdev_type::raidz: result = check_raidz(vdev, n, layout); break;
    default: result = check_draid(vdev, n, layout); break;
  }
  if (!result.ok()) {
    // Only the fields written before the type's checks stay.
    layout.name.clear();
    layout.nparity = layout.ndata = layout.nspares = layout.ngroups = 0;
  }
  return result;
}

std::vector<std::string> collect_spec_devices(const pool_spec& spec) {
  std::vector<std::string> paths;
  for (const vdev_spec& vdev : spec.vdevs) paths.insert(paths.end(), vdev.devices.begin(), vdev.devices.end());
  paths.insert(paths.end(), spec.spares.begin(), spec.spares.end());
  paths.insert(paths.end(), spec.l2cache.begin(), spec.l2cache.end());
  return paths;
}

std::string describe_vdev_geometry(const vdev_geometry& geometry) {
  std::string parity = geometry.parity ? fmt::format("{}", geometry.parity) : "";
  return fmt::format("{}{} of {} devices", geometry.type, parity, geometry.device_count);
}

std::string join_vdev_names(const std::vector<vdev_layout>& layouts) {
  std::string joined;
  for (const vdev_layout& layout : layouts) joined += " " + layout.name;
  return joined;
}
