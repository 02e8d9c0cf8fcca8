// Error types of the modules' C++ operations. The operations never include pybind11; each binding
// translates these into the Python exception a host script expects (see bind_support.h):
//   kelm::key_error         -> KeyError   (a missing key, ID, topology or array)
//   kelm::type_error        -> TypeError  (a value of the wrong kind)
//   std::invalid_argument   -> ValueError (lengths that disagree, indices or IDs out of range)
#pragma once

#include <sstream>
#include <stdexcept>
#include <string>

namespace kelm {

struct key_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct type_error : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Joins its arguments with operator<< into one message.
template <typename... Args>
std::string message(const Args&... args) {
  std::ostringstream out;
  (out << ... << args);
  return out.str();
}

template <typename... Args>
[[noreturn]] void raise_value_error(const Args&... args) {
  throw std::invalid_argument(message(args...));
}

template <typename... Args>
[[noreturn]] void raise_key_error(const Args&... args) {
  throw key_error(message(args...));
}

template <typename... Args>
[[noreturn]] void raise_type_error(const Args&... args) {
  throw type_error(message(args...));
}

}  // namespace kelm
