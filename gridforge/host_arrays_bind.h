// Binding helpers of gridforge (included by bind.cpp only; pybind11 stays out of the core): the
// host's mesh arrays (node IDs and coordinates, element dictionaries, colours, tessellations) read
// into the VTK arrays and plain vectors the core's operations take, each host array converted once
// and checked on the way (see common/host_sequence.h).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <vtkFieldData.h>
#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkPolyData.h>
#include <vtkUnsignedIntArray.h>
#include <vtkUnstructuredGrid.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "common/host_sequence.h"
#include "common/tag_arrays.h"
#include "common/topology_table.h"
#include "mesh_to_grid.h"
#include "node_order.h"
#include "tessellation.h"

namespace gridforge_bind {

namespace py = pybind11;
using gridforge_core::ElementBlock;
using kelm::Topology;
using kelm::bind::HostSequence;
using kelm::bind::Where;

inline constexpr uint32_t kMaxId = 0xFFFFFFFFu;

inline py::module_ kelm_module() { return py::module_::import("kelm"); }

// Every read of host geometry happens in the application's unit system.
inline void use_application_units() {
  py::module_ k = kelm_module();
  k.attr("setScriptUnitSystem")(k.attr("getApplicationUnitSystemLabel")());
}

inline std::string path_of(py::handle entity) {
  return py::hasattr(entity, "pathName") ? kelm::bind::utf8_text(py::str(entity.attr("pathName")))
                                         : std::string();
}

inline std::string path_of(vtkDataObject* dataset) {
  const std::string* path = kelm::string_field(dataset, kelm::kBodyPathArray);
  return path ? *path : std::string();
}

inline py::dict as_mapping(py::handle obj, const Where& where) {
  if (!PyDict_Check(obj.ptr())) {
    if (!PyMapping_Check(obj.ptr()) || !py::hasattr(obj, "items")) {
      kelm::raise_type_error(where.prefix(), where.what, where.of_body(),
                             " must be a mapping from element topology to a sequence, got ",
                             Py_TYPE(obj.ptr())->tp_name);
    }
    return py::dict(obj.attr("items")());
  }
  return py::reinterpret_borrow<py::dict>(obj);
}

// The host arrays of one mesh body's nodes, converted into the VTK arrays that keep them.
struct Nodes {
  vtkSmartPointer<vtkFloatArray> coordinates = vtkSmartPointer<vtkFloatArray>::New();
  vtkSmartPointer<vtkUnsignedIntArray> ids = vtkSmartPointer<vtkUnsignedIntArray>::New();
};

inline Nodes read_nodes(py::handle node_ids, py::handle node_coordinates,
                        const std::string& operation, const std::string& body) {
  HostSequence ids(node_ids, {operation, "node ID", body});
  ids.require_rows_of(1);
  HostSequence xyz(node_coordinates, {operation, "nodeCoordinates", body});
  xyz.require_rows_of(3);
  if (xyz.size() != 3 * ids.size()) {
    kelm::raise_value_error(operation, ": nodeCoordinates of body '", body, "' hold ", xyz.size(),
                            " values; expected x, y, z for each of the ", ids.size(), " nodeIDs (",
                            3 * ids.size(), " values)");
  }
  Nodes nodes;
  nodes.ids->SetNumberOfValues(vtkIdType(ids.size()));
  ids.copy_to<uint32_t>(nodes.ids->GetPointer(0), 0, kMaxId);
  nodes.coordinates->SetNumberOfComponents(3);
  nodes.coordinates->SetNumberOfTuples(vtkIdType(ids.size()));
  xyz.copy_to<float>(nodes.coordinates->GetPointer(0));
  return nodes;
}

// One kind of cells (all cells of a grid, or the lines or the polygons of a polydata).
struct CellRun {
  std::vector<ElementBlock> blocks;
  vtkSmartPointer<vtkIdTypeArray> connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
  vtkSmartPointer<vtkUnsignedIntArray> element_ids = vtkSmartPointer<vtkUnsignedIntArray>::New();
};

class Converter {
 public:
  Converter() {
    py::object topologies = kelm_module().attr("mesh").attr("ElementTopology");
    for (std::size_t i = 0; i < kelm::kTopologies.size(); ++i) {
      const Topology& t = kelm::kTopologies[i];
      py::object member = topologies.attr(std::string(t.name).c_str());
      element_type_num_nodes[member] = t.num_nodes;
      kelmelementtype_to_vtkcelltype[member] = t.vtk_cell_type;
      rows_[member] = i;
    }
  }

  py::dict element_type_num_nodes;
  py::dict kelmelementtype_to_vtkcelltype;

  const Topology& topology(py::handle key, const Where& where) const {
    PyObject* row = PyDict_GetItemWithError(rows_.ptr(), key.ptr());
    if (!row) {
      if (PyErr_Occurred()) throw py::error_already_set();
      kelm::raise_key_error(where.prefix(), kelm::bind::utf8_text(py::repr(key)),
                            " is not an element topology the converter knows", where.of_body());
    }
    return kelm::kTopologies[py::cast<std::size_t>(row)];
  }

