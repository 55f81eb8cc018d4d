#include "sim/libzfs/send_stream.h"

#include <cstring>

#include <libzfs.h>

#include "sim/libzfs/dataset_model.h"
#include "sim/libzfs/names.h"
#include "sim/libzfs/snapshot_model.h"

namespace zfs_sim {

namespace {

constexpr char magic[] = "OMBXZSND";
constexpr char trailer[] = "OMBXZEND";
constexpr uint32_t stream_version = 1;
constexpr size_t header_size = 8 + 4 + 4 + 8 + 8;

Failure fail(int code, std::string text = "") {
  if (text.empty()) text = error_text(code);
  return Failure{code, std::move(text)};
}

uint64_t fnv1a(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 1099511628211ULL;
  }
  return hash;
}

void put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

uint64_t take(const std::string& in, size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint64_t(static_cast<unsigned char>(in[at + i])) << (8 * i);
  return value;
}

// The snapshots of one dataset that a stream carries, oldest first, or
// nothing when it lacks the target (or the source) snapshot.
std::optional<nlohmann::json> stream_snapshots(SnapshotModel& snapshots, const nlohmann::json& datasets,
                                               const std::string& dataset, const SendRequest& request,
                                               uint64_t& from_guid) {
  std::string to = dataset + "@" + request.to, from = dataset + "@" + request.from;
  if (!datasets.contains(to)) return std::nullopt;
  uint64_t to_txg = datasets[to].value("createtxg", uint64_t{0}), from_txg = 0;
  if (!request.from.empty()) {
    if (!datasets.contains(from)) return std::nullopt;
    from_txg = datasets[from].value("createtxg", uint64_t{0});
    from_guid = datasets[from].value("guid", uint64_t{0});
  }
  nlohmann::json result = nlohmann::json::array();
  for (const std::string& snap : snapshots.snapshots_of(dataset)) {
    const nlohmann::json& ds = datasets[snap];
    uint64_t txg = ds.value("createtxg", uint64_t{0});
    bool wanted = snap == to || (request.doall && txg < to_txg && (request.from.empty() || txg > from_txg));
    if (!wanted) continue;
    result.push_back({{"name", snap.substr(snap.find('@') + 1)},
                      {"guid", ds.value("guid", uint64_t{0})},
                      {"creation", ds.value("creation", uint64_t{0})},
                      {"props", ds.value("props", nlohmann::json::object())}});
  }
  return result;
}

// The properties a received dataset needs whatever the flags say.
nlohmann::json needed_props(const nlohmann::json& props, int type) {
  nlohmann::json needed = nlohmann::json::object();
  if (type == ZFS_TYPE_VOLUME)
    for (const char* key : {"volsize", "volblocksize"})
      if (props.contains(key)) needed[key] = props[key];
  return needed;
}

std::optional<nlohmann::json> parse(const std::string& stream, Failure& why) {
  why = fail(EZFS_BADSTREAM, "invalid stream (bad magic number)");
  if (stream.size() < header_size + 8 || stream.compare(0, 8, magic) != 0) return std::nullopt;
  if (take(stream, 8, 4) != stream_version) {
    why = fail(EZFS_BADSTREAM, "stream has unsupported version");
    return std::nullopt;
  }
  uint64_t length = take(stream, 16, 8), checksum = take(stream, 24, 8);
  why = fail(EZFS_BADSTREAM, "invalid stream (checksum mismatch)");
  if (length != stream.size() - header_size - 8 ||
      stream.compare(header_size + length, 8, trailer) != 0)
    return std::nullopt;
  std::string description = stream.substr(header_size, length);
  if (fnv1a(description) != checksum) return std::nullopt;
  nlohmann::json parsed = nlohmann::json::parse(description, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object() || !parsed["datasets"].is_array()) return std::nullopt;
  return parsed;
}

}  // namespace

