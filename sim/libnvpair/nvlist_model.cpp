#include "sim/libnvpair/nvlist_model.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace nvpair_sim {

std::unique_ptr<libnvpair_nvlist> copy_list(const libnvpair_nvlist& list) {
  auto copy = std::make_unique<libnvpair_nvlist>();
  copy->flags = list.flags;
  for (const auto& pair : list.pairs) copy->pairs.push_back(copy_pair(*pair));
  return copy;
}

std::unique_ptr<libnvpair_nvpair> copy_pair(const libnvpair_nvpair& pair) {
  auto copy = std::make_unique<libnvpair_nvpair>();
  copy->name = pair.name;
  copy->type = pair.type;
  copy->number = pair.number;
  copy->text = pair.text;
  if (pair.list) copy->list = copy_list(*pair.list);
  for (const auto& element : pair.lists) {
    copy->lists.push_back(copy_list(*element));
    copy->list_view.push_back(copy->lists.back().get());
  }
  copy->numbers = pair.numbers;
  return copy;
}

int add_pair(nvlist_t* list, std::unique_ptr<libnvpair_nvpair> pair) {
  if (!list || pair->name.empty()) return EINVAL;
  if (list->flags & NV_UNIQUE_NAME) {
    std::erase_if(list->pairs, [&](const auto& p) { return p->name == pair->name; });
  }
  list->pairs.push_back(std::move(pair));
  return 0;
}

const libnvpair_nvpair* find(const nvlist_t* list, const char* name, data_type_t type) {
  if (!list || !name) return nullptr;
  // The last member wins when names repeat.
  for (auto it = list->pairs.rbegin(); it != list->pairs.rend(); ++it)
    if ((*it)->type == type && (*it)->name == name) return it->get();
  return nullptr;
}

void fail(const char* function, const char* name, int error) {
  std::fprintf(stderr, "libnvpair: %s(\"%s\") failed: %s\n", function, name ? name : "(null)",
               std::strerror(error));
  std::abort();
}

}  // namespace nvpair_sim
