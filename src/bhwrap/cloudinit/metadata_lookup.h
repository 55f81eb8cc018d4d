// Answers of the metadata document: the value of a key a guest asks for and
// the list of the keys it may fetch whole.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// The answer text for `key`: a JSON pointer when it begins with "/"; else the
// member named so (after dropping a leading "sdc:"), or, for a name holding
// ":", the pointer with ":" read as "/" ("sdc:nics:0:ip" -> "/nics/0/ip").
// Strings answer with their text, other values with compact JSON. "" when
// nothing is found (an empty string counts as nothing).
std::string metadata_lookup(const nlohmann::json& document, const std::string& key);

// The KEYS answer: "root_authorized_keys\n", "user-data\n", "user-script\n",
// each when the document has that member; "\n" when it has none of them.
std::string metadata_keys(const nlohmann::json& document);
