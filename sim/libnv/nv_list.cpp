#include "sim/libnv/nv_list.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace nv_sim {

namespace {

const char* type_name(NvType type) {
  switch (type) {
    case NvType::boolean: return "BOOL";
    case NvType::number: return "NUMBER";
    case NvType::string: return "STRING";
    case NvType::nvlist: return "NVLIST";
    case NvType::binary: return "BINARY";
  }
  return "UNKNOWN";
}

}  // namespace

std::unique_ptr<libnv_nvlist> copy_list(const libnv_nvlist& list) {
  auto copy = std::make_unique<libnv_nvlist>();
  copy->flags = list.flags;
  copy->error = list.error;
  for (const NvMember& member : list.members) {
    NvMember m{member.name, member.type, member.number, member.text, nullptr, member.bytes};
    if (member.list) m.list = copy_list(*member.list);
    copy->members.push_back(std::move(m));
  }
  return copy;
}

void add_member(libnv_nvlist* list, NvMember member) {
  if (!list || list->error) return;
  if (member.name.empty() || member.name.size() > max_name_length) {
    list->error = EINVAL;
    return;
  }
  if (!(list->flags & NV_FLAG_NO_UNIQUE)) {
    for (const NvMember& m : list->members)
      if (m.name == member.name) {
        list->error = EEXIST;
        return;
      }
  }
  list->members.push_back(std::move(member));
}

const NvMember* find(const libnv_nvlist* list, const char* name, NvType type) {
  if (!list || !name) return nullptr;
  for (const NvMember& member : list->members)
    if (member.type == type && member.name == name) return &member;
  return nullptr;
}

const NvMember& get_or_abort(const libnv_nvlist* list, const char* name, NvType type) {
  const NvMember* member = find(list, name, type);
  if (!member) {
    std::fprintf(stderr, "libnv: element '%s' of type %s doesn't exist\n", name ? name : "(null)",
                 type_name(type));
    std::abort();
  }
  return *member;
}

}  // namespace nv_sim
