#include "sim/libzfs/prop_values.h"

#include <ctime>

#include "sim/libzfs/names.h"

namespace zfs_sim {

namespace {

Failure bad(int code, const std::string& text) { return Failure{code, text}; }

bool power_of_two_in(uint64_t value, uint64_t low, uint64_t high) {
  return value >= low && value <= high && (value & (value - 1)) == 0;
}

std::optional<Failure> check_number(const PropEntry& entry, uint64_t value) {
  std::string name = entry.name;
  if (entry.id == ZFS_PROP_VOLSIZE && value == 0) return bad(EZFS_BADPROP, "volume size cannot be zero");
  if (entry.id == ZFS_PROP_VOLBLOCKSIZE && !power_of_two_in(value, 512, 131072))
    return bad(EZFS_BADPROP, "'volblocksize' must be power of 2 from 512B to 128KB");
  if (entry.id == ZFS_PROP_RECORDSIZE && !power_of_two_in(value, 512, 1048576))
    return bad(EZFS_BADPROP, "'recordsize' must be power of 2 from 512B to 1M");
  return std::nullopt;
}

const char* type_name(int type) {
  switch (type) {
    case ZFS_TYPE_FILESYSTEM: return "filesystem";
    case ZFS_TYPE_SNAPSHOT: return "snapshot";
    case ZFS_TYPE_VOLUME: return "volume";
  }
  return "dataset";
}

}  // namespace

std::variant<std::pair<std::string, nlohmann::json>, Failure> check_setting(
    const PropSetting& setting, int type, bool creating) {
  const PropEntry* entry = dataset_prop(setting.name);
  if (!entry) {
    if (!is_user_prop(setting.name)) return bad(EZFS_BADPROP, "invalid property '" + setting.name + "'");
    if (setting.number) return bad(EZFS_BADPROP, "'" + setting.name + "' must be a string");
    return std::pair{setting.name, nlohmann::json(setting.text)};
  }
  std::string name = entry->name;
  if (entry->flags & prop_readonly) return bad(EZFS_PROPREADONLY, "'" + name + "' is readonly");
  if (!(entry->types & type))
    return bad(EZFS_PROPTYPE,
               "'" + name + "' does not apply to datasets of type " + type_name(type));
  if ((entry->flags & prop_create_only) && !creating)
    return bad(EZFS_PROPREADONLY, "'" + name + "' can only be set at creation time");
  switch (entry->kind) {
    case PropKind::number: {
      std::optional<uint64_t> value = setting.number;
      if (!value && (entry->flags & prop_none) && setting.text == "none") value = 0;
      if (!value) value = parse_size(setting.text);
      if (!value) return bad(EZFS_BADPROP, "bad numeric value '" + setting.text + "' for '" + name + "'");
      if (auto failure = check_number(*entry, *value)) return *failure;
      return std::pair{name, nlohmann::json(*value)};
    }
    case PropKind::index: {
      std::optional<std::string> text =
          setting.number ? index_text(*entry, *setting.number) : std::optional(setting.text);
      if (!text || !index_of(*entry, *text))
        return bad(EZFS_BADPROP, "'" + name + "' must be one of '" + entry->values + "'");
      return std::pair{name, nlohmann::json(*text)};
    }
    case PropKind::string:
      if (setting.number) return bad(EZFS_BADPROP, "'" + name + "' must be a string");
      if (entry->id == ZFS_PROP_MOUNTPOINT && setting.text != "legacy" && setting.text != "none" &&
          (setting.text.empty() || setting.text[0] != '/'))
        return bad(EZFS_BADPROP, "'mountpoint' must be an absolute path, 'none', or 'legacy'");
      return std::pair{name, nlohmann::json(setting.text)};
  }
  return bad(EZFS_BADPROP, "invalid property '" + setting.name + "'");
}

std::optional<PropValue> read_prop(const nlohmann::json& datasets, const std::string& name,
                                   const PropEntry& entry) {
  auto it = datasets.find(name);
  if (it == datasets.end()) return std::nullopt;
  const nlohmann::json& ds = *it;
  int type = ds.value("type", 0);
  if (!(entry.types & type) && entry.id != ZFS_PROP_TYPE) return std::nullopt;
  PropValue value;
  switch (entry.id) {
    case ZFS_PROP_TYPE:
      value.number = static_cast<uint64_t>(type);
      value.text = type_name(type);
      return value;
    case ZFS_PROP_NAME:
      value.text = name;
      return value;
    case ZFS_PROP_CREATION: value.number = ds.value("creation", uint64_t{0}); return value;
    case ZFS_PROP_CREATETXG: value.number = ds.value("createtxg", uint64_t{0}); return value;
    case ZFS_PROP_GUID: value.number = ds.value("guid", uint64_t{0}); return value;
    case ZFS_PROP_ORIGIN:
      if (!ds.contains("origin")) return std::nullopt;
      value.text = ds.value("origin", "");
      return value;
    case ZFS_PROP_MOUNTED: {
      bool mounted = ds.value("mounted", false);
      value.number = mounted ? 1 : 0;
      value.text = mounted ? "yes" : "no";
      return value;
    }
    case ZFS_PROP_INCONSISTENT: value.number = ds.value("inconsistent", false) ? 1 : 0; return value;
    case ZFS_PROP_CLONES:
    case ZFS_PROP_NUMCLONES:
      for (const auto& [other, clone] : datasets.items()) {
        if (clone.value("origin", "") != name) continue;
        value.text += (value.text.empty() ? "" : ",") + other;
        ++value.number;
      }
      return value;
    default: break;
  }
  // The dataset's own value, then the nearest ancestor's for inherited ones.
  for (std::string at = name; !at.empty(); at = parent_of(at)) {
    auto holder = datasets.find(at);
    if (holder == datasets.end()) break;
    if (!holder->contains("props")) break;
    const nlohmann::json& props = (*holder)["props"];
    auto stored = props.find(entry.name);
    if (stored != props.end() && (stored->is_number_unsigned() || stored->is_string())) {
      value.source = at == name ? ZPROP_SRC_LOCAL : ZPROP_SRC_INHERITED;
      if (at != name) value.inherited_from = at;
      if (stored->is_number_unsigned()) {
        value.number = stored->get<uint64_t>();
      } else {
        value.text = stored->get<std::string>();
        if (entry.kind == PropKind::index) value.number = index_of(entry, value.text).value_or(0);
      }
      if (entry.id == ZFS_PROP_MOUNTPOINT && at != name && !value.text.empty() &&
          value.text.front() == '/')
        value.text += name.substr(at.size());
      return value;
    }
    if (!(entry.flags & prop_inherit)) break;
  }
  if (entry.id == ZFS_PROP_ORIGIN) return std::nullopt;
  value.source = (entry.flags & prop_readonly) ? ZPROP_SRC_NONE : ZPROP_SRC_DEFAULT;
  value.number = entry.default_number;
  value.text = entry.default_text;
  if (entry.id == ZFS_PROP_MOUNTPOINT) value.text = "/" + name;
  if (entry.id == ZFS_PROP_MOUNTED) value.text = "no";
  if (entry.kind == PropKind::index) value.number = index_of(entry, value.text).value_or(0);
  return value;
}

std::string format_prop(const PropEntry& entry, const PropValue& value, bool literal) {
  if (entry.kind != PropKind::number) return value.text;
  if ((entry.flags & prop_none) && value.number == 0 && !literal) return "none";
  if ((entry.flags & prop_date) && !literal) {
    time_t seconds = static_cast<time_t>(value.number);
    struct tm local;
    char buffer[64];
    localtime_r(&seconds, &local);
    std::strftime(buffer, sizeof buffer, "%a %b %e %H:%M %Y", &local);
    return buffer;
  }
  if ((entry.flags & prop_size) && !literal) return nicenum(value.number);
  if (entry.id == ZFS_PROP_COMPRESSRATIO || entry.id == ZFS_PROP_REFRATIO) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%llu.%02llux",
                  static_cast<unsigned long long>(value.number / 100),
                  static_cast<unsigned long long>(value.number % 100));
    return buffer;
  }
  return std::to_string(value.number);
}

}  // namespace zfs_sim
