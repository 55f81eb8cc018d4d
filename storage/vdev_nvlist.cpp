#include "storage/vdev_nvlist.h"

namespace {

bool add_u64(nvlist_t* list, const char* name, uint64_t value) {
  return nvpair::nvlist_add_uint64(list, name, value) == 0;
}
bool add_text(nvlist_t* list, const char* name, const std::string& value) {
  return nvpair::nvlist_add_string(list, name, value.c_str()) == 0;
}

bool add_array(nvlist_t* list, const char* name, const std::vector<owned_nvlist>& members) {
  std::vector<nvlist_t*> view;
  for (const owned_nvlist& member : members) view.push_back(member.get());
  return nvpair::nvlist_add_nvlist_array(list, name, view.data(),
                                         static_cast<uint_t>(view.size())) == 0;
}

bool make_leaves(const std::vector<std::string>& paths, uint64_t ashift,
                 std::vector<owned_nvlist>& leaves) {
  for (const std::string& path : paths) {
    owned_nvlist leaf;
    if (!make_disk_nvlist(path, ashift, leaf)) return false;
    leaves.push_back(std::move(leaf));
  }
  return true;
}

bool make_top_level(const vdev_spec& vdev, const vdev_layout& layout, uint64_t ashift,
                    owned_nvlist& top) {
  uint64_t is_log = vdev.role == vdev_role::log ? 1 : 0;
  if (vdev.type == vdev_type::disk) {
    if (vdev.devices.size() != 1 || !make_disk_nvlist(vdev.devices[0], ashift, top)) return false;
    if (!add_u64(top.get(), "is_log", is_log)) return false;
    return layout.alloc_bias.empty() || add_text(top.get(), "alloc_bias", layout.alloc_bias);
  }
  top = make_nvlist();
  if (!top || !add_text(top.get(), "type", layout.type_name) || !add_u64(top.get(), "is_log", is_log))
    return false;
  if (!layout.alloc_bias.empty() && !add_text(top.get(), "alloc_bias", layout.alloc_bias)) return false;
  if (vdev.type == vdev_type::raidz || vdev.type == vdev_type::draid) {
    if (!add_u64(top.get(), "nparity", layout.nparity)) return false;
  }
  if (vdev.type == vdev_type::draid) {
    if (!add_u64(top.get(), "draid_ndata", layout.ndata) ||
        !add_u64(top.get(), "draid_nspares", layout.nspares) ||
        !add_u64(top.get(), "draid_ngroups", layout.ngroups))
      return false;
  }
  std::vector<owned_nvlist> leaves;
  return make_leaves(vdev.devices, ashift, leaves) && add_array(top.get(), "children", leaves);
}

}  // namespace

bool make_disk_nvlist(const std::string& path, uint64_t ashift, owned_nvlist& leaf) {
  owned_nvlist made = make_nvlist();
  if (!made || !add_text(made.get(), "type", "disk") || !add_text(made.get(), "path", path) ||
      !add_u64(made.get(), "whole_disk", 1))
    return false;
  if (ashift != 0 && !add_u64(made.get(), "ashift", ashift)) return false;
  leaf = std::move(made);
  return true;
}

bool make_vdev_nvlist(const pool_spec& spec, const std::vector<vdev_layout>& layouts,
                      uint64_t ashift, owned_nvlist& root) {
  if (layouts.size() != spec.vdevs.size()) return false;
  std::vector<owned_nvlist> tops;
  for (size_t i = 0; i < spec.vdevs.size(); ++i) {
    owned_nvlist top;
    if (!make_top_level(spec.vdevs[i], layouts[i], ashift, top)) return false;
    tops.push_back(std::move(top));
  }
  owned_nvlist made = make_nvlist();
  if (!made || !add_text(made.get(), "type", "root") || !add_array(made.get(), "children", tops))
    return false;
  for (auto [name, paths] : {std::pair{"spares", &spec.spares}, {"l2cache", &spec.l2cache}}) {
    if (paths->empty()) continue;
    std::vector<owned_nvlist> leaves;
    if (!make_leaves(*paths, ashift, leaves) || !add_array(made.get(), name, leaves)) return false;
  }
  root = std::move(made);
  return true;
}
