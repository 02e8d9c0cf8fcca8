// Module set-up shared by every binding: the vtkmodules a module hands out, the one translation of
// the operations' error family (errors.h) into Python exceptions, and the print sink pointed at
// sys.stdout.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "common/errors.h"
#include "common/print_sink.h"
#include "common/vtk_caster.h"

namespace kelm::bind {

namespace py = pybind11;

inline void print_to_python(const std::string& line) { py::print(line); }

// A message as a Python str. A message may quote a file name that is not UTF-8 (a name a script
// gave as bytes or with escaped surrogates); its stray bytes show as \x escapes rather than turn
// the error into a UnicodeDecodeError.
inline py::object message_text(const char* text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text, Py_ssize_t(std::strlen(text)), "backslashreplace");
  if (!decoded) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(decoded);
}

inline void set_python_error(PyObject* type, const char* text) {
  PyErr_SetObject(type, message_text(text).ptr());
}

// Imports the VTK Python modules whose classes this module returns (see vtk_caster.h), registers
// the error translation and routes printing to Python.
inline void init_module(py::module_& m, std::initializer_list<const char*> vtk_modules) {
  for (const char* name : vtk_modules) py::module_::import(name);
  py::register_local_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const kelm::key_error& e) {
      set_python_error(PyExc_KeyError, e.what());
    } catch (const kelm::value_error& e) {
      set_python_error(PyExc_ValueError, e.what());
    } catch (const kelm::type_error& e) {
      set_python_error(PyExc_TypeError, e.what());
    } catch (const kelm::os_error& e) {
      set_python_error(PyExc_OSError, e.what());
    }
  });
  kelm::set_print_sink(print_to_python);
  (void)m;
}

// Reads attribute `name` of a host entity, raising AttributeError naming the entity's path.
inline py::object host_attr(py::handle entity, const char* name) {
  if (!py::hasattr(entity, name)) {
    std::string who = py::str(py::repr(entity));
    if (py::hasattr(entity, "pathName")) who = py::str(entity.attr("pathName"));
    throw py::attribute_error(
        kelm::message("host entity '", who, "' has no attribute '", name, "'"));
  }
  return entity.attr(name);
}

}  // namespace kelm::bind
