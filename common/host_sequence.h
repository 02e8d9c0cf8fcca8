// Views of the sequences a host hands over: NumPy arrays (and anything with the buffer protocol),
// lists and tuples, flat or as rows (one level of nesting). Each host array is converted exactly
// once, straight into the buffer that keeps it (normally a VTK array), with every entry checked:
// integers must fit the destination's range, floats are only accepted where floats are expected,
// strings and other objects raise TypeError, ragged rows raise ValueError. Messages name the
// operation, the array, the body and the offending value.
#pragma once

#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "common/errors.h"

namespace kelm::bind {

namespace py = pybind11;

// Names what is being read, for messages: "<operation>: <what> of body '<body>'".
struct Where {
  std::string operation;
  std::string what;
  std::string body;

  std::string prefix() const { return operation.empty() ? "" : operation + ": "; }
  std::string of_body() const { return body.empty() ? "" : " of body '" + body + "'"; }
};

class HostSequence {
 public:
  HostSequence(py::handle obj, Where where);
  ~HostSequence();
  HostSequence(const HostSequence&) = delete;
  HostSequence& operator=(const HostSequence&) = delete;

  // Number of scalar entries.
  std::size_t size() const { return size_; }
  // Entries per row when the data come as rows (2-D), 0 when flat.
  std::size_t row_width() const { return row_width_; }
  const Where& where() const { return where_; }

  // Raises ValueError unless the data are flat or rows of exactly `width` entries.
  void require_rows_of(std::size_t width) const;

  // Converts every entry into dst[0 .. size()), checking integers against [lo, hi].
  template <typename T>
  void copy_to(T* dst, T lo = std::numeric_limits<T>::lowest(),
               T hi = std::numeric_limits<T>::max()) const {
    copy_range_to(dst, 0, size_, lo, hi);
  }

  // Converts entries [first, first + count) into dst[0 .. count) with the checks of copy_to, for
  // a caller that needs a few rows of a large host array rather than all of it. Messages give
  // positions within the whole sequence. Only the entries and rows in the range are checked.
  template <typename T>
  void copy_range_to(T* dst, std::size_t first, std::size_t count,
                     T lo = std::numeric_limits<T>::lowest(),
                     T hi = std::numeric_limits<T>::max()) const;

  template <typename T>
  std::vector<T> to_vector(T lo = std::numeric_limits<T>::lowest(),
                           T hi = std::numeric_limits<T>::max()) const {
    std::vector<T> out(size_);
    copy_to(out.data(), lo, hi);
    return out;
  }

 private:
  template <typename T, typename S>
  void copy_buffer(T* dst, std::size_t first, std::size_t count, T lo, T hi) const;
  template <typename T>
  void copy_sequence(T* dst, std::size_t first, std::size_t count, T lo, T hi) const;
  template <typename T>
  T convert_item(PyObject* item, std::size_t position, T lo, T hi) const;
  template <typename T>
  [[noreturn]] void out_of_range(long double value, std::size_t position, T lo, T hi) const;

