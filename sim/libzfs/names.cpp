#include "sim/libzfs/names.h"

#include <cctype>

#include <libzfs.h>

namespace zfs_sim {

namespace {

constexpr size_t max_name_length = 255;

bool valid_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
         c == ':' || c == ' ';
}

std::optional<std::string> component_problem(const std::string& component) {
  if (component.empty()) return "empty component in name";
  if (component == "." || component == "..") return "'.' and '..' are not valid components";
  for (char c : component)
    if (!valid_char(c)) return std::string("invalid character '") + c + "' in name";
  return std::nullopt;
}

}  // namespace

std::optional<std::string> name_problem(const std::string& name, int types) {
  if (name.empty()) return "name is empty";
  if (name.size() > max_name_length) return "name is too long";
  size_t at = name.find('@');
  std::string dataset = name.substr(0, at);
  if (at != std::string::npos) {
    if (!(types & ZFS_TYPE_SNAPSHOT)) return "snapshot delimiter '@' is not expected here";
    std::string snapshot = name.substr(at + 1);
    if (snapshot.find('@') != std::string::npos) return "multiple '@' delimiters in name";
    if (auto problem = component_problem(snapshot)) return problem;
  } else if (types == ZFS_TYPE_SNAPSHOT) {
    return "missing '@' delimiter in snapshot name";
  }
  if (types == ZFS_TYPE_POOL && dataset.find('/') != std::string::npos)
    return "pool names cannot contain '/'";
  if (types == ZFS_TYPE_POOL) {
    // Names the vdev grammar and disk names take for themselves.
    for (const char* word : {"mirror", "raidz", "draid", "spare"})
      if (dataset.starts_with(word)) return "name is reserved";
    if (dataset == "log") return "name is reserved";
    if (dataset.size() > 1 && dataset[0] == 'c' && std::isdigit(static_cast<unsigned char>(dataset[1])))
      return "pool name is reserved (it looks like a disk)";
  }
  size_t start = 0;
  while (true) {
    size_t slash = dataset.find('/', start);
    std::string component = dataset.substr(start, slash == std::string::npos ? slash : slash - start);
    if (auto problem = component_problem(component)) return problem;
    if (start == 0 && !std::isalpha(static_cast<unsigned char>(component[0])))
      return "pool name must begin with a letter";
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return std::nullopt;
}

std::string pool_of(const std::string& name) {
  size_t end = name.find_first_of("/@");
  return name.substr(0, end);
}

std::string parent_of(const std::string& name) {
  size_t at = name.find('@');
  if (at != std::string::npos) return name.substr(0, at);
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? "" : name.substr(0, slash);
}

bool is_within(const std::string& name, const std::string& ancestor) {
  if (name.compare(0, ancestor.size(), ancestor) != 0) return false;
  return name.size() == ancestor.size() || name[ancestor.size()] == '/' ||
         name[ancestor.size()] == '@';
}

}  // namespace zfs_sim
