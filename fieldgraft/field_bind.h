// Binding helpers shared by the two field generations (fieldgraft and skinfield): reading a body
// field's keys into the plain arrays of the builders, the VTK arguments, the two-phase driver and
// the FaceNumberError exception. Binding code only (pybind11); the operations are in the core.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <vtkMultiBlockDataSet.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "body_map.h"
#include "common/arguments.h"
#include "common/bind_support.h"
#include "common/host_sequence.h"
#include "face_tables.h"
#include "field_builders.h"

namespace fieldgraft_bind {

namespace py = pybind11;
using fieldgraft_core::FinishBuild;
using fieldgraft_core::Ragged;
using fieldgraft_core::Target;
using kelm::bind::HostSequence;
using kelm::bind::utf8_text;
using kelm::bind::Where;

inline constexpr uint32_t kMaxId = 0xFFFFFFFFu;

// Raised for face numbers outside their element's table: an IndexError (a table lookup) that is
// also a ValueError (bad input), so callers may catch either.
inline void register_face_number_error(py::module_& m) {
  static PyObject* type = nullptr;
  if (!type) {
    py::tuple bases = py::make_tuple(py::handle(PyExc_IndexError), py::handle(PyExc_ValueError));
    const std::string name = utf8_text(m.attr("__name__")) + ".FaceNumberError";
    type = PyErr_NewExceptionWithDoc(
        name.c_str(), "A face number outside the face table of its element.", bases.ptr(), nullptr);
    if (!type) throw py::error_already_set();
  }
  m.attr("FaceNumberError") = py::handle(type);
  py::register_local_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const fieldgraft_core::face_number_error& e) {
      kelm::bind::set_python_error(type, e.what());
    }
  });
}

inline bool is_text(py::handle obj) {
  return PyUnicode_Check(obj.ptr()) || PyBytes_Check(obj.ptr());
}

inline std::string text_of(py::handle obj) { return utf8_text(py::repr(obj)); }

// A required argument of a builder (they all default to None but need every argument).
inline void require_given(py::handle obj, const char* param, const std::string& operation) {
  if (obj.is_none()) {
    kelm::raise_type_error(operation, ": ", param, " is required (got None)");
  }
}

// The VTK object `obj` as a T, or TypeError naming the parameter, the body and the class found.
template <typename T>
T* require_vtk(py::handle obj, const char* param, const char* expected, const Target& target) {
  require_given(obj, param, target.operation);
  const std::string what = kelm::message(param, " of body '", target.body, "'");
  return kelm::bind::vtk_argument<T>(obj, target.operation, what.c_str(), expected);
}

// The body path a direct builder call names in messages: the grid's "Body pathName".
inline std::string body_of(py::handle grid) {
  auto* dataset = kelm::bind::vtk_pointer_from_python<vtkDataObject>(grid);
  return dataset ? fieldgraft_core::body_path_of(dataset) : std::string("(no body)");
}

inline void require_mapping(py::handle obj, const char* what, const Target& target) {
  if (!PyMapping_Check(obj.ptr()) || is_text(obj) || PySequence_Check(obj.ptr())) {
    kelm::raise_type_error(target.operation, ": ", what, " of body '", target.body,
                           "' must be a mapping (dict), got ", Py_TYPE(obj.ptr())->tp_name);
  }
}

// body_field[key], or KeyError naming the key and the body.
inline py::object field_key(py::handle body_field, const char* key, const Target& target) {
  require_mapping(body_field, "the body field", target);
  PyObject* value = PyObject_GetItem(body_field.ptr(), py::str(key).ptr());
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
    PyErr_Clear();
    kelm::raise_key_error(target.operation, ": the field of body '", target.body, "' has no key '",
                          key, "'");
  }
  return py::reinterpret_steal<py::object>(value);
}

inline Where where_of(const char* key, const Target& target) {
  return Where{target.operation, std::string("\"") + key + "\"", target.body};
}

inline std::vector<uint32_t> read_ids(py::handle obj, const char* key, const Target& target) {
  HostSequence seq(obj, where_of(key, target));
  seq.require_rows_of(1);
  return seq.to_vector<uint32_t>(0, kMaxId);
}

inline std::vector<float> read_values(py::handle obj, const char* key, const Target& target) {
  HostSequence seq(obj, where_of(key, target));
  seq.require_rows_of(1);
  return seq.to_vector<float>();
}

inline std::vector<long long> read_face_numbers(py::handle obj, const char* key,
                                                const Target& target) {
  HostSequence seq(obj, where_of(key, target));
  seq.require_rows_of(1);
  return seq.to_vector<long long>();
}

