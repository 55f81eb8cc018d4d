// The stand-in's property tables: every dataset and pool property it knows,
// with its kind, where it applies and its default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <libzfs.h>

namespace zfs_sim {

enum class PropKind { number, string, index };

enum PropFlags : unsigned {
  prop_readonly = 1,     // a statistic or fixed value; never set
  prop_inherit = 2,      // children take the parent's value
  prop_create_only = 4,  // set only when the dataset is created
  prop_size = 8,         // a size: shown in K/M/G... unless literal
  prop_none = 16,        // "none" stands for 0
  prop_date = 32,        // seconds since the epoch: shown as a date unless literal
};

struct PropEntry {
  int id;
  const char* name;
  const char* alias;  // short name, or null
  PropKind kind;
  unsigned flags;
  int types;           // dataset type mask where the property applies
  const char* values;  // accepted values, as shown to users
  uint64_t default_number;
  const char* default_text;
};

// The dataset property of that id, or null (also for ids without a property).
const PropEntry* dataset_prop(int id);
// The dataset property of that name or alias, or null.
const PropEntry* dataset_prop(const std::string& name);
// Every dataset property, in id order.
const std::vector<PropEntry>& dataset_props();

const PropEntry* pool_prop(int id);
const PropEntry* pool_prop(const std::string& name);
const std::vector<PropEntry>& pool_props();

// A user property name: "module:property", lower case, digits and "-_.:".
bool is_user_prop(const std::string& name);

// The accepted values of an index property, in index order.
std::vector<std::string> index_values(const PropEntry& entry);
// The index of `text` among them; "off" is 0 and "on" 1 where both exist.
std::optional<uint64_t> index_of(const PropEntry& entry, const std::string& text);
// The text of index `index`, or nothing.
std::optional<std::string> index_text(const PropEntry& entry, uint64_t index);

// A number as libzfs shows it: 1024-based with a unit letter ("16K", "1.50G").
std::string nicenum(uint64_t value);
// "10G", "512", "1.5M", "100k": bytes; nothing when the text is no size.
std::optional<uint64_t> parse_size(const std::string& text);

}  // namespace zfs_sim
