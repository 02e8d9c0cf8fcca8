// Module set-up shared by every binding: the vtkmodules a module hands out, the translation of the
// operations' C++ errors into Python exceptions, and the print sink pointed at sys.stdout.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <stdexcept>

#include "common/errors.h"
#include "common/print_sink.h"
#include "common/vtk_caster.h"

namespace kelm::bind {

namespace py = pybind11;

inline void print_to_python(const std::string& line) { py::print(line); }

// Imports the VTK Python modules whose classes this module returns (see vtk_caster.h), registers
// the error translation and routes printing to Python.
inline void init_module(py::module_& m, std::initializer_list<const char*> vtk_modules) {
  for (const char* name : vtk_modules) py::module_::import(name);
  py::register_local_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const kelm::key_error& e) {
      PyErr_SetObject(PyExc_KeyError, py::str(e.what()).ptr());
    } catch (const kelm::type_error& e) {
      PyErr_SetString(PyExc_TypeError, e.what());
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
