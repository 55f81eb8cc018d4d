#include "bhwrap/cloudinit/seed_image.h"

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>

#include <spdlog/spdlog.h>

#include "platform/host_root.h"

extern char** environ;

namespace {

constexpr const char* kApplication = "Ombrix";
constexpr const char* kWebDomain = "ombrix.io";

}  // namespace

std::vector<std::string> seed_image_args(const std::string& vm_dir) {
  // A relative directory that starts with "-" would be read as an option.
  const std::string dir = vm_dir.starts_with('-') ? "./" + vm_dir : vm_dir;
  return {platform::host_path(kGenisoimageProgram),
          "-A", kApplication,
          "-copyright", kWebDomain,
          "-publisher", kWebDomain,
          "-p", kWebDomain,
          "-J", "-l", "-joliet-long",
          "-input-charset", "us-ascii",
          "-R",
          "-V", "config-2",
          "-quiet",
          "-o", dir + "/seed.iso",
          dir + "/cloud-base"};
}

bool build_seed_image(const std::string& vm_dir) {
  std::vector<std::string> args = seed_image_args(vm_dir);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (int error = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ); error != 0) {
    spdlog::debug("seed image: cannot start '{}': {}", args[0], std::strerror(error));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    // ECHILD: an event loop's child handler reaped it first; the result is lost.
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
