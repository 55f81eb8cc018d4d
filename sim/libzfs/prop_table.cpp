#include "sim/libzfs/prop_table.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace zfs_sim {

namespace {

constexpr int FS = ZFS_TYPE_FILESYSTEM;
constexpr int SNAP = ZFS_TYPE_SNAPSHOT;
constexpr int VOL = ZFS_TYPE_VOLUME;
constexpr int FSVOL = FS | VOL;
constexpr int ALL = FS | SNAP | VOL;

using K = PropKind;
constexpr unsigned RO = prop_readonly, INH = prop_inherit, CREATE = prop_create_only,
                   SIZE = prop_size, NONE = prop_none, DATE = prop_date;

const char* const on_off = "on | off";

const std::vector<PropEntry> dataset_table = {
    {ZFS_PROP_TYPE, "type", nullptr, K::string, RO, ALL, "filesystem | volume | snapshot", 0, ""},
    {ZFS_PROP_CREATION, "creation", nullptr, K::number, RO | DATE, ALL, "<date>", 0, ""},
    {ZFS_PROP_USED, "used", nullptr, K::number, RO | SIZE, ALL, "<size>", 0, ""},
    {ZFS_PROP_AVAILABLE, "available", "avail", K::number, RO | SIZE, FSVOL, "<size>", 0, ""},
    {ZFS_PROP_REFERENCED, "referenced", "refer", K::number, RO | SIZE, ALL, "<size>", 0, ""},
    {ZFS_PROP_COMPRESSRATIO, "compressratio", "ratio", K::number, RO, ALL,
     "<1.00x or higher if compressed>", 100, ""},
    {ZFS_PROP_MOUNTED, "mounted", nullptr, K::index, RO, FS, "yes | no", 1, ""},
    {ZFS_PROP_ORIGIN, "origin", nullptr, K::string, RO, FSVOL, "<snapshot>", 0, ""},
    {ZFS_PROP_QUOTA, "quota", nullptr, K::number, SIZE | NONE, FS, "<size> | none", 0, ""},
    {ZFS_PROP_RESERVATION, "reservation", "reserv", K::number, SIZE | NONE, FSVOL,
     "<size> | none", 0, ""},
    {ZFS_PROP_VOLSIZE, "volsize", nullptr, K::number, SIZE, VOL, "<size>", 0, ""},
    {ZFS_PROP_VOLBLOCKSIZE, "volblocksize", "volblock", K::number, SIZE | CREATE, VOL,
     "512 to 128k, power of 2", 16384, ""},
    {ZFS_PROP_RECORDSIZE, "recordsize", "recsize", K::number, SIZE | INH, FS,
     "512 to 1M, power of 2", 131072, ""},
    {ZFS_PROP_MOUNTPOINT, "mountpoint", nullptr, K::string, INH, FS, "<path> | legacy | none", 0,
     ""},
    {ZFS_PROP_SHARENFS, "sharenfs", nullptr, K::string, INH, FS, "on | off | NFS share options",
     0, "off"},
    {ZFS_PROP_CHECKSUM, "checksum", nullptr, K::index, INH, FSVOL,
     "on | off | fletcher2 | fletcher4 | sha256 | sha512 | skein", 0, "on"},
    {ZFS_PROP_COMPRESSION, "compression", "compress", K::index, INH, FSVOL,
     "on | off | lzjb | gzip | zle | lz4 | zstd", 0, "off"},
    {ZFS_PROP_ATIME, "atime", nullptr, K::index, INH, FS, on_off, 0, "on"},
    {ZFS_PROP_DEVICES, "devices", nullptr, K::index, INH, FS, on_off, 0, "on"},
    {ZFS_PROP_EXEC, "exec", nullptr, K::index, INH, FS, on_off, 0, "on"},
    {ZFS_PROP_SETUID, "setuid", nullptr, K::index, INH, FS, on_off, 0, "on"},
    {ZFS_PROP_READONLY, "readonly", "rdonly", K::index, INH, FSVOL, on_off, 0, "off"},
    {ZFS_PROP_JAILED, "jailed", nullptr, K::index, INH, FS, on_off, 0, "off"},
    {ZFS_PROP_SNAPDIR, "snapdir", nullptr, K::index, INH, FS, "hidden | visible", 0, "hidden"},
    {ZFS_PROP_ACLMODE, "aclmode", nullptr, K::index, INH, FS,
     "discard | groupmask | passthrough | restricted", 0, "discard"},
    {ZFS_PROP_ACLINHERIT, "aclinherit", nullptr, K::index, INH, FS,
     "discard | noallow | restricted | passthrough | passthrough-x", 0, "restricted"},
    {ZFS_PROP_CREATETXG, "createtxg", nullptr, K::number, RO, ALL, "<uint64>", 0, ""},
    {ZFS_PROP_NAME, "name", nullptr, K::string, RO, ALL, "<dataset>", 0, ""},
    {ZFS_PROP_CANMOUNT, "canmount", nullptr, K::index, 0, FS, "on | off | noauto", 0, "on"},
    {ZFS_PROP_XATTR, "xattr", nullptr, K::index, INH, FS, "on | off | sa", 0, "on"},
    {ZFS_PROP_COPIES, "copies", nullptr, K::index, INH, FSVOL, "1 | 2 | 3", 0, "1"},
    {ZFS_PROP_VERSION, "version", nullptr, K::number, 0, FS | SNAP, "1 | 2 | 3 | 4 | 5 | current",
     5, ""},
    {ZFS_PROP_UTF8ONLY, "utf8only", nullptr, K::index, CREATE, FS, on_off, 0, "off"},
    {ZFS_PROP_NORMALIZE, "normalization", nullptr, K::index, CREATE, FS,
     "none | formC | formD | formKC | formKD", 0, "none"},
    {ZFS_PROP_CASE, "casesensitivity", nullptr, K::index, CREATE, FS,
     "sensitive | insensitive | mixed", 0, "sensitive"},
    {ZFS_PROP_SHARESMB, "sharesmb", nullptr, K::string, INH, FS, "on | off | SMB share options",
     0, "off"},
    {ZFS_PROP_REFQUOTA, "refquota", nullptr, K::number, SIZE | NONE, FS, "<size> | none", 0, ""},
    {ZFS_PROP_PRIMARYCACHE, "primarycache", nullptr, K::index, INH, FSVOL, "all | none | metadata",
     0, "all"},
    {ZFS_PROP_SECONDARYCACHE, "secondarycache", nullptr, K::index, INH, FSVOL,
     "all | none | metadata", 0, "all"},
    {ZFS_PROP_USEDSNAP, "usedbysnapshots", "usedsnap", K::number, RO | SIZE, FSVOL, "<size>", 0,
     ""},
    {ZFS_PROP_USEDDS, "usedbydataset", "usedds", K::number, RO | SIZE, FSVOL, "<size>", 0, ""},
    {ZFS_PROP_REFRESERVATION, "refreservation", "refreserv", K::number, SIZE | NONE, FSVOL,
     "<size> | none", 0, ""},
    {ZFS_PROP_GUID, "guid", nullptr, K::number, RO, ALL, "<uint64>", 0, ""},
    {ZFS_PROP_USEDCHILD, "usedbychildren", "usedchild", K::number, RO | SIZE, FSVOL, "<size>", 0,
     ""},
    {ZFS_PROP_USEDREFRESERV, "usedbyrefreservation", "usedrefreserv", K::number, RO | SIZE, FSVOL,
     "<size>", 0, ""},
    {ZFS_PROP_LOGBIAS, "logbias", nullptr, K::index, INH, FSVOL, "latency | throughput", 0,
     "latency"},
    {ZFS_PROP_DEDUP, "dedup", nullptr, K::index, INH, FSVOL,
     "on | off | verify | sha256 | sha512 | skein", 0, "off"},
    {ZFS_PROP_WRITTEN, "written", nullptr, K::number, RO | SIZE, ALL, "<size>", 0, ""},
    {ZFS_PROP_LOGICALUSED, "logicalused", "lused", K::number, RO | SIZE, FSVOL, "<size>", 0, ""},
    {ZFS_PROP_LOGICALREFERENCED, "logicalreferenced", "lrefer", K::number, RO | SIZE, ALL,
     "<size>", 0, ""},
    {ZFS_PROP_DEFER_DESTROY, "defer_destroy", nullptr, K::index, RO, SNAP, on_off, 0, "off"},
    {ZFS_PROP_USERREFS, "userrefs", nullptr, K::number, RO, SNAP, "<count>", 0, ""},
    {ZFS_PROP_OBJSETID, "objsetid", nullptr, K::number, RO, ALL, "<uint64>", 0, ""},
    {ZFS_PROP_REFRATIO, "refcompressratio", "refratio", K::number, RO, ALL,
     "<1.00x or higher if compressed>", 100, ""},
    {ZFS_PROP_SNAPDEV, "snapdev", nullptr, K::index, INH, VOL, "hidden | visible", 0, "hidden"},
    {ZFS_PROP_FILESYSTEM_LIMIT, "filesystem_limit", nullptr, K::number, NONE, FS,
     "<count> | none", 0, ""},
    {ZFS_PROP_SNAPSHOT_LIMIT, "snapshot_limit", nullptr, K::number, NONE, FSVOL, "<count> | none",
     0, ""},
    {ZFS_PROP_FILESYSTEM_COUNT, "filesystem_count", nullptr, K::number, RO, FS, "<count>", 0, ""},
    {ZFS_PROP_SYNC, "sync", nullptr, K::index, INH, FSVOL, "standard | always | disabled", 0,
     "standard"},
    {ZFS_PROP_SNAPSHOT_COUNT, "snapshot_count", nullptr, K::number, RO, FSVOL, "<count>", 0, ""},
    {ZFS_PROP_REDUNDANT_METADATA, "redundant_metadata", nullptr, K::index, INH, FSVOL,
     "all | most | some | none", 0, "all"},
    {ZFS_PROP_DNODESIZE, "dnodesize", nullptr, K::index, INH, FS,
     "legacy | auto | 1k | 2k | 4k | 8k | 16k", 0, "legacy"},
    {ZFS_PROP_CLONES, "clones", nullptr, K::string, RO, SNAP, "<dataset>[,...]", 0, ""},
    {ZFS_PROP_ENCRYPTION, "encryption", nullptr, K::index, CREATE, FSVOL,
     "on | off | aes-128-ccm | aes-192-ccm | aes-256-ccm | aes-128-gcm | aes-192-gcm | "
     "aes-256-gcm",
     0, "off"},
    {ZFS_PROP_KEYFORMAT, "keyformat", nullptr, K::index, CREATE, FSVOL,
     "none | raw | hex | passphrase", 0, "none"},
    {ZFS_PROP_INCONSISTENT, "inconsistent", nullptr, K::number, RO, FSVOL, "<0 or 1>", 0, ""},
    {ZFS_PROP_VOLMODE, "volmode", nullptr, K::index, INH, VOL, "default | full | geom | dev | none",
     0, "default"},
    {ZFS_PROP_KEYLOCATION, "keylocation", nullptr, K::string, 0, FSVOL,
     "prompt | <file URI> | <https URL> | <http URL>", 0, "none"},
    {ZFS_PROP_NUMCLONES, "numclones", nullptr, K::number, RO, SNAP, "<count>", 0, ""},
    {ZFS_PROP_RELATIME, "relatime", nullptr, K::index, INH, FS, on_off, 0, "off"},
    {ZFS_PROP_SPECIAL_SMALL_BLOCKS, "special_small_blocks", nullptr, K::number, SIZE | INH, FS,
     "zero or a power of 2 from 512B to 1M", 0, ""},
    {ZFS_PROP_RECEIVE_RESUME_TOKEN, "receive_resume_token", nullptr, K::string, RO, FSVOL,
     "<string token>", 0, "-"},
    {ZFS_PROP_ENCRYPTION_ROOT, "encryptionroot", nullptr, K::string, RO, FSVOL,
     "<filesystem | volume>", 0, "-"},
    {ZFS_PROP_KEYSTATUS, "keystatus", nullptr, K::index, RO, FSVOL,
     "none | unavailable | available", 0, "none"},
    {ZFS_PROP_VSCAN, "vscan", nullptr, K::index, INH, FS, on_off, 0, "off"},
    {ZFS_PROP_NBMAND, "nbmand", nullptr, K::index, INH, FS, on_off, 0, "off"},
    {ZFS_PROP_MLSLABEL, "mlslabel", nullptr, K::string, INH, ALL, "<sensitivity label>", 0,
     "none"},
    {ZFS_PROP_ACLTYPE, "acltype", nullptr, K::index, INH, FS, "off | nfsv4 | posix", 0, "nfsv4"},
    {ZFS_PROP_OVERLAY, "overlay", nullptr, K::index, INH, FS, on_off, 0, "on"},
    {ZFS_PROP_PBKDF2_ITERS, "pbkdf2iters", nullptr, K::number, CREATE, FSVOL, "<iters>", 0, ""},
    {ZFS_PROP_REDACTED, "redacted", nullptr, K::index, RO, ALL, "yes | no", 0, "no"},
    {ZFS_PROP_REDACT_SNAPS, "redact_snaps", nullptr, K::string, RO, SNAP, "<snapshot>[,...]", 0,
     ""},
    {ZFS_PROP_CONTEXT, "context", nullptr, K::string, 0, ALL, "<selinux context>", 0, "none"},
    {ZFS_PROP_FSCONTEXT, "fscontext", nullptr, K::string, 0, ALL, "<selinux fscontext>", 0,
     "none"},
    {ZFS_PROP_DEFCONTEXT, "defcontext", nullptr, K::string, 0, ALL, "<selinux defcontext>", 0,
     "none"},
    {ZFS_PROP_ROOTCONTEXT, "rootcontext", nullptr, K::string, 0, ALL, "<selinux rootcontext>", 0,
     "none"},
    {ZFS_PROP_SNAPSHOTS_CHANGED, "snapshots_changed", nullptr, K::number, RO | DATE, FSVOL,
     "<date>", 0, ""},
    {ZFS_PROP_PREFETCH, "prefetch", nullptr, K::index, INH, FSVOL, "none | metadata | all", 0,
     "all"},
    {ZFS_PROP_VOLTHREADING, "volthreading", nullptr, K::index, 0, VOL, on_off, 0, "on"},
    {ZFS_PROP_DIRECT, "direct", nullptr, K::index, INH, FSVOL, "disabled | standard | always", 0,
     "standard"},
    {ZFS_PROP_LONGNAME, "longname", nullptr, K::index, INH, FS, on_off, 0, "off"},
    {ZFS_PROP_DEFAULTUSERQUOTA, "defaultuserquota", nullptr, K::number, SIZE | NONE, FS,
     "<size> | none", 0, ""},
    {ZFS_PROP_DEFAULTGROUPQUOTA, "defaultgroupquota", nullptr, K::number, SIZE | NONE, FS,
     "<size> | none", 0, ""},
    {ZFS_PROP_DEFAULTPROJECTQUOTA, "defaultprojectquota", nullptr, K::number, SIZE | NONE, FS,
     "<size> | none", 0, ""},
    {ZFS_PROP_DEFAULTUSEROBJQUOTA, "defaultuserobjquota", nullptr, K::number, NONE, FS,
     "<count> | none", 0, ""},
};

constexpr int POOL = ZFS_TYPE_POOL;
const std::vector<PropEntry> pool_table = {
    {ZPOOL_PROP_NAME, "name", nullptr, K::string, RO, POOL, "<pool>", 0, ""},
    {ZPOOL_PROP_SIZE, "size", nullptr, K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_CAPACITY, "capacity", "cap", K::number, RO, POOL, "<percent>", 0, ""},
    {ZPOOL_PROP_ALTROOT, "altroot", nullptr, K::string, 0, POOL, "<path>", 0, "-"},
    {ZPOOL_PROP_HEALTH, "health", nullptr, K::string, RO, POOL, "<state>", 0, ""},
    {ZPOOL_PROP_GUID, "guid", nullptr, K::number, RO, POOL, "<guid>", 0, ""},
    {ZPOOL_PROP_VERSION, "version", nullptr, K::number, 0, POOL, "<version>", 5000, ""},
    {ZPOOL_PROP_BOOTFS, "bootfs", nullptr, K::string, 0, POOL, "<filesystem>", 0, "-"},
    {ZPOOL_PROP_DELEGATION, "delegation", nullptr, K::index, 0, POOL, on_off, 0, "on"},
    {ZPOOL_PROP_AUTOREPLACE, "autoreplace", "replace", K::index, 0, POOL, on_off, 0, "off"},
    {ZPOOL_PROP_CACHEFILE, "cachefile", nullptr, K::string, 0, POOL, "<file> | none", 0, "-"},
    {ZPOOL_PROP_FAILUREMODE, "failmode", nullptr, K::index, 0, POOL, "wait | continue | panic", 0,
     "wait"},
    {ZPOOL_PROP_LISTSNAPS, "listsnapshots", "listsnaps", K::index, 0, POOL, on_off, 0, "off"},
    {ZPOOL_PROP_AUTOEXPAND, "autoexpand", "expand", K::index, 0, POOL, on_off, 0, "off"},
    {ZPOOL_PROP_DEDUPRATIO, "dedupratio", "dedup", K::number, RO, POOL,
     "<1.00x or higher if deduped>", 100, ""},
    {ZPOOL_PROP_FREE, "free", nullptr, K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_ALLOCATED, "allocated", "alloc", K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_READONLY, "readonly", "rdonly", K::index, RO, POOL, on_off, 0, "off"},
    {ZPOOL_PROP_COMMENT, "comment", nullptr, K::string, 0, POOL, "<comment-string>", 0, "-"},
    {ZPOOL_PROP_ASHIFT, "ashift", nullptr, K::number, CREATE, POOL,
     "<ashift, 9-16, or 0=default>", 0, ""},
    {ZPOOL_PROP_EXPANDSZ, "expandsize", nullptr, K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_FREEING, "freeing", nullptr, K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_FRAGMENTATION, "fragmentation", "frag", K::number, RO, POOL, "<percent>", 0, ""},
    {ZPOOL_PROP_LEAKED, "leaked", nullptr, K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_MULTIHOST, "multihost", nullptr, K::index, 0, POOL, on_off, 0, "off"},
    {ZPOOL_PROP_CHECKPOINT, "checkpoint", nullptr, K::number, RO | SIZE, POOL, "<size>", 0, ""},
    {ZPOOL_PROP_LOAD_GUID, "load_guid", nullptr, K::number, RO, POOL, "<load_guid>", 0, ""},
    {ZPOOL_PROP_AUTOTRIM, "autotrim", nullptr, K::index, 0, POOL, on_off, 0, "off"},
    {ZPOOL_PROP_COMPATIBILITY, "compatibility", nullptr, K::string, 0, POOL,
     "<file[,file...]> | off | legacy", 0, "off"},
};

const PropEntry* by_id(const std::vector<PropEntry>& table, int id) {
  for (const PropEntry& entry : table)
    if (entry.id == id) return &entry;
  return nullptr;
}

const PropEntry* by_name(const std::vector<PropEntry>& table, const std::string& name) {
  for (const PropEntry& entry : table)
    if (name == entry.name || (entry.alias && name == entry.alias)) return &entry;
  return nullptr;
}

}  // namespace

