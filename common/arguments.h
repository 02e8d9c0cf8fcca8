// The argument converters every binding uses, so that the same bad argument gets the same
// exception type and the same message in every module: "<operation>: <parameter> must be
// <expected>, not <type>" (TypeError) for a value of the wrong kind, "<operation>: <parameter>
// <value> is outside <lo>..<hi>" (ValueError) for a number out of range. `operation` is the
// Python name of the call ("sceneview.export_vtk_file").
#pragma once

#include <pybind11/pybind11.h>
#include <vtkObject.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/vtk_caster.h"

namespace kelm::bind {

namespace py = pybind11;

// The Python class name of `value` without its module ("ndarray"), for messages.
inline std::string type_name(py::handle value) {
  const std::string name = Py_TYPE(value.ptr())->tp_name;
  return name.substr(name.rfind('.') + 1);
}

// "a" or "an", as `noun` is read aloud ("an InteractorStyle", "a vtkPolyData").
inline const char* article_for(const char* noun) {
  return std::strchr("AEIOUaeiou", noun[0]) && noun[0] ? "an" : "a";
}

// The VTK object `value` as a T, or TypeError naming the parameter, the class wanted
// (`expected`, such as "vtkMultiBlockDataSet") and the class found.
template <typename T>
T* vtk_argument(py::handle value, const std::string& operation, const char* parameter,
                const char* expected) {
  T* pointer = vtk_pointer_from_python<T>(value);
  if (!pointer) {
    auto* any = vtk_pointer_from_python<vtkObject>(value);
    raise_type_error(operation, ": ", parameter, " must be ", article_for(expected), " ", expected,
                     ", not ", any ? std::string(any->GetClassName()) : type_name(value));
  }
  return pointer;
}

// The str `value` as UTF-8. What UTF-8 cannot carry (lone surrogates, which Python strings may
// hold) is written as backslash escapes ("P\ud800" stays readable in messages): no array, body or
// option is named so, and a name that names nothing is reported by the lookup that misses it.
inline std::string utf8_text(py::handle value) {
  PyObject* bytes = PyUnicode_AsEncodedString(value.ptr(), "utf-8", "backslashreplace");
  if (!bytes) throw py::error_already_set();
  std::string out(PyBytes_AS_STRING(bytes), std::size_t(PyBytes_GET_SIZE(bytes)));
  Py_DECREF(bytes);
  return out;
}

// A text argument: a str (see utf8_text), else TypeError.
inline std::string text_argument(py::handle value, const std::string& operation,
                                 const char* parameter) {
  if (!PyUnicode_Check(value.ptr())) {
    raise_type_error(operation, ": ", parameter, " must be text, not ", type_name(value));
  }
  return utf8_text(value);
}

// A list of texts: any sequence (list, tuple) of str, each read as text_argument reads it. A str
// itself is refused, though Python would iterate it: its letters are no list of names.
// `expected` says what the list holds ("a list of field names").
inline std::vector<std::string> text_list_argument(py::handle value, const std::string& operation,
                                                   const char* parameter, const char* expected) {
  if (PyUnicode_Check(value.ptr()) || !PySequence_Check(value.ptr())) {
    raise_type_error(operation, ": ", parameter, " must be ", expected, ", not ", type_name(value));
  }
  std::vector<std::string> texts;
  for (py::handle item : value) texts.push_back(text_argument(item, operation, parameter));
  return texts;
}

// A text argument that may be missing: None and "" count as not given, as in `if name:`.
inline std::optional<std::string> optional_text_argument(py::handle value,
                                                         const std::string& operation,
                                                         const char* parameter) {
  if (value.is_none()) return std::nullopt;
  if (!PyUnicode_Check(value.ptr())) {
    raise_type_error(operation, ": ", parameter, " must be text or None, not ", type_name(value));
  }
  std::string text = utf8_text(value);
  if (text.empty()) return std::nullopt;
  return text;
}

// A file name: a str, bytes or os.PathLike, as the bytes the file system sees (os.fsencode, so a
// name Python decoded with escaped bytes names the same file again). TypeError for anything else;
// OSError for a name the file system encoding cannot carry (a lone surrogate), which can name no
// file.
inline std::string path_argument(py::handle value, const std::string& operation,
                                 const char* parameter) {
  PyObject* path = PyOS_FSPath(value.ptr());
  if (!path) {
    PyErr_Clear();
    raise_type_error(operation, ": ", parameter,
                     " must be a path (str, bytes or os.PathLike), not ", type_name(value));
  }
  py::object fspath = py::reinterpret_steal<py::object>(path);
  if (PyBytes_Check(path)) {
    return std::string(PyBytes_AS_STRING(path), std::size_t(PyBytes_GET_SIZE(path)));
  }
  PyObject* bytes = PyUnicode_EncodeFSDefault(path);
  if (!bytes) {
    PyErr_Clear();
    raise_os_error(operation, ": ", parameter, " '", utf8_text(fspath),
                   "' cannot name a file: the file system encoding cannot carry it");
  }
  std::string out(PyBytes_AS_STRING(bytes), std::size_t(PyBytes_GET_SIZE(bytes)));
  Py_DECREF(bytes);
  return out;
}

// A file name as Python shows it (os.fsdecode): the inverse of path_argument.
inline py::str path_text(const std::string& path) {
  PyObject* text = PyUnicode_DecodeFSDefaultAndSize(path.data(), Py_ssize_t(path.size()));
  if (!text) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// An integer in lo..hi: int and NumPy integers; bool and floats are refused (a size or a count is a
// whole number, and True is not one). TypeError for another kind, ValueError outside the range.
inline long long integer_argument(py::handle value, const std::string& operation,
                                  const char* parameter, long long lo, long long hi) {
  if (PyBool_Check(value.ptr()) || !PyIndex_Check(value.ptr())) {
    raise_type_error(operation, ": ", parameter, " must be an integer, not ", type_name(value));
  }
  py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(value.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  const long long result = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow || result < lo || result > hi) {
    raise_value_error(operation, ": ", parameter, " ", py::str(number).cast<std::string>(),
                      " is outside ", lo, "..", hi);
  }
  return result;
}

// A real number: int, float or any numbers.Real (NumPy scalars).
inline double real_argument(py::handle value, const std::string& operation, const char* parameter) {
  if (!py::isinstance(value, py::module_::import("numbers").attr("Real"))) {
    raise_type_error(operation, ": ", parameter, " must be a number, not ", type_name(value));
  }
  const double result = PyFloat_AsDouble(value.ptr());
  if (result == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return result;
}

// A yes/no switch: True, False, or the integers 0 and 1 that stand for them.
inline bool flag_argument(py::handle value, const std::string& operation, const char* parameter) {
  if (PyBool_Check(value.ptr())) return value.ptr() == Py_True;
  if (PyLong_Check(value.ptr())) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (!overflow && (v == 0 || v == 1)) return v == 1;
  }
  raise_type_error(operation, ": ", parameter, " must be True or False, not ",
                   utf8_text(py::repr(value)));
}

}  // namespace kelm::bind
