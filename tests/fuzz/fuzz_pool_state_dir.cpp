// Fuzz target: a pool's state directory as the state queries and a pool
// operation meet it: PoolState::read (marks), load_pool_state_dir, VmState's
// read, exists and suspend_mark (state links and marks) and LockFile (the
// pool's ".lock"), over entries of every file type.
//
// Input: pairs of bytes, an entry and the file type it gets:
//   entries  "a.state", "b.state", ".pool.stopped", ".pool.suspended",
//            "a.suspended", "a.pool_suspended", ".lock", the state directory
//   types    regular file, empty regular file, FIFO, directory, and symbolic
//            links to a regular file, a FIFO, a directory, nothing, themselves,
//            and (state links only) a host path to a regular file
// Everything lies under the process's host root; links the kernel follows are
// relative, so that nothing outside the root can be touched.
//
// Promises: reading never hangs (the replay driver and libFuzzer end an input
// that takes seconds) and never creates, changes or removes anything, links
// followed or not; a pool lock is taken only on a regular file (or on a file
// it created); a VM's record is read only from a regular file, and is that
// file's text; the VMs listed are the directory's "<id>.state" entries.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>

#include "model/pool_state.h"
#include "model/vm_state.h"
#include "pool/state/lock_file.h"
#include "pool/state/pool_state_dir.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPool = "p1";
constexpr const char* kRecord = "{\"uuid\": \"fuzz\"}\n";
const char* const kEntries[] = {"a.state", "b.state", ".pool.stopped", ".pool.suspended",
                                "a.suspended", "a.pool_suspended", ".lock"};
constexpr int kStateDirSlot = 7;

enum Type { regular, empty, fifo, directory, to_regular, to_fifo, to_directory, dangling, loop, host_path_link };

// What lies at each path under the root: type, size, link target.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> seen;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    struct stat st {};
    const std::string path = it->path().string();
    if (::lstat(path.c_str(), &st) != 0) continue;
    std::string what = std::to_string(st.st_mode & S_IFMT) + " " + std::to_string(S_ISREG(st.st_mode) ? st.st_size : 0);
    if (S_ISLNK(st.st_mode)) what += " -> " + fs::read_symlink(it->path(), ec).string();
    seen[path.substr(root.size())] = what;
  }
  return seen;
}

std::string listed(const std::map<std::string, std::string>& seen) {
  std::string text;
  for (const auto& [path, what] : seen) text += path + " " + what + "\n";
  return text;
}

void make(const std::string& path, int type, bool state_link) {
  // Up to the root from the directory of `path`.
  const std::string up = path.ends_with("/.vm_V4_state") ? "../../" : "../../../";
  switch (type) {
    case regular: fuzz_write_file(path, kRecord); break;
    case empty: fuzz_write_file(path, ""); break;
    case fifo: FUZZ_CHECK(::mkfifo(path.c_str(), 0600) == 0, path); break;
    case directory: FUZZ_CHECK(::mkdir(path.c_str(), 0700) == 0, path); break;
    case to_regular: FUZZ_CHECK(::symlink((up + "outside/file").c_str(), path.c_str()) == 0, path); break;
    case to_fifo: FUZZ_CHECK(::symlink((up + "outside/fifo").c_str(), path.c_str()) == 0, path); break;
    case to_directory: FUZZ_CHECK(::symlink((up + "outside/dir").c_str(), path.c_str()) == 0, path); break;
    case dangling: FUZZ_CHECK(::symlink((up + "outside/missing").c_str(), path.c_str()) == 0, path); break;
    case loop: FUZZ_CHECK(::symlink(fs::path(path).filename().c_str(), path.c_str()) == 0, path); break;
    case host_path_link:
      if (state_link) FUZZ_CHECK(::symlink("/outside/file", path.c_str()) == 0, path);
      break;
  }
}

// The file a state link leads to, as its documentation says: a host path is
// mapped, a relative one is taken from the state directory; the link itself
// when it is not a link.
std::string state_document(const std::string& dir, const std::string& entry) {
  std::error_code ec;
  fs::path target = fs::read_symlink(dir + "/" + entry, ec);
  if (ec) return dir + "/" + entry;
  return target.is_absolute() ? platform::host_path(target.string()) : dir + "/" + target.string();
}

bool is_regular(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet_logs();
  const std::string root = fuzz_host_root();
  std::error_code ec;
  fs::remove_all(root + "/outside", ec);
  fs::remove_all(root + "/pools", ec);
  fs::create_directories(root + "/outside/dir");
  fs::create_directories(root + "/pools/" + std::string(kPool));
  fuzz_write_file(root + "/outside/file", kRecord);
  FUZZ_CHECK(::mkfifo((root + "/outside/fifo").c_str(), 0600) == 0, "mkfifo");

  const std::string dir = root + "/pools/" + kPool + "/.vm_V4_state";
  int dir_type = directory;
  std::map<int, int> types;  // entry -> type; the last pair for an entry wins
  for (size_t i = 0; i + 1 < size; i += 2) {
    const int slot = data[i] % 8, type = data[i + 1] % 10;
    if (slot == kStateDirSlot)
      dir_type = type;
    else
      types[slot] = type;
  }
  make(dir, dir_type == host_path_link ? directory : dir_type, false);
  const bool real_dir = fs::is_directory(fs::symlink_status(dir));  // entries only in a real directory
  if (real_dir)
    for (const auto& [slot, type] : types) make(dir + "/" + kEntries[slot], type, slot < 2);

  const auto before = snapshot(root);
  const std::string seen = listed(before);

  (void)PoolState::read(kPool);
  int error = 0;
  std::vector<std::string> ids = load_pool_state_dir(kPool, error);
  if (error == 0) {
    std::vector<std::string> expected;
    for (const auto& [slot, type] : types)
      if (slot < 2 && real_dir) expected.push_back(std::string(kEntries[slot]).substr(0, 1));
    std::sort(expected.begin(), expected.end());
    FUZZ_CHECK(ids == expected, seen);
  }
  for (const std::string& id : ids) {
    VmState state(kPool, id);
    VmStateRead read = state.read();
    const std::string document = state_document(dir, id + ".state");
    if (read.ok()) {
      FUZZ_CHECK(is_regular(document), "the record of " + id + " read from what is not a regular file\n" + seen);
      FUZZ_CHECK(read.text == kRecord, "the record of " + id + " read as " + read.text);
    }
    (void)state.exists();
    std::string why;
    (void)state.suspend_mark(why);
  }

  struct stat lock_before {};
  const bool lock_existed = ::lstat((dir + "/.lock").c_str(), &lock_before) == 0;
  {
    LockFile lock("/pools/" + std::string(kPool) + "/.vm_V4_state/.lock");
    if (lock.try_lock() == 0)
      FUZZ_CHECK(!lock_existed || S_ISREG(lock_before.st_mode), "a pool lock taken on what is not a regular file\n" + seen);
  }

  const auto after = snapshot(root);
  FUZZ_CHECK(after == before, "the directories changed:\n" + seen + "became\n" + listed(after));
  return 0;
}