  Where where_;
  py::object obj_;
  Py_buffer buffer_{};
  bool is_buffer_ = false;
  char format_ = 0;
  std::size_t size_ = 0;
  std::size_t row_width_ = 0;
};

// ---- implementation ----------------------------------------------------------------------------

inline bool is_text(PyObject* o) { return PyUnicode_Check(o) || PyBytes_Check(o); }

inline bool is_row(PyObject* o) {
  return PyList_Check(o) || PyTuple_Check(o) || (!is_text(o) && PyObject_CheckBuffer(o));
}

inline HostSequence::HostSequence(py::handle obj, Where where)
    : where_(std::move(where)), obj_(py::reinterpret_borrow<py::object>(obj)) {
  PyObject* o = obj.ptr();
  if (!o || o == Py_None || is_text(o) || !(PySequence_Check(o) || PyObject_CheckBuffer(o))) {
    raise_type_error(where_.prefix(), where_.what, where_.of_body(),
                     " must be a sequence of numbers, got ",
                     o ? std::string(Py_TYPE(o)->tp_name) : "nothing");
  }
  if (PyObject_CheckBuffer(o) && PyObject_GetBuffer(o, &buffer_, PyBUF_RECORDS_RO) == 0) {
    const char* f = buffer_.format ? buffer_.format : "B";
    if (*f == '@' || *f == '=' || *f == '<') ++f;
    const bool known =
        f[0] && !f[1] && std::string("bBhHiIlLqQfd?").find(f[0]) != std::string::npos;
    if (known && buffer_.ndim >= 1) {
      is_buffer_ = true;
      format_ = f[0];
      size_ = 1;
      for (int d = 0; d < buffer_.ndim; ++d) size_ *= std::size_t(buffer_.shape[d]);
      row_width_ = buffer_.ndim == 2 ? std::size_t(buffer_.shape[1]) : 0;
      return;
    }
    PyBuffer_Release(&buffer_);
    buffer_ = Py_buffer{};
  }
  PyErr_Clear();
  // A sequence: flat numbers, or rows of numbers (each row counted by the first row's length).
  obj_ = py::reinterpret_steal<py::object>(PySequence_Fast(o, "not a sequence"));
  if (!obj_) throw py::error_already_set();
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(obj_.ptr());
  if (n > 0) {
    PyObject* first = PySequence_Fast_GET_ITEM(obj_.ptr(), 0);
    if (is_row(first)) {
      const Py_ssize_t width = PySequence_Size(first);
      if (width < 0) throw py::error_already_set();
      row_width_ = std::size_t(width);
    }
  }
  size_ = row_width_ ? std::size_t(n) * row_width_ : std::size_t(n);
}

inline HostSequence::~HostSequence() {
  if (is_buffer_) PyBuffer_Release(&buffer_);
}

inline void HostSequence::require_rows_of(std::size_t width) const {
  if (row_width_ != 0 && row_width_ != width) {
    raise_value_error(where_.prefix(), where_.what, where_.of_body(), " has rows of ", row_width_,
                      " entries; expected ", width, " per row or a flat sequence");
  }
  if (is_buffer_ && buffer_.ndim > 2) {
    raise_value_error(where_.prefix(), where_.what, where_.of_body(), " has ", buffer_.ndim,
                      " dimensions; expected rows of ", width, " or a flat sequence");
  }
}

template <typename T>
[[noreturn]] void HostSequence::out_of_range(long double value, std::size_t position, T lo,
                                             T hi) const {
  // Unsigned 64-bit entries above the signed range must not wrap to a negative value here.
  const std::string text = value < 0 ? std::to_string(static_cast<long long>(value))
                                     : std::to_string(static_cast<unsigned long long>(value));
  raise_value_error(where_.prefix(), where_.what, " ", text, " at position ", position,
                    where_.of_body(), " is outside [", +lo, ", ", +hi, "]");
}

template <typename T>
void HostSequence::copy_range_to(T* dst, std::size_t first, std::size_t count, T lo, T hi) const {
  if (first > size_ || count > size_ - first) {
    raise_value_error(where_.prefix(), where_.what, where_.of_body(), " has ", size_,
                      " entries; a read of ", count, " from entry ", first, " passes its end");
  }
  if (count == 0) return;  // an empty range has no entries to check, whatever the dtype
  if (!is_buffer_) return copy_sequence(dst, first, count, lo, hi);
  switch (format_) {
    case 'b':
      return copy_buffer<T, int8_t>(dst, first, count, lo, hi);
    case 'B':
      return copy_buffer<T, uint8_t>(dst, first, count, lo, hi);
    case '?':
      return copy_buffer<T, bool>(dst, first, count, lo, hi);
    case 'h':
      return copy_buffer<T, int16_t>(dst, first, count, lo, hi);
    case 'H':
      return copy_buffer<T, uint16_t>(dst, first, count, lo, hi);
    case 'i':
      return copy_buffer<T, int32_t>(dst, first, count, lo, hi);
    case 'I':
      return copy_buffer<T, uint32_t>(dst, first, count, lo, hi);
    case 'l':
      return copy_buffer<T, long>(dst, first, count, lo, hi);
    case 'L':
      return copy_buffer<T, unsigned long>(dst, first, count, lo, hi);
    case 'q':
      return copy_buffer<T, long long>(dst, first, count, lo, hi);
    case 'Q':
      return copy_buffer<T, unsigned long long>(dst, first, count, lo, hi);
    case 'f':
      return copy_buffer<T, float>(dst, first, count, lo, hi);
    case 'd':
      return copy_buffer<T, double>(dst, first, count, lo, hi);
  }
}

template <typename T, typename S>
void HostSequence::copy_buffer(T* dst, std::size_t first, std::size_t count, T lo, T hi) const {
  if constexpr (std::is_integral_v<T> && std::is_floating_point_v<S>) {
    raise_type_error(where_.prefix(), where_.what, where_.of_body(),
                     " must hold integers, got an array of floating-point numbers");
  } else {
    // Walk the buffer in C order whatever its strides (an odometer over the dimensions), from
    // the index of entry `first`.
    const int ndim = buffer_.ndim;
    Py_ssize_t index[PyBUF_MAX_NDIM];
    std::size_t rest = first;
    for (int d = ndim - 1; d >= 0; --d) {
      index[d] = Py_ssize_t(rest % std::size_t(buffer_.shape[d]));
      rest /= std::size_t(buffer_.shape[d]);
    }
    const char* base = static_cast<const char*>(buffer_.buf);
    const Py_ssize_t inner_stride = buffer_.strides[ndim - 1];
    const Py_ssize_t inner = buffer_.shape[ndim - 1];
    std::size_t position = first;
    const std::size_t end = first + count;
    while (position < end) {
      const char* row = base;
      for (int d = 0; d < ndim - 1; ++d) row += index[d] * buffer_.strides[d];
      const Py_ssize_t stop = std::min(inner, index[ndim - 1] + Py_ssize_t(end - position));
      for (Py_ssize_t k = index[ndim - 1]; k < stop; ++k, ++position) {
        S value;
        std::memcpy(&value, row + k * inner_stride, sizeof(S));
        if constexpr (std::is_integral_v<T>) {
          bool negative = false;
          if constexpr (std::is_signed_v<S>) negative = value < 0;
          const bool outside = negative ? (long long)(value) < (long long)(lo)
                                        : (unsigned long long)(value) > (unsigned long long)(hi);
          if (outside) out_of_range(static_cast<long double>(value), position, lo, hi);
        }
        dst[position - first] = static_cast<T>(value);
      }
      index[ndim - 1] = 0;
      for (int d = ndim - 2; d >= 0; --d) {
        if (++index[d] < buffer_.shape[d]) break;
        index[d] = 0;
      }
      if (ndim == 1) break;
    }
  }
}

template <typename T>
T HostSequence::convert_item(PyObject* item, std::size_t position, T lo, T hi) const {
  if constexpr (std::is_integral_v<T>) {
    long long value;
    if (PyLong_Check(item)) {
      int overflow = 0;
      value = PyLong_AsLongLongAndOverflow(item, &overflow);
      if (overflow) {
        raise_value_error(where_.prefix(), where_.what, " ", py::str(item).cast<std::string>(),
                          " at position ", position, where_.of_body(), " is outside [", +lo, ", ",
                          +hi, "]");
      }
    } else if (!PyFloat_Check(item) && PyIndex_Check(item)) {  // NumPy integer scalars
      py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item));
      if (!index) throw py::error_already_set();
      return convert_item<T>(index.ptr(), position, lo, hi);
    } else {
      raise_type_error(where_.prefix(), where_.what, where_.of_body(),
                       " must hold integers; entry ", py::repr(item).cast<std::string>(),
                       " at position ", position, " is a ", Py_TYPE(item)->tp_name);
    }
    if ((value < 0 && (lo >= 0 || value < (long long)lo)) ||
        (value >= 0 && (unsigned long long)value > (unsigned long long)hi)) {
      out_of_range(static_cast<long double>(value), position, lo, hi);
    }
    return static_cast<T>(value);
  } else {
    if (!PyFloat_Check(item) && !PyLong_Check(item) && !PyNumber_Check(item)) {
      raise_type_error(where_.prefix(), where_.what, where_.of_body(), " must hold numbers; entry ",
                       py::repr(item).cast<std::string>(), " at position ", position, " is a ",
                       Py_TYPE(item)->tp_name);
    }
    const double value = PyFloat_AsDouble(item);
    if (value == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return static_cast<T>(value);
  }
}