// One row per face: a 2-D array, or a sequence of flat sequences of any lengths.
template <typename T>
Ragged<T> read_rows(py::handle obj, const char* key, const Target& target,
                    T lo = std::numeric_limits<T>::lowest(), T hi = std::numeric_limits<T>::max()) {
  Ragged<T> out;
  const Where where = where_of(key, target);
  if (obj.is_none() || is_text(obj) || !PySequence_Check(obj.ptr())) {
    kelm::raise_type_error(where.prefix(), where.what, where.of_body(),
                           " must be a sequence with one row per face, got ",
                           Py_TYPE(obj.ptr())->tp_name);
  }
  if (py::isinstance<py::array>(obj) && py::reinterpret_borrow<py::array>(obj).ndim() == 2 &&
      py::reinterpret_borrow<py::array>(obj).dtype().kind() != 'O') {
    // A 2-D array: every row of one width. The row count comes from the shape, not from the
    // entries, so rows of width 0 (np.array([[], []])) are that many empty rows.
    const auto array = py::reinterpret_borrow<py::array>(obj);
    const std::size_t rows = std::size_t(array.shape(0));
    const std::size_t width = std::size_t(array.shape(1));
    HostSequence all(obj, where);
    out.values = all.to_vector<T>(lo, hi);
    if (out.values.size() != rows * width) {
      kelm::raise_value_error(where.prefix(), where.what, where.of_body(), " has ",
                              out.values.size(), " entries for ", rows, " rows of ", width);
    }
    out.offsets.reserve(rows + 1);
    for (std::size_t r = 1; r <= rows; ++r) out.offsets.push_back(r * width);
    return out;
  }
  py::object fast = py::reinterpret_steal<py::object>(PySequence_Fast(obj.ptr(), "not a sequence"));
  if (!fast) throw py::error_already_set();
  const Py_ssize_t n = PySequence_Fast_GET_SIZE(fast.ptr());
  PyObject** items = PySequence_Fast_ITEMS(fast.ptr());
  out.offsets.reserve(std::size_t(n) + 1);
  for (Py_ssize_t i = 0; i < n; ++i) {
    Where row_where{target.operation, where.what + " row " + std::to_string(i), target.body};
    HostSequence row(items[i], row_where);
    if (row.row_width() != 0) {
      kelm::raise_value_error(row_where.prefix(), row_where.what, row_where.of_body(),
                              " must be a flat sequence of numbers, got rows");
    }
    const std::size_t start = out.values.size();
    out.values.resize(start + row.size());
    row.copy_to<T>(out.values.data() + start, lo, hi);
    out.offsets.push_back(out.values.size());
  }
  return out;
}

inline std::string read_text(py::handle obj, const char* key, const Target& target) {
  if (!PyUnicode_Check(obj.ptr())) {
    kelm::raise_type_error(target.operation, ": \"", key, "\" of body '", target.body,
                           "' must be a string, got ", text_of(obj));
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj.ptr(), &size);
  if (!utf8) {
    PyErr_Clear();
    kelm::raise_value_error(target.operation, ": \"", key, "\" of body '", target.body,
                            "' is not valid text (it cannot be written as UTF-8): ", text_of(obj));
  }
  return std::string(utf8, std::size_t(size));
}

// ---- drivers -----------------------------------------------------------------------------------

inline py::dict body_map_dict(vtkMultiBlockDataSet* model, const std::string& operation) {
  py::dict out;
  for (auto& [path, leaf] : fieldgraft_core::body_datasets(model, operation)) {
    out[py::str(path)] = py::reinterpret_steal<py::object>(kelm::bind::vtk_object_to_python(leaf));
  }
  return out;
}

// What a driver makes of one body field: the build left to do (empty for an unsupported type,
// which has printed its line) and the field topology (None for an unsupported type).
struct Dispatched {
  FinishBuild build;
  py::object topology = py::none();
};

// KeyError: the collection names a body the model multiblock does not have.
[[noreturn]] inline void raise_missing_body(const Target& target) {
  kelm::raise_key_error(target.operation, ": body '", target.body, "' of the field is not in the ",
                        "model multiblock (no leaf has that \"Body pathName\")");
}

// When a driver looks up an entry's body: before anything else, or only for a supported type
// (`dispatch` then gets a null dataset for a body the model does not have).
enum class BodyLookup { up_front, when_built };

using Dispatch =
    std::function<Dispatched(py::handle dataset, py::handle body_field, const Target& target)>;

inline void print_unsupported(py::handle identifier_type) {
  kelm::print_line("Unsupported identifier type \" " + utf8_text(py::str(identifier_type)) + " \"");
}

// Both drivers: one output block per entry of `field`, in its order. Every body field is read and
// checked (against its grid too) before any builder writes, so an error leaves the model as it
// was. Returns the multiblock and the topology of the last entry.
inline std::pair<vtkSmartPointer<vtkMultiBlockDataSet>, py::object> run_driver(
    vtkMultiBlockDataSet* model, py::handle field, const std::string& operation,
    const Dispatch& dispatch, BodyLookup lookup) {
  py::dict bodies = body_map_dict(model, operation);
  if (!PyMapping_Check(field.ptr()) || is_text(field) || PySequence_Check(field.ptr())) {
    kelm::raise_type_error(operation, ": the field collection must be a mapping from body path ",
                           "name to body field, got ", Py_TYPE(field.ptr())->tp_name);
  }
  py::object items = py::reinterpret_borrow<py::object>(field).attr("items")();
  std::vector<Dispatched> planned;
  for (py::handle item : items) {
    py::tuple pair = py::reinterpret_borrow<py::tuple>(item);
    const Target target{operation, utf8_text(py::str(pair[0]))};
    // The body is looked up up front (the earlier driver), or only by a builder that reads it:
    // an entry of an unsupported type then leaves its empty block whatever its key.
    py::object dataset;
    if (bodies.contains(pair[0])) {
      dataset = bodies[pair[0]];
    } else if (lookup == BodyLookup::up_front) {
      raise_missing_body(target);
    }
    planned.push_back(dispatch(dataset, pair[1], target));
  }
  if (planned.empty()) {
    kelm::raise_value_error(operation, ": the field collection is empty, so there is no field ",
                            "topology to return");
  }
  auto out = vtkSmartPointer<vtkMultiBlockDataSet>::New();
  out->SetNumberOfBlocks(unsigned(planned.size()));
  for (std::size_t i = 0; i < planned.size(); ++i) {
    if (planned[i].build) out->SetBlock(unsigned(i), planned[i].build());
  }
  return {out, planned.back().topology};
}

}  // namespace fieldgraft_bind
