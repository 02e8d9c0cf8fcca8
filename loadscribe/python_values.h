// Binding helpers of loadscribe (included by bind.cpp only; pybind11 stays out of the core): the
// Python values a load is made of, built straight from the C++ vectors, and the reading of the
// values host scripts hand to the builders.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "common/host_sequence.h"
#include "pressure_fields.h"

namespace loadscribe_bind {

namespace py = pybind11;
using loadscribe_core::ConnectivityArrays;
using loadscribe_core::FaceRows;

// Pauses Python's cyclic garbage collector while a load's value lists are built: they hold only
// numbers, cannot form cycles, and millions of new lists would otherwise trigger collections that
// walk every tracked object again and again. Restores the collector's previous state.
class GcPause {
 public:
  GcPause() : gc_(py::module_::import("gc")) {
    was_enabled_ = gc_.attr("isenabled")().cast<bool>();
    if (was_enabled_) gc_.attr("disable")();
  }
  ~GcPause() {
    if (!was_enabled_) return;
    try {
      gc_.attr("enable")();
    } catch (const py::error_already_set&) {
      // Leaves the error to surface later; a destructor must not throw.
    }
  }
  GcPause(const GcPause&) = delete;
  GcPause& operator=(const GcPause&) = delete;

 private:
  py::module_ gc_;
  bool was_enabled_ = false;
};

inline py::list int_list(const uint32_t* values, std::size_t n) {
  py::list out(n);
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = PyLong_FromUnsignedLong(values[i]);
    if (!item) throw py::error_already_set();
    PyList_SET_ITEM(out.ptr(), Py_ssize_t(i), item);
  }
  return out;
}

inline py::list float_list(const double* values, std::size_t n) {
  py::list out(n);
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* item = PyFloat_FromDouble(values[i]);
    if (!item) throw py::error_already_set();
    PyList_SET_ITEM(out.ptr(), Py_ssize_t(i), item);
  }
  return out;
}

// One list per row, block after block: [[a, b, c], ..., [a, b, c, d], ...].
template <typename T, typename RowValues>
py::list row_lists(const ConnectivityArrays& blocks, RowValues values_of_block) {
  std::size_t rows = 0;
  for (const FaceRows& block : blocks) rows += block.count();
  py::list out(rows);
  Py_ssize_t i = 0;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const std::size_t width = std::size_t(blocks[b].width);
    const T* values = values_of_block(b);
    for (std::size_t r = 0; r < blocks[b].count(); ++r, ++i) {
      py::list row;
      if constexpr (std::is_same_v<T, double>) {
        row = float_list(values + r * width, width);
      } else {
        row = int_list(values + r * width, width);
      }
      PyList_SET_ITEM(out.ptr(), i, row.release().ptr());
    }
  }
  return out;
}

// The pressure field of one body, keys in the host's order.
inline py::dict pressure_field_dict(const loadscribe_core::PressureField& field) {
  GcPause pause;
  py::dict out;
  out["element_ids"] = int_list(field.element_ids.data(), field.element_ids.size());
  out["identifier_type"] = "ELEMENT_ID_FACE_NODE_ID";
  out["face_identifiers"] =
      row_lists<uint32_t>(field.faces, [&](std::size_t b) { return field.faces[b].nodes.data(); });
  out["pressures"] =
      row_lists<double>(field.faces, [&](std::size_t b) { return field.pressures[b].data(); });
  return out;
}

// {element position: [face numbers]} in the order elements were first met.
inline py::dict target_dict(const loadscribe_core::FaceTarget& target) {
  GcPause pause;
  py::dict out;
  for (std::size_t s = 0; s < target.positions.size(); ++s) {
    py::list faces(target.offsets[s + 1] - target.offsets[s]);
    for (uint32_t k = target.offsets[s]; k < target.offsets[s + 1]; ++k) {
      PyList_SET_ITEM(faces.ptr(), Py_ssize_t(k - target.offsets[s]),
                      PyLong_FromUnsignedLong(target.faces[k]));
    }
    out[py::int_(target.positions[s])] = faces;
  }
  return out;
}

inline std::vector<uint32_t> host_ids(py::handle values, const kelm::bind::Where& where) {
  kelm::bind::HostSequence seq(values, where);
  seq.require_rows_of(1);
  return seq.to_vector<uint32_t>(0, 0xFFFFFFFFu);
}

inline std::vector<double> host_reals(py::handle values, const kelm::bind::Where& where) {
  kelm::bind::HostSequence seq(values, where);
  seq.require_rows_of(1);
  return seq.to_vector<double>();
}

inline py::object items_of(py::handle mapping, const kelm::bind::Where& where) {
  if (!PyMapping_Check(mapping.ptr()) || !py::hasattr(mapping, "items")) {
    kelm::raise_type_error(where.prefix(), where.what, where.of_body(), " must be a mapping, got ",
                           Py_TYPE(mapping.ptr())->tp_name);
  }
  return mapping.attr("items")();
}

