// One host library opened at run time, with the record of which of its
// entry points could not be resolved.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "hostlib/shared_library.h"

class HostLibrary {
 public:
  // Opens `path` (a real host path, mapped under the host root); `name` is
  // how messages call the library ("libzfs").
  HostLibrary(std::string name, const std::string& path);

  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }
  bool loaded() const { return library_.is_open(); }
  // Why the library did not load, "" when it did.
  const std::string& load_error() const { return library_.error(); }
  // The names that resolve() and resolve_object() could not find, in the
  // order asked (every name when the library did not load).
  const std::vector<std::string>& missing_symbols() const { return missing_; }

  // Sets `slot` to the function `symbol`, or null (and records the name).
  template <class F>
  void resolve(F& slot, const char* symbol) {
    slot = library_.function<F>(symbol);
    if (!slot) missing_.emplace_back(symbol);
  }
  // Sets `slot` to the address of the data object `symbol`, or null.
  template <class T>
  void resolve_object(T*& slot, const char* symbol) {
    slot = static_cast<T*>(library_.symbol(symbol));
    if (!slot) missing_.emplace_back(symbol);
  }

 private:
  SharedLibrary library_;
  std::string name_;
  std::string path_;
  std::vector<std::string> missing_;
};

// The process-wide binding `Table` of the library at `path`, made on the
// first call (safe from several threads) and never destroyed: callers on
// other threads may still use it while the process ends.
template <class Table>
const Table& load_once(const char* path) {
  static const Table* table = nullptr;
  static std::once_flag once;
  std::call_once(once, [path] { table = new Table(path); });
  return *table;
}