  // Reads the two element dictionaries of a body into cell runs: all blocks into run 0, or, with
  // `split_lines`, Bar2 blocks into run 0 and the rest into run 1. Quadratic hexahedra and wedges
  // are brought into VTK's node order when `vtk_order` is set. Element IDs follow the cells.
  std::vector<CellRun> read_elements(py::handle elements_by_type, py::handle element_ids_by_type,
                                     vtkIdType num_points, bool split_lines, bool vtk_order,
                                     const std::string& operation, const std::string& body) const {
    Where conn_where{operation, "elementConnectivities", body};
    Where id_where{operation, "elementIDs", body};
    py::dict connectivities = as_mapping(elements_by_type, conn_where);
    py::dict id_blocks = as_mapping(element_ids_by_type, id_where);

    struct Block {
      const Topology* topology;
      std::unique_ptr<HostSequence> ids, connectivity;
      std::size_t run;
    };
    std::vector<Block> blocks;
    std::vector<std::size_t> run_size(2, 0), run_cells(2, 0);
    for (auto item : connectivities) {
      const Topology& t = topology(item.first, conn_where);
      const std::string name(t.name);
      PyObject* ids = PyDict_GetItemWithError(id_blocks.ptr(), item.first.ptr());
      if (!ids) {
        if (PyErr_Occurred()) throw py::error_already_set();
        kelm::raise_key_error(operation, ": topology ", name, " is in elementConnectivities but ",
                              "not in elementIDs of body '", body, "'");
      }
      Block block{&t,
                  std::make_unique<HostSequence>(ids, Where{operation, name + " element ID", body}),
                  std::make_unique<HostSequence>(
                      item.second, Where{operation, name + " connectivity entry", body}),
                  split_lines && name != "Bar2" ? 1u : 0u};
      block.ids->require_rows_of(1);
      block.connectivity->require_rows_of(std::size_t(t.num_nodes));
      const std::size_t count = block.ids->size();
      const std::size_t entries = block.connectivity->size();
      gridforge_core::check_block_sizes(t, count, entries, std::size_t(num_points), operation,
                                        body);
      run_size[block.run] += entries;
      run_cells[block.run] += count;
      blocks.push_back(std::move(block));
    }
    for (auto item : id_blocks) {
      if (!connectivities.contains(item.first)) {
        kelm::raise_value_error(
            operation, ": topology ", kelm::bind::utf8_text(py::str(item.first)),
            " is in elementIDs but not in elementConnectivities of body '", body, "'");
      }
    }

    std::vector<CellRun> runs(split_lines ? 2 : 1);
    for (std::size_t r = 0; r < runs.size(); ++r) {
      runs[r].connectivity->SetNumberOfValues(vtkIdType(run_size[r]));
      runs[r].element_ids->SetNumberOfValues(vtkIdType(run_cells[r]));
      run_size[r] = run_cells[r] = 0;  // reused as fill positions
    }
    for (Block& block : blocks) {
      CellRun& run = runs[block.run];
      vtkIdType* connectivity = run.connectivity->GetPointer(vtkIdType(run_size[block.run]));
      block.connectivity->copy_to<vtkIdType>(connectivity, 0, num_points - 1);
      const std::size_t count = block.ids->size();
      if (vtk_order) gridforge_core::to_vtk_node_order(*block.topology, connectivity, count);
      block.ids->copy_to<uint32_t>(run.element_ids->GetPointer(vtkIdType(run_cells[block.run])), 0,
                                   kMaxId);
      run.blocks.push_back({block.topology, vtkIdType(count)});
      run_size[block.run] += block.connectivity->size();
      run_cells[block.run] += count;
    }
    return runs;
  }

  py::tuple elements_to_ugrid(vtkUnstructuredGrid* grid, py::handle elements_by_type,
                              py::handle element_ids_by_type, const std::string& operation,
                              const std::string& body) const {
    if (py::len(elements_by_type) == 0) {
      kelm::raise_value_error(operation, ": body '", body,
                              "' has no elements (elementConnectivities ",
                              "is empty), so it has no mesh type");
    }
    std::vector<CellRun> runs =
        read_elements(elements_by_type, element_ids_by_type, grid->GetNumberOfPoints(), false, true,
                      operation, body);
    const Topology& last = gridforge_core::attach_cells(grid, runs[0].blocks, runs[0].connectivity,
                                                        runs[0].element_ids);
    return py::make_tuple(std::string(last.mesh_type), std::string(last.mesh_order));
  }

