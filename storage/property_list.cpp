#include "storage/property_list.h"

#include <cerrno>
#include <utility>

property_list::~property_list() { clear(); }

property_list::property_list(property_list&& other) noexcept
    : list_(std::exchange(other.list_, nullptr)), values_(std::move(other.values_)) {
  other.values_.clear();
}

property_list& property_list::operator=(property_list&& other) noexcept {
  if (this != &other) {
    clear();
    list_ = std::exchange(other.list_, nullptr);
    values_ = std::move(other.values_);
    other.values_.clear();
  }
  return *this;
}

const property_value& property_list::get(const std::string& name) const {
  static const property_value absent{uint64_t{0}};
  auto it = values_.find(name);
  return it == values_.end() ? absent : it->second;
}

void property_list::clear() {
  if (list_) nvpair::nvlist_free(list_);
  list_ = nullptr;
  values_.clear();
}

bool property_list::ensure_list() {
  if (list_) return true;
  nvlist_t* list = nullptr;
  if (nvpair::nvlist_alloc(&list, NV_UNIQUE_NAME, 0) != 0 || !list) return false;
  list_ = list;
  return true;
}

int32_t property_list::stored(int add_result, const std::string& name, property_value value) {
  if (add_result == ENOMEM) return property_no_memory;
  if (add_result == EINVAL) return property_refused;
  // Another failure of the nvlist leaves the map alone but is not reported.
  if (add_result == 0) values_.emplace(name, std::move(value));
  return property_stored;
}
