// The bhyve argument list of a run and the start log it goes to.
#include <sys/stat.h>

#include <fmt/format.h>

#include "bhwrap/wrapper/bhwrap.h"
#include "bhwrap/wrapper/bhyve_args.h"
#include "platform/host_root.h"

namespace {

constexpr const char* kBhyve = "/usr/sbin/bhyve";
constexpr const char* kBootRomElement = "-l bootrom,";

bool path_exists(const std::string& real_path) {
  struct stat st {};
  return ::stat(platform::host_path(real_path).c_str(), &st) == 0;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// An element "-c 4" becomes "-c", "4"; any other element stays whole.
void append_split(std::vector<std::string>& args, const std::string& element) {
  static const char* const options[] = {"-c", "-m", "-s", "-l", "-o"};
  if (element.size() >= 3) {
    for (const char* option : options) {
      if (element.compare(0, 2, option) == 0) {
        args.emplace_back(option);
        args.push_back(element.substr(3));
        return;
      }
    }
  }
  args.push_back(element);
}

}  // namespace

std::vector<std::string> BhWrap::build_argv(const VmConfig& record) const {
  std::vector<std::string> elements = make_bhyve_args(record);

  if (!path_exists(command_.root_fs + "/seed.iso")) {
    for (auto it = elements.begin(); it != elements.end(); ++it) {
      if (contains(*it, "seed.iso")) {
        elements.erase(it);
        break;
      }
    }
  }

  const size_t rom_prefix = std::char_traits<char>::length(kBootRomElement);
  for (auto& element : elements) {
    if (!contains(element, kBootRomElement)) continue;
    std::string rom = element.size() > rom_prefix ? element.substr(rom_prefix) : "";
    if (!path_exists(rom)) element = std::string(kBootRomElement) + kDefaultUefiFirmware;
  }

  std::vector<std::string> args;
  for (const auto& element : elements) append_split(args, element);
  return args;
}

std::vector<std::string> BhWrap::make_argument_list(const VmConfig& record) const {
  const std::string& method = command_.method;
  if (method != "vms-receive" && method != "vms-resume") return build_argv(record);

  std::vector<std::string> args{kBhyve};
  if (method == "vms-receive") {
    args.push_back("-L");
    args.push_back(std::to_string(command_.cloudinit_port));
  } else {
    args.push_back("-r");
  }
  args.insert(args.end(), extra_args_.begin(), extra_args_.end());
  args.push_back("-o");
  args.push_back(fmt::format("pci.0.29.0.tcp={}:{}", record.vnc.host, record.vnc.port));
  return args;
}

std::string BhWrap::start_log_path() const {
  if (command_.remote) return "/var/log/remote_vm/" + command_.vm_id + ".log";
  return command_.root_fs + "/log/vmstart-" + command_.vm_id + ".log";
}