const PropEntry* dataset_prop(int id) { return by_id(dataset_table, id); }
const PropEntry* dataset_prop(const std::string& name) { return by_name(dataset_table, name); }
const std::vector<PropEntry>& dataset_props() { return dataset_table; }
const PropEntry* pool_prop(int id) { return by_id(pool_table, id); }
const PropEntry* pool_prop(const std::string& name) { return by_name(pool_table, name); }
const std::vector<PropEntry>& pool_props() { return pool_table; }

bool is_user_prop(const std::string& name) {
  if (name.find(':') == std::string::npos || name.size() > 256) return false;
  for (unsigned char c : name)
    if (!(std::islower(c) || std::isdigit(c) || c == '-' || c == '_' || c == '.' || c == ':'))
      return false;
  return true;
}

std::vector<std::string> index_values(const PropEntry& entry) {
  std::vector<std::string> values;
  std::string text = entry.values;
  size_t start = 0;
  while (true) {
    size_t bar = text.find(" | ", start);
    values.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 3;
  }
  // "off" is 0 and "on" 1, as in every on/off switch.
  if (values.size() >= 2 && values[0] == "on" && values[1] == "off") std::swap(values[0], values[1]);
  return values;
}

std::optional<uint64_t> index_of(const PropEntry& entry, const std::string& text) {
  std::vector<std::string> values = index_values(entry);
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i] == text) return i;
  return std::nullopt;
}

