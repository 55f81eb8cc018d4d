// What the pool and dataset property lists share: the nvlist handed to
// libzfs and, beside it, an ordered map of the same values that the library
// itself can read back.
//
// The two do not follow one rule for a repeated name: the nvlist keeps the
// last value set (unique names), the map the first. A set that fails leaves
// the map as it was. The list is allocated on the first set. Movable (the
// source is left empty), not copyable.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "hostlib/nvpair.h"

// A property value: a number (alternative 0) or a text (alternative 1).
using property_value = std::variant<uint64_t, std::string>;

// Results of a set.
inline constexpr int32_t property_stored = 0;
inline constexpr int32_t property_no_memory = -1;    // allocation failed or nvlist said ENOMEM
inline constexpr int32_t property_unknown = -2;      // not a property of this kind
inline constexpr int32_t property_refused = -3;      // nvlist refused name or value (EINVAL)

class property_list {
 public:
  property_list() = default;
  ~property_list();
  property_list(property_list&& other) noexcept;
  property_list& operator=(property_list&& other) noexcept;
  property_list(const property_list&) = delete;
  property_list& operator=(const property_list&) = delete;

  // The nvlist, null before the first successful allocation; still owned.
  nvlist_t* list() const { return list_; }
  const std::map<std::string, property_value>& values() const { return values_; }

  // The stored value; for an absent name a shared value holding the number 0.
  const property_value& get(const std::string& name) const;
  // Frees the list and empties the map.
  void clear();

 protected:
  // Allocates the list on first use; false when that failed.
  bool ensure_list();
  // Maps the result of an nvlist add for `name` and keeps `value` in the map
  // when the add succeeded.
  int32_t stored(int add_result, const std::string& name, property_value value);

 private:
  nvlist_t* list_ = nullptr;
  std::map<std::string, property_value> values_;
};
