// What a binding answers for an entry point that the library lacks: nothing
// for a function without a result, null for a pointer, false for a bool and
// -1 for any other number.
#pragma once

#include <type_traits>

namespace hostlib {

template <class R>
R missing_result() {
  if constexpr (std::is_void_v<R>) {
    return;
  } else if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else if constexpr (std::is_same_v<R, bool>) {
    return false;
  } else {
    return static_cast<R>(-1);
  }
}

// The answer for one entry point, chosen by its slot in the binding's table
// (a pointer to member); specialised where an entry point answers otherwise.
template <auto Slot>
struct on_missing {
  template <class R>
  static R value() {
    return missing_result<R>();
  }
};

}  // namespace hostlib