std::variant<std::string, Failure> build_stream(ZfsModel& model, const SendRequest& request) {
  const nlohmann::json& datasets = model.state().state()["datasets"];
  if (Outcome failure = model.check_open(request.dataset, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
    return *failure;
  std::string to = request.dataset + "@" + request.to;
  if (request.to.empty() || model.dataset_type(to) != ZFS_TYPE_SNAPSHOT)
    return fail(EZFS_NOENT, "snapshot '" + to + "' does not exist");
  if (!request.from.empty()) {
    std::string from = request.dataset + "@" + request.from;
    if (model.dataset_type(from) != ZFS_TYPE_SNAPSHOT)
      return fail(EZFS_NOENT, "incremental source '" + from + "' does not exist");
    if (datasets[from].value("createtxg", uint64_t{0}) >= datasets[to].value("createtxg", uint64_t{0}))
      return fail(EZFS_BADBACKUP, "incremental source must be earlier than the target");
  }
  SnapshotModel snapshots(model);
  std::vector<std::string> tree{request.dataset};
  if (request.replicate)
    for (size_t i = 0; i < tree.size(); ++i)
      for (const std::string& child : model.children(tree[i], false)) tree.push_back(child);

  nlohmann::json described = {{"top", request.dataset}, {"from", request.from}, {"to", request.to},
                              {"datasets", nlohmann::json::array()}};
  for (const std::string& dataset : tree) {
    uint64_t from_guid = 0;
    std::optional<nlohmann::json> snaps = stream_snapshots(snapshots, datasets, dataset, request, from_guid);
    if (!snaps) continue;  // a descendant without the snapshots is left out
    int type = datasets[dataset].value("type", 0);
    nlohmann::json props = datasets[dataset].value("props", nlohmann::json::object());
    nlohmann::json entry = {{"name", dataset.substr(request.dataset.size())},
                            {"type", type},
                            {"props", request.props ? props : needed_props(props, type)},
                            {"snapshots", std::move(*snaps)}};
    if (!request.from.empty()) entry["from_guid"] = from_guid;
    if (!request.props)
      for (auto& snap : entry["snapshots"]) snap["props"] = needed_props(snap["props"], type);
    described["datasets"].push_back(std::move(entry));
  }
  std::string description = described.dump();
  std::string stream(magic, 8);
  put(stream, stream_version, 4);
  put(stream, (request.replicate ? 1 : 0) | (request.doall ? 2 : 0) | (request.props ? 4 : 0) |
                  (request.largeblock ? 8 : 0),
      4);
  put(stream, description.size(), 8);
  put(stream, fnv1a(description), 8);
  stream += description;
  stream.append(trailer, 8);
  return stream;
}

namespace {

Outcome receive_dataset(ZfsModel& model, const std::string& name, const nlohmann::json& entry,
                        bool incremental, bool force) {
  nlohmann::json& datasets = model.state().state()["datasets"];
  int type = entry.value("type", 0);
  const nlohmann::json& snaps = entry["snapshots"];
  if (!snaps.is_array() || snaps.empty()) return fail(EZFS_BADSTREAM, "stream carries no snapshot");
  SnapshotModel snapshots(model);
  if (!incremental || !datasets.contains(name)) {
    if (incremental && entry.contains("from_guid"))
      return fail(EZFS_BADRESTORE, "destination '" + name + "' does not exist");
    if (datasets.contains(name)) return fail(EZFS_EXISTS, "destination '" + name + "' exists");
    std::vector<PropSetting> settings;
    const nlohmann::json first_props = snaps.front().value("props", nlohmann::json::object());
    for (const auto& [key, value] : first_props.items()) {
      if (value.is_number_unsigned())
        settings.push_back({key, value.get<uint64_t>(), ""});
      else if (value.is_string())
        settings.push_back({key, std::nullopt, value.get<std::string>()});
    }
    if (Outcome failure = model.create(name, type, settings)) return failure;
  } else {
    if (model.dataset_type(name) != type)
      return fail(EZFS_BADRESTORE, "destination '" + name + "' is of another type");
    uint64_t base_guid = entry.value("from_guid", uint64_t{0});
    std::vector<std::string> existing = snapshots.snapshots_of(name);
    auto base = std::find_if(existing.begin(), existing.end(), [&](const std::string& snap) {
      return datasets[snap].value("guid", uint64_t{0}) == base_guid;
    });
    if (base == existing.end())
      return fail(EZFS_BADRESTORE, "destination '" + name + "' does not have the source snapshot");
    if (base + 1 != existing.end()) {
      if (!force)
        return fail(EZFS_BADRESTORE, "destination '" + name + "' has been modified since the source snapshot");
      if (Outcome failure = snapshots.rollback(name, *base)) return failure;
    }
  }
  for (const nlohmann::json& snap : snaps) {
    std::string full = name + "@" + snap.value("name", "");
    if (model.dataset_type(full)) return fail(EZFS_EXISTS, "snapshot '" + full + "' exists");
    if (Outcome failure = snapshots.snapshot({full})) return failure;
    datasets[full]["guid"] = snap.value("guid", uint64_t{0});
    datasets[full]["creation"] = snap.value("creation", uint64_t{0});
    nlohmann::json props = snap.value("props", nlohmann::json::object());
    datasets[full]["props"] = props;
    datasets[name]["props"] = props;
  }
  return std::nullopt;
}

}  // namespace

Outcome receive_stream(ZfsModel& model, const std::string& target, const std::string& stream,
                       bool force) {
  Failure why{0, ""};
  std::optional<nlohmann::json> described = parse(stream, why);
  if (!described) return why;
  std::string top = target.substr(0, target.find('@'));
  if (auto problem = name_problem(top, ZFS_TYPE_FILESYSTEM | ZFS_TYPE_VOLUME))
    return fail(EZFS_INVALIDNAME, *problem);
  bool incremental = !described->value("from", "").empty();
  nlohmann::json saved = model.state().state();
  for (const nlohmann::json& entry : (*described)["datasets"]) {
    std::string name = top + entry.value("name", "");
    if (Outcome failure = receive_dataset(model, name, entry, incremental, force)) {
      model.state().state() = std::move(saved);  // all or nothing
      return failure;
    }
  }
  model.state().mark_changed();
  return std::nullopt;
}

}  // namespace zfs_sim
