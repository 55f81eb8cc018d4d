#include "bhwrap/wrapper/bhyve_args.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "bhwrap/checkpoint/checkpoint_lookup.h"
#include "bhwrap/console/nmdm_path.h"

namespace {

constexpr const char* kCloudInitGuestName = "Cloud-init: SmartOS";
constexpr int64_t kCloudInitGuestId = 2;

// "-c" value: the CPU count, or the sockets/cores/threads of at least 2.
std::string topology_text(const VmConfig& c) {
  if (c.sockets == 1 && c.cores == 1 && c.threads == 1) return fmt::format("{}", c.cpus);
  std::vector<std::string> parts;
  if (c.sockets >= 2) parts.push_back(fmt::format("sockets={}", c.sockets));
  if (c.cores >= 2) parts.push_back(fmt::format("cores={}", c.cores));
  if (c.threads >= 2) parts.push_back(fmt::format("threads={}", c.threads));
  return fmt::format("{}", fmt::join(parts, ","));
}

std::string port_arg(const VmConfig& config, const VmNetworkPort& port) {
  std::string arg = fmt::format("-s {},virtio-net", port.slot) +
                    fmt::format(",netgraph,socket=vm{0}_{1},path={2}:,hook=vmlink{1},peerhook=link{1}",
                                config.id, port.port_id, port.vale_switch_name);
  if (!port.mac.empty()) arg += ",mac=" + port.mac.front();
  if (port.mac.size() > 1) {
    std::vector<std::string> rest(port.mac.begin() + 1, port.mac.end());
    std::string joined = fmt::format("{}", fmt::join(rest, ";"));
    if (!joined.empty()) arg += ",mac_list=" + joined;
  }
  if (port.mac_guard == 0) arg += ",mac_filter_disable=1";
  if (port.ip_guard == 0) arg += ",ip_filter_disable=1";
  std::vector<std::string> v4;
  for (const auto& a : port.ipv4) v4.push_back(a.address);
  std::string ips = fmt::format("{}", fmt::join(v4, ";"));
  if (!ips.empty()) arg += ",ip=" + ips;
  if (port.ratelimit_mbits > 0) arg += fmt::format(",ratelimit={}", port.ratelimit_mbits);
  if (port.ipv6.size() == 1) {
    arg += ",ipv6_accept_net=" + port.ipv6.front().address;
  } else if (!port.ipv6.empty()) {
    std::vector<std::string> v6;
    for (const auto& a : port.ipv6) v6.push_back(a.address);
    arg += fmt::format(",ipv6_accept_net=\"{}\"", fmt::join(v6, ","));
  }
  return arg;
}

}  // namespace

std::optional<std::string> make_disk_arg(const VmDisk& disk) {
  const bool pci = disk.trtype.empty() || disk.trtype == "pci";
  const bool tcp = disk.trtype == "tcp";
  std::string limits;
  if (disk.iops_limit > 0) limits += fmt::format(",iops_limit={}", disk.iops_limit);
  if (disk.mbps_limit > 0) limits += fmt::format(",mbps_limit={}", disk.mbps_limit);

  if ((disk.devtype == "virtio-blk" || disk.devtype.empty()) && pci)
    return fmt::format("{},virtio-blk,{},sectorsize={}/{}{}", disk.slot, disk.dev,
                       disk.sector_size.logical, disk.sector_size.physical, limits);
  if (disk.devtype == "nvme" && pci) {
    uint64_t sectsz = disk.sector_size.logical ? disk.sector_size.logical : 512;
    return fmt::format("{},nvme,{},sectsz={}{}", disk.slot, disk.dev, sectsz, limits);
  }
  if ((disk.devtype.empty() || disk.devtype == "nvme") && tcp)
    return fmt::format(
        "{}:0,nvme,nvmf,trtype=tcp,adrfam=IPv4,traddr={},trsvcid={},subnqn={},"
        "dpdk_core_mask=0x1{}",
        disk.slot, disk.traddr, disk.guid, disk.dev, limits);
  return std::nullopt;
}

std::vector<std::string> make_bhyve_args(const VmConfig& config) {
  std::vector<std::string> args = {"/usr/sbin/bhyve", "-A", "-H"};
  if (!config.passthru_devices.empty()) args.push_back("-S");
  args.push_back("-c " + topology_text(config));
  args.push_back(fmt::format("-m {}", config.ram));
  args.push_back("-s 0,hostbridge");
  if (!config.boot_media.empty()) args.push_back(fmt::format("-s 1,ahci-cd,{},ro", config.boot_media));
  args.push_back(fmt::format("-s 4,ahci-cd,{}/seed.iso,ro", config.root_fs));
  for (const auto& disk : config.disks)
    if (auto arg = make_disk_arg(disk)) args.push_back("-s " + *arg);
  for (const auto& port : config.network_ports) args.push_back(port_arg(config, port));
  for (const auto& d : config.passthru_devices)
    args.push_back(fmt::format("-s {},passthru,{}/{}/{}", d.slot, d.bus, d.device, d.function));
  if (config.balloon_slot != 0)
    args.push_back(fmt::format("-s {},virtio-balloon", config.balloon_slot));
  args.push_back(fmt::format("-s {},virtio-rnd", 28));
  args.push_back(fmt::format("-s {},fbuf,tcp={}:{},w={},h={}", 29, config.vnc.host, config.vnc.port,
                             config.vnc.width, config.vnc.height));
  args.push_back("-s 30,xhci,tablet");
  args.push_back("-s 31,lpc");
  args.push_back("-l com1," + nmdm_console_path(config, "A"));
  if (config.gc_id == kCloudInitGuestId || config.gc_name == kCloudInitGuestName)
    args.push_back("-l com2," + nmdm_cloudinit_path(config, "A"));
  args.push_back("-l bootrom," + config.uefi);
  if (!config.extra_options.empty()) args.push_back(config.extra_options);
  return args;
}

std::optional<std::string> check_snapshot_net_backend(
    const std::map<std::string, std::string>& config) {
  auto found = snapshot_port_backend(config);
  if (!found) return std::nullopt;
  const auto& [key, value] = *found;
  return fmt::format("Unsupported network backend '{}' ({}); only netgraph is supported",
                     value.empty() ? "none" : value, key);
}