// connectivity_arrays of a builder: "tria" -> n by 3, "quad" -> m by 4 host node IDs, kept in the
// mapping's order.
inline ConnectivityArrays read_connectivity_arrays(py::handle arrays, const std::string& operation,
                                                   const std::string& body) {
  ConnectivityArrays out;
  for (py::handle item : items_of(arrays, {operation, "connectivity_arrays", body})) {
    py::tuple entry = py::reinterpret_borrow<py::tuple>(item);
    const std::string key = py::str(entry[0]);
    const int width = key == "tria" ? 3 : key == "quad" ? 4 : 0;
    if (!width || !py::isinstance<py::str>(entry[0])) {
      kelm::raise_value_error(operation, ": connectivity_arrays of body '", body, "' has the key ",
                              py::repr(entry[0]).cast<std::string>(),
                              "; expected 'tria' (rows of 3) or 'quad' (rows of 4)");
    }
    const std::string what = "connectivity_arrays['" + key + "']";
    kelm::bind::HostSequence rows(entry[1], {operation, what, body});
    rows.require_rows_of(std::size_t(width));
    if (rows.size() % std::size_t(width)) {
      kelm::raise_value_error(operation, ": ", what, " of body '", body, "' holds ", rows.size(),
                              " node IDs, not a whole number of rows of ", width);
    }
    out.push_back(FaceRows{key, width, rows.to_vector<uint32_t>(0, 0xFFFFFFFFu)});
  }
  return out;
}

// The builder rotates face rows in place; a caller's NumPy array or list sees the rotated rows as
// it would with any in-place edit. Read-only arrays and tuples cannot change and are left alone.
inline void write_back_rows(py::handle arrays, const ConnectivityArrays& rows) {
  for (const FaceRows& block : rows) {
    py::object target = arrays[py::str(block.key)];
    const auto count = py::ssize_t(block.count());
    if (py::isinstance<py::array>(target)) {
      py::array array = py::reinterpret_borrow<py::array>(target);
      if (!array.writeable()) continue;
      py::array_t<uint32_t> values({count, py::ssize_t(block.width)}, block.nodes.data());
      array[py::ellipsis()] = values.attr("reshape")(array.attr("shape"));
    } else if (PyList_Check(target.ptr())) {
      const bool nested = count > 0 && PySequence_Check(PyList_GET_ITEM(target.ptr(), 0));
      py::list values =
          nested ? row_lists<uint32_t>({block}, [&](std::size_t) { return block.nodes.data(); })
                 : int_list(block.nodes.data(), block.nodes.size());
      target[py::slice(0, PyList_GET_SIZE(target.ptr()), 1)] = values;
    }
  }
}

// The solid topology a key of elementIDs stands for (kNone for shells, bars and unknown keys).
inline loadscribe_core::SolidTopology solid_topology_of(py::handle key, py::handle topologies) {
  using T = loadscribe_core::SolidTopology;
  for (auto [name, topology] : {std::pair{"Tetra4", T::kTetra4}, std::pair{"Tetra10", T::kTetra10},
                                std::pair{"Penta6", T::kPenta6}, std::pair{"Penta15", T::kPenta15},
                                std::pair{"Hexa8", T::kHexa8}, std::pair{"Hexa20", T::kHexa20}}) {
    if (key.equal(topologies.attr(name))) return topology;
  }
  return T::kNone;
}

// What the solid builder reads of the host mesh `host_mesh` (nodeIDs, elementIDs,
// elementConnectivities), checked: whole element rows, and positions within the nodes for each
// row read. The connectivities stay in the host's objects; each block's reader keeps them.
inline loadscribe_core::HostSolidMesh read_host_solid_mesh(py::handle host_mesh,
                                                           const char* operation,
                                                           const std::string& body) {
  loadscribe_core::HostSolidMesh mesh;
  mesh.node_ids =
      host_ids(kelm::bind::host_attr(host_mesh, "nodeIDs"), {operation, "nodeIDs", body});
  py::object connectivities = kelm::bind::host_attr(host_mesh, "elementConnectivities");
  py::object topologies = py::module_::import("kelm").attr("mesh").attr("ElementTopology");
  const std::size_t nodes = mesh.node_ids.size();
  for (py::handle item :
       items_of(kelm::bind::host_attr(host_mesh, "elementIDs"), {operation, "elementIDs", body})) {
    py::tuple entry = py::reinterpret_borrow<py::tuple>(item);
    loadscribe_core::HostSolidMesh::Block block;
    block.topology = solid_topology_of(entry[0], topologies);
    block.name = kelm::bind::utf8_text(py::str(
        py::hasattr(entry[0], "name") ? py::object(entry[0].attr("name")) : py::object(entry[0])));
    block.element_ids = host_ids(entry[1], {operation, "elementIDs[" + block.name + "]", body});
    if (block.topology != loadscribe_core::SolidTopology::kNone) {
      const std::string what = "elementConnectivities[" + block.name + "]";
      if (!connectivities.contains(entry[0])) {
        kelm::raise_key_error(operation, ": mesh '", body, "' has no ", what);
      }
      auto conn = std::make_shared<const kelm::bind::HostSequence>(
          connectivities[entry[0]], kelm::bind::Where{operation, what, body});
      const std::size_t width = std::size_t(loadscribe_core::nodes_per_element(block.topology));
      conn->require_rows_of(width);
      // The sizes alone must agree up front; the entries are checked as their rows are read.
      if (conn->size() != width * block.element_ids.size() || (nodes == 0 && conn->size() > 0)) {
        kelm::raise_value_error(operation, ": ", what, " of mesh '", body, "' holds ", conn->size(),
                                " node positions for ", block.element_ids.size(), " elements of ",
                                width, " nodes over ", nodes, " nodes");
      }
      const uint32_t last = uint32_t(nodes ? nodes - 1 : 0);
      block.read_row = [conn, width, last](std::size_t element, uint32_t* positions) {
        conn->copy_range_to<uint32_t>(positions, element * width, width, 0, last);
      };
    }
    mesh.blocks.push_back(std::move(block));
  }
  return mesh;
}

}  // namespace loadscribe_bind