template <typename T>
void HostSequence::copy_sequence(T* dst, std::size_t first, std::size_t count, T lo, T hi) const {
  PyObject** items = PySequence_Fast_ITEMS(obj_.ptr());
  const std::size_t end = first + count;
  if (row_width_ == 0) {
    for (std::size_t i = first; i < end; ++i) {
      if (is_row(items[i])) {
        raise_value_error(where_.prefix(), where_.what, where_.of_body(),
                          " mixes numbers and rows: entry ", i, " is a row");
      }
      dst[i - first] = convert_item<T>(items[i], i, lo, hi);
    }
    return;
  }
  std::size_t position = first;
  for (std::size_t i = first / row_width_; position < end; ++i) {
    PyObject* row = items[i];
    if (!is_row(row)) {
      raise_value_error(where_.prefix(), where_.what, where_.of_body(),
                        " mixes rows and numbers: ", "entry ", i, " is ",
                        py::repr(row).cast<std::string>());
    }
    py::object fast = py::reinterpret_steal<py::object>(PySequence_Fast(row, "not a sequence"));
    if (!fast) throw py::error_already_set();
    const Py_ssize_t width = PySequence_Fast_GET_SIZE(fast.ptr());
    if (std::size_t(width) != row_width_) {
      raise_value_error(where_.prefix(), where_.what, where_.of_body(), " is ragged: row ", i,
                        " has ", width, " entries, row 0 has ", row_width_);
    }
    PyObject** cells = PySequence_Fast_ITEMS(fast.ptr());
    const std::size_t stop = std::min(row_width_, position % row_width_ + (end - position));
    for (std::size_t k = position % row_width_; k < stop; ++k, ++position) {
      dst[position - first] = convert_item<T>(cells[k], position, lo, hi);
    }
  }
}

}  // namespace kelm::bind