  void elements_to_poly(vtkPolyData* poly, py::handle elements_by_type, py::handle element_ids,
                        const std::string& operation, const std::string& body) const {
    std::vector<CellRun> runs = read_elements(
        elements_by_type, element_ids, poly->GetNumberOfPoints(), true, false, operation, body);
    gridforge_core::attach_poly_cells(poly, runs[0].blocks, runs[0].connectivity, runs[1].blocks,
                                      runs[1].connectivity);
  }

 private:
  py::dict rows_;  // topology member -> row of the topology table
};

inline void nodes_to_points(vtkPointSet* dataset, py::handle node_ids, py::handle node_coordinates,
                            const std::string& operation, const std::string& body) {
  Nodes nodes = read_nodes(node_ids, node_coordinates, operation, body);
  gridforge_core::attach_points(dataset, nodes.coordinates, nodes.ids);
}

inline void add_color(vtkDataObject* dataset, py::handle entity, const std::string& operation,
                      const std::string& body) {
  HostSequence color(kelm::bind::host_attr(entity, "color"), {operation, "color", body});
  if (color.size() != 3) {
    kelm::raise_value_error(operation, ": color of body '", body, "' has ", color.size(),
                            " components; expected red, green, blue");
  }
  double rgb[3];
  color.copy_to<double>(rgb);
  kelm::add_color_field(dataset, rgb);
}

// Host -> VTK node order of a whole block, keeping the entries' integer type.
inline py::array reorder_block(const Topology& topology, py::ssize_t count, py::handle elements,
                               const char* operation) {
  // ensure() swallows NumPy's own error (ragged rows, say) and hands back nothing.
  py::array block = py::array::ensure(elements, py::array::c_style);
  if (!block) {
    kelm::raise_type_error(operation, ": elements must be an array of integers (flat, or rows of ",
                           "one length), got ", kelm::bind::type_name(elements));
  }
  if (block.size() == 0 && block.dtype().kind() == 'f') {  // an empty list reads as float64
    block = py::array(py::dtype::of<int64_t>(), std::vector<py::ssize_t>{0});
  }
  const char kind = block.dtype().kind();
  if (kind != 'i' && kind != 'u') {
    kelm::raise_type_error(operation, ": elements must be integers, got an array of dtype ",
                           py::str(block.dtype()).cast<std::string>());
  }
  const py::ssize_t n = topology.num_nodes;
  if (count < 0 || count * n > block.size()) {
    kelm::raise_value_error(operation, ": ", count, " elements of ", n, " nodes need ", count * n,
                            " entries; the block holds ", block.size());
  }
  py::array out(block.dtype(), std::vector<py::ssize_t>{count * n});
  gridforge_core::to_vtk_node_order_bytes(topology, static_cast<const unsigned char*>(block.data()),
                                          static_cast<unsigned char*>(out.mutable_data()),
                                          std::size_t(count), std::size_t(block.itemsize()));
  return out;
}

inline std::vector<float> read_points(py::handle tessellation, const std::string& operation) {
  HostSequence points(kelm::bind::host_attr(tessellation, "points"),
                      {operation, "tessellation points", ""});
  points.require_rows_of(3);
  if (points.size() % 3 != 0) {
    kelm::raise_value_error(operation, ": tessellation points hold ", points.size(),
                            " values, not x, y, z triples");
  }
  return points.to_vector<float>();
}

// Cells of one kind: vertices (width 1), edges (2) or faces (3), unless the geometry type has none.
inline gridforge_core::TessellationCells read_cells(const std::string& geom_type,
                                                    py::handle tessellation, const char* kind,
                                                    int width, const std::string& operation) {
  if ((width >= 2 && geom_type == "Point") || (width == 3 && geom_type == "Curve")) return {};
  py::object part = kelm::bind::host_attr(tessellation, kind);
  const std::string what = operation + ": tessellation " + kind;
  auto counts =
      HostSequence(part["num_cells"], {operation, std::string(kind) + " \"num_cells\"", ""})
          .to_vector<uint32_t>(0, kMaxId);
  auto indices =
      HostSequence(part["point_indices"], {operation, std::string(kind) + " \"point_indices\"", ""})
          .to_vector<uint32_t>(0, kMaxId);
  return gridforge_core::prefixed_cells(std::move(counts), indices, width, what);
}

template <typename T>
inline py::array_t<T> to_numpy(const std::vector<T>& values) {
  py::array_t<T> out(py::ssize_t(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

inline py::tuple cells_tuple(const gridforge_core::TessellationCells& cells) {
  return py::make_tuple(cells.num_cells, to_numpy(cells.counts), to_numpy(cells.cells));
}

inline std::vector<uint8_t> read_cell_types(py::handle types) {
  return HostSequence(types, {"gridforge.ugrid_from_arrays", "cell type", ""})
      .to_vector<uint8_t>(0, 255);
}

inline std::vector<uint32_t> read_cell_list(py::handle cells, const char* what) {
  return HostSequence(cells, {"gridforge", what, ""}).to_vector<uint32_t>(0, kMaxId);
}

}  // namespace gridforge_bind
