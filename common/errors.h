// The error family of the modules' C++ operations. The operations never include pybind11; the one
// translation in bind_support.h turns each kind into the Python exception a host script expects:
//   kelm::key_error    -> KeyError   (a missing key, ID, topology or array)
//   kelm::value_error  -> ValueError (lengths that disagree, indices or IDs out of range)
//   kelm::type_error   -> TypeError  (a value of the wrong kind)
//   kelm::os_error     -> OSError    (a file that cannot be read or written)
// The family derives from kelm::error, not from std::runtime_error: a handler for one kind (or for
// the errors a library throws as std::runtime_error) can then never swallow another kind by
// accident, and nothing but the translation needs to know them all.
#pragma once

#include <exception>
#include <sstream>
#include <string>

namespace kelm {

class error : public std::exception {
 public:
  explicit error(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

struct key_error : error {
  using error::error;
};

struct value_error : error {
  using error::error;
};

struct type_error : error {
  using error::error;
};

struct os_error : error {
  using error::error;
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
  throw value_error(message(args...));
}

template <typename... Args>
[[noreturn]] void raise_key_error(const Args&... args) {
  throw key_error(message(args...));
}

template <typename... Args>
[[noreturn]] void raise_type_error(const Args&... args) {
  throw type_error(message(args...));
}

template <typename... Args>
[[noreturn]] void raise_os_error(const Args&... args) {
  throw os_error(message(args...));
}

}  // namespace kelm
