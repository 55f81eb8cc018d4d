#include "sim/libnv/nv_codec.h"

#include <cstring>

namespace nv_sim {

namespace {

constexpr char magic[4] = {'O', 'N', 'V', '1'};

void put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put_body(std::vector<uint8_t>& out, const libnv_nvlist& list) {
  put(out, static_cast<uint8_t>(list.flags), 1);
  put(out, list.members.size(), 4);
  for (const NvMember& m : list.members) {
    put(out, static_cast<uint8_t>(m.type), 1);
    put(out, m.name.size(), 2);
    out.insert(out.end(), m.name.begin(), m.name.end());
    std::vector<uint8_t> data;
    switch (m.type) {
      case NvType::boolean: put(data, m.number ? 1 : 0, 1); break;
      case NvType::number: put(data, m.number, 8); break;
      case NvType::string: data.assign(m.text.begin(), m.text.end()); break;
      case NvType::nvlist: put_body(data, *m.list); break;
      case NvType::binary: data = m.bytes; break;
    }
    put(out, data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
  }
}

// A bounded cursor over the packed bytes: every read checks what is left.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), left_(size) {}
  size_t left() const { return left_; }

  bool number(uint64_t& value, int bytes) {
    if (left_ < static_cast<size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(data_[i]) << (8 * i);
    advance(bytes);
    return true;
  }
  bool bytes(size_t count, const uint8_t*& start) {
    if (left_ < count) return false;
    start = data_;
    advance(count);
    return true;
  }

 private:
  void advance(size_t count) {
    data_ += count;
    left_ -= count;
  }
  const uint8_t* data_;
  size_t left_;
};

bool no_nul(const uint8_t* start, size_t size) { return !std::memchr(start, 0, size); }

bool read_body(Reader& in, libnv_nvlist& list, int depth);

bool read_value(NvMember& m, const uint8_t* data, size_t size, int depth) {
  switch (m.type) {
    case NvType::boolean:
      if (size != 1 || data[0] > 1) return false;
      m.number = data[0];
      return true;
    case NvType::number: {
      if (size != 8) return false;
      Reader value(data, size);
      return value.number(m.number, 8);
    }
    case NvType::string:
      if (!no_nul(data, size)) return false;
      m.text.assign(reinterpret_cast<const char*>(data), size);
      return true;
    case NvType::nvlist: {
      if (depth + 1 > max_depth) return false;
      Reader nested(data, size);
      m.list = std::make_unique<libnv_nvlist>();
      return read_body(nested, *m.list, depth + 1) && nested.left() == 0;
    }
    case NvType::binary:
      m.bytes.assign(data, data + size);
      return true;
  }
  return false;
}

bool read_body(Reader& in, libnv_nvlist& list, int depth) {
  uint64_t flags = 0, count = 0;
  if (!in.number(flags, 1) || (flags & ~static_cast<uint64_t>(NV_FLAG_NO_UNIQUE))) return false;
  if (!in.number(count, 4)) return false;
  // Each member takes at least 7 bytes: refuse counts the buffer cannot hold
  // before reserving anything for them.
  if (count > in.left() / 7) return false;
  list.flags = static_cast<int>(flags);
  list.members.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t type = 0, name_length = 0, data_length = 0;
    const uint8_t* name = nullptr;
    const uint8_t* data = nullptr;
    if (!in.number(type, 1) || type < 1 || type > 5) return false;
    if (!in.number(name_length, 2) || name_length == 0 || name_length > max_name_length)
      return false;
    if (!in.bytes(name_length, name) || !no_nul(name, name_length)) return false;
    if (!in.number(data_length, 4) || !in.bytes(data_length, data)) return false;
    NvMember m;
    m.name.assign(reinterpret_cast<const char*>(name), name_length);
    m.type = static_cast<NvType>(type);
    if (!read_value(m, data, data_length, depth)) return false;
    add_member(&list, std::move(m));
    if (list.error) return false;  // a repeated name in a list with unique names
  }
  return true;
}

}  // namespace

std::vector<uint8_t> pack(const libnv_nvlist& list) {
  std::vector<uint8_t> out(magic, magic + sizeof magic);
  put_body(out, list);
  return out;
}

std::unique_ptr<libnv_nvlist> unpack(const uint8_t* data, size_t size, int flags) {
  if (!data || size < sizeof magic || std::memcmp(data, magic, sizeof magic) != 0) return nullptr;
  Reader in(data + sizeof magic, size - sizeof magic);
  auto list = std::make_unique<libnv_nvlist>();
  if (!read_body(in, *list, 1) || in.left() != 0 || list->flags != flags) return nullptr;
  return list;
}

}  // namespace nv_sim