std::optional<std::string> index_text(const PropEntry& entry, uint64_t index) {
  std::vector<std::string> values = index_values(entry);
  if (index >= values.size()) return std::nullopt;
  return values[index];
}

std::string nicenum(uint64_t value) {
  static const char units[] = " KMGTPE";
  int index = 0;
  uint64_t n = value;
  while (n >= 1024 && index < 6) {
    n /= 1024;
    ++index;
  }
  char buffer[32];
  if (index == 0) {
    std::snprintf(buffer, sizeof buffer, "%llu", static_cast<unsigned long long>(value));
  } else if ((value & ((1ULL << (10 * index)) - 1)) == 0) {
    std::snprintf(buffer, sizeof buffer, "%llu%c", static_cast<unsigned long long>(n), units[index]);
  } else {
    double scaled = static_cast<double>(value) / static_cast<double>(1ULL << (10 * index));
    for (int precision = 2; precision >= 0; --precision) {
      std::snprintf(buffer, sizeof buffer, "%.*f%c", precision, scaled, units[index]);
      if (std::string(buffer).size() <= 5) break;
    }
  }
  return buffer;
}

std::optional<uint64_t> parse_size(const std::string& text) {
  size_t pos = 0;
  while (pos < text.size() && (std::isdigit(static_cast<unsigned char>(text[pos])) || text[pos] == '.'))
    ++pos;
  std::string number = text.substr(0, pos), unit = text.substr(pos);
  if (number.empty() || number == "." || number.find('.') != number.rfind('.')) return std::nullopt;
  int shift = 0;
  if (!unit.empty()) {
    static const std::string letters = "BKMGTPE";
    size_t at = letters.find(static_cast<char>(std::toupper(static_cast<unsigned char>(unit[0]))));
    if (at == std::string::npos) return std::nullopt;
    shift = static_cast<int>(at) * 10;
    std::string rest = unit.substr(1);
    if (at == 0 ? !rest.empty() : !(rest.empty() || rest == "B" || rest == "b" || rest == "iB"))
      return std::nullopt;
  }
  if (number.find('.') == std::string::npos) {
    uint64_t whole = 0;
    for (char c : number) {
      uint64_t digit = static_cast<uint64_t>(c - '0');
      if (whole > (UINT64_MAX - digit) / 10) return std::nullopt;
      whole = whole * 10 + digit;
    }
    if (shift > 0 && whole > (UINT64_MAX >> shift)) return std::nullopt;
    return whole << shift;
  }
  if (shift == 0) return std::nullopt;  // a fraction of a byte
  double value = std::stod(number) * std::ldexp(1.0, shift);
  if (value >= 18446744073709551615.0) return std::nullopt;
  return static_cast<uint64_t>(value);
}

}  // namespace zfs_sim
