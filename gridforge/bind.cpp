// Python binding of the converter class `gridforge`: reads host mesh bodies and geometry bodies
// (duck-typed, any sequence form) into VTK arrays and hands them to the C++ operations.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <vtkFieldData.h>
#include <vtkPolyData.h>
#include <vtkUnstructuredGrid.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "common/host_sequence.h"
#include "common/tag_arrays.h"
#include "mesh_to_grid.h"
#include "node_order.h"
#include "tessellation.h"

namespace py = pybind11;
using gridforge_core::ElementBlock;
using kelm::Topology;
using kelm::bind::HostSequence;
using kelm::bind::Where;

namespace {

constexpr uint32_t kMaxId = 0xFFFFFFFFu;

py::module_ kelm_module() { return py::module_::import("kelm"); }

// Every read of host geometry happens in the application's unit system.
void use_application_units() {
  py::module_ k = kelm_module();
  k.attr("setScriptUnitSystem")(k.attr("getApplicationUnitSystemLabel")());
}

std::string path_of(py::handle entity) {
  return py::hasattr(entity, "pathName") ? py::str(entity.attr("pathName")).cast<std::string>()
                                         : std::string();
}

std::string path_of(vtkDataObject* dataset) {
  const std::string* path = kelm::string_field(dataset, kelm::kBodyPathArray);
  return path ? *path : std::string();
}

py::dict as_mapping(py::handle obj, const Where& where) {
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

Nodes read_nodes(py::handle node_ids, py::handle node_coordinates, const std::string& operation,
                 const std::string& body) {
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
      kelm::raise_key_error(where.prefix(), py::repr(key).cast<std::string>(),
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
        kelm::raise_value_error(operation, ": topology ", py::str(item.first).cast<std::string>(),
                                " is in elementIDs but not in elementConnectivities of body '",
                                body, "'");
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

void nodes_to_points(vtkPointSet* dataset, py::handle node_ids, py::handle node_coordinates,
                     const std::string& operation, const std::string& body) {
  Nodes nodes = read_nodes(node_ids, node_coordinates, operation, body);
  gridforge_core::attach_points(dataset, nodes.coordinates, nodes.ids);
}

void add_color(vtkDataObject* dataset, py::handle entity, const std::string& operation,
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

vtkSmartPointer<vtkUnstructuredGrid> ugrid_from_mesh(const Converter& self, py::handle mesh) {
  const std::string operation = "gridforge.ugrid_from_mesh";
  use_application_units();
  const std::string body = path_of(mesh);
  auto grid = vtkSmartPointer<vtkUnstructuredGrid>::New();
  nodes_to_points(grid, kelm::bind::host_attr(mesh, "nodeIDs"),
                  kelm::bind::host_attr(mesh, "nodeCoordinates"), operation, body);
  py::tuple kind =
      self.elements_to_ugrid(grid, kelm::bind::host_attr(mesh, "elementConnectivities"),
                             kelm::bind::host_attr(mesh, "elementIDs"), operation, body);
  kelm::add_string_field(grid, kelm::kMeshTypeArray, kind[0].cast<std::string>());
  kelm::add_string_field(grid, kelm::kMeshOrderArray, kind[1].cast<std::string>());
  add_color(grid, mesh, operation, body);
  kelm::add_string_field(grid, kelm::kBodyPathArray,
                         py::str(kelm::bind::host_attr(mesh, "pathName")).cast<std::string>());
  kelm::add_string_field(
      grid, kelm::kUnitLabelArray,
      py::str(kelm_module().attr("getApplicationUnitSystemLabel")()).cast<std::string>());
  return grid;
}

vtkSmartPointer<vtkPolyData> poly_from_mesh(const Converter& self, py::handle mesh) {
  const std::string operation = "gridforge.poly_from_mesh";
  use_application_units();
  const std::string body = path_of(mesh);
  auto poly = vtkSmartPointer<vtkPolyData>::New();
  nodes_to_points(poly, kelm::bind::host_attr(mesh, "nodeIDs"),
                  kelm::bind::host_attr(mesh, "nodeCoordinates"), operation, body);
  self.elements_to_poly(poly, kelm::bind::host_attr(mesh, "elementConnectivities"),
                        kelm::bind::host_attr(mesh, "elementIDs"), operation, body);
  add_color(poly, mesh, operation, body);
  return poly;
}

py::object dataset_from_mesh(const Converter& self, py::handle mesh) {
  py::module_ mesh_module = kelm_module().attr("mesh");
  if (py::isinstance(mesh, mesh_module.attr("SolidMesh")) ||
      py::isinstance(mesh, mesh_module.attr("HexMesh"))) {
    return py::cast(ugrid_from_mesh(self, mesh));
  }
  return py::cast(poly_from_mesh(self, mesh));
}

// Host -> VTK node order of a whole block, keeping the entries' integer type.
py::array reorder_block(const Topology& topology, py::ssize_t count, py::handle elements,
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

// ---- geometry bodies ----------------------------------------------------------------------------

py::tuple get_tessellation(py::handle body) {
  py::object types = kelm_module().attr("EntityType");
  py::object type = kelm::bind::host_attr(body, "entityType");
  if (type.equal(types.attr("Solid"))) {
    return py::make_tuple("Solid", body.attr("asSolid")().attr("tessellationExterior"));
  }
  if (type.equal(types.attr("Surface"))) {
    return py::make_tuple("Surface", body.attr("asSurface")().attr("tessellation"));
  }
  if (type.equal(types.attr("Curve"))) {
    return py::make_tuple("Curve", body.attr("asCurve")().attr("tessellation"));
  }
  if (type.equal(types.attr("Point"))) {
    return py::make_tuple("Point", body.attr("asPoint")().attr("tessellation"));
  }
  kelm::print_line("Unsupported type..... exiting");
  PyErr_SetNone(PyExc_SystemExit);  // ends the running host script, as exit() would
  throw py::error_already_set();
}

std::vector<float> read_points(py::handle tessellation, const std::string& operation) {
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
gridforge_core::TessellationCells read_cells(const std::string& geom_type, py::handle tessellation,
                                             const char* kind, int width,
                                             const std::string& operation) {
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
py::array_t<T> to_numpy(const std::vector<T>& values) {
  py::array_t<T> out(py::ssize_t(values.size()));
  std::copy(values.begin(), values.end(), out.mutable_data());
  return out;
}

py::tuple cells_tuple(const gridforge_core::TessellationCells& cells) {
  return py::make_tuple(cells.num_cells, to_numpy(cells.counts), to_numpy(cells.cells));
}

std::vector<uint8_t> read_cell_types(py::handle types) {
  return HostSequence(types, {"gridforge.ugrid_from_arrays", "cell type", ""})
      .to_vector<uint8_t>(0, 255);
}

std::vector<uint32_t> read_cell_list(py::handle cells, const char* what) {
  return HostSequence(cells, {"gridforge", what, ""}).to_vector<uint32_t>(0, kMaxId);
}

struct GeometryArrays {
  std::string body;
  std::vector<float> points;
  gridforge_core::TessellationCells vertices, edges, faces;
};

GeometryArrays read_geometry(py::handle body, const std::string& operation) {
  use_application_units();
  GeometryArrays arrays;
  arrays.body = path_of(body);
  py::tuple typed = get_tessellation(body);
  const std::string type = typed[0].cast<std::string>();
  arrays.points = read_points(typed[1], operation);
  arrays.vertices = read_cells(type, typed[1], "vertices", 1, operation);
  arrays.edges = read_cells(type, typed[1], "edges", 2, operation);
  arrays.faces = read_cells(type, typed[1], "faces", 3, operation);
  return arrays;
}

vtkSmartPointer<vtkUnstructuredGrid> ugrid_from_geombody(py::handle body) {
  GeometryArrays g = read_geometry(body, "gridforge.ugrid_from_geombody");
  auto grid = gridforge_core::ugrid_from_tessellation(g.points, g.vertices, g.edges, g.faces);
  add_color(grid, body, "gridforge.ugrid_from_geombody", g.body);
  return grid;
}

vtkSmartPointer<vtkPolyData> poly_from_geombody(py::handle body) {
  GeometryArrays g = read_geometry(body, "gridforge.poly_from_geombody");
  auto poly =
      gridforge_core::poly_from_arrays(g.points, g.vertices.cells, g.edges.cells, g.faces.cells);
  add_color(poly, body, "gridforge.poly_from_geombody", g.body);
  return poly;
}

const Topology& topology_named(const char* name) {
  return kelm::kTopologies[std::size_t(kelm::topology_index(name))];
}

}  // namespace

PYBIND11_MODULE(gridforge, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  m.doc() = "Converts host mesh bodies and geometry bodies into tagged VTK datasets.";

  py::class_<Converter>(m, "gridforge", py::dynamic_attr(),
                        "Converter of host mesh and geometry bodies into VTK datasets.")
      .def(py::init<>(),
           "Builds the topology tables (element_type_num_nodes, "
           "kelmelementtype_to_vtkcelltype) from kelm.mesh.ElementTopology.")
      .def_readwrite("element_type_num_nodes", &Converter::element_type_num_nodes,
                     "Element topology -> number of nodes.")
      .def_readwrite("kelmelementtype_to_vtkcelltype", &Converter::kelmelementtype_to_vtkcelltype,
                     "Element topology -> VTK cell type number.")
      .def("dataset_from_mesh", &dataset_from_mesh, py::arg("kelm_mesh"),
           "A vtkUnstructuredGrid for a solid or hexahedral mesh, vtkPolyData for any other mesh.")
      .def("ugrid_from_mesh", &ugrid_from_mesh, py::arg("kelm_mesh"),
           "A tagged vtkUnstructuredGrid of the mesh body (Node ID, Element ID, mesh_type, "
           "mesh_order, color, Body pathName, unit_system_label). Raises KeyError for an unknown "
           "topology, ValueError for inconsistent or out-of-range host data, TypeError for "
           "non-numeric data.")
      .def("poly_from_mesh", &poly_from_mesh, py::arg("kelm_mesh"),
           "vtkPolyData of the mesh body: Bar2 elements as lines, all others as polygons; carries "
           "Node ID and color.")
      .def(
          "nodes_to_points",
          [](const Converter&, vtkPointSet* ugrid, py::handle ids, py::handle coords) {
            nodes_to_points(ugrid, ids, coords, "gridforge.nodes_to_points", path_of(ugrid));
          },
          py::arg("ugrid"), py::arg("nodeIDs"), py::arg("nodeCoordinates"),
          "Gives a point set its points (32-bit floats) and the Node ID point array.")
      .def(
          "elements_to_ugrid",
          [](const Converter& self, vtkUnstructuredGrid* ugrid, py::handle elements,
             py::handle ids) {
            return self.elements_to_ugrid(ugrid, elements, ids, "gridforge.elements_to_ugrid",
                                          path_of(ugrid));
          },
          py::arg("ugrid"), py::arg("elements_by_type"), py::arg("element_ids_by_type"),
          "Gives the grid its cells and Element ID array; returns (mesh type, mesh order) of the "
          "last block.")
      .def(
          "elements_to_poly",
          [](const Converter& self, vtkPolyData* poly, py::handle elements, py::handle ids) {
            self.elements_to_poly(poly, elements, ids, "gridforge.elements_to_poly", "");
          },
          py::arg("poly"), py::arg("elements_by_type"), py::arg("element_ids"),
          "Gives the polydata its line (Bar2) and polygon cells.")
      .def(
          "reorder_hexa20",
          [](const Converter&, py::ssize_t count, py::handle elements) {
            return reorder_block(topology_named("Hexa20"), count, elements,
                                 "gridforge.reorder_hexa20");
          },
          py::arg("num_hexa20_elements"), py::arg("elements"),
          "A new flat array of the Hexa20 block in VTK node order (entries keep their type).")
      .def(
          "reorder_penta15",
          [](const Converter&, py::ssize_t count, py::handle elements) {
            return reorder_block(topology_named("Penta15"), count, elements,
                                 "gridforge.reorder_penta15");
          },
          py::arg("num_penta15_elements"), py::arg("elements"),
          "A new flat array of the Penta15 block in VTK node order (entries keep their type).")
      .def(
          "ugrid_from_geombody",
          [](const Converter&, py::handle b) { return ugrid_from_geombody(b); },
          py::arg("kelm_geometry_body"),
          "A vtkUnstructuredGrid of the geometry body's tessellation (vertex, line, triangle "
          "cells) carrying its color.")
      .def(
          "poly_from_geombody",
          [](const Converter&, py::handle b) { return poly_from_geombody(b); },
          py::arg("kelm_geometry_body"),
          "vtkPolyData of the geometry body's tessellation with point normals and its color.")
      .def(
          "get_tessellation_from_kelm_geombody",
          [](const Converter&, py::handle b) { return get_tessellation(b); },
          py::arg("kelm_geometry_body"),
          "(geometry type, tessellation) of a Solid, Surface, Curve or Point body; any other type "
          "prints 'Unsupported type..... exiting' and raises SystemExit.")
      .def(
          "initialize_point_arrays",
          [](const Converter&, py::handle tessellation) {
            std::vector<float> xyz = read_points(tessellation, "gridforge.initialize_point_arrays");
            py::array_t<float> out({py::ssize_t(xyz.size() / 3), py::ssize_t(3)});
            std::copy(xyz.begin(), xyz.end(), out.mutable_data());
            return out;
          },
          py::arg("tessellation"), "The tessellation points as an N x 3 float32 array.")
      .def(
          "initialize_vertex_arrays",
          [](const Converter&, py::handle type_object, py::handle t) {
            const std::string type = kelm::bind::text_argument(
                type_object, "gridforge.initialize_vertex_arrays", "geom_type");
            return cells_tuple(
                read_cells(type, t, "vertices", 1, "gridforge.initialize_vertex_arrays"));
          },
          py::arg("geom_type"), py::arg("tessellation"),
          "(number of vertex cells, per-entity counts, count-prefixed cells).")
      .def(
          "initialize_edge_arrays",
          [](const Converter&, py::handle type_object, py::handle t) {
            const std::string type = kelm::bind::text_argument(
                type_object, "gridforge.initialize_edge_arrays", "geom_type");
            return cells_tuple(read_cells(type, t, "edges", 2, "gridforge.initialize_edge_arrays"));
          },
          py::arg("geom_type"), py::arg("tessellation"),
          "(number of line cells, per-entity counts, count-prefixed cells); empty for a Point.")
      .def(
          "initialize_face_arrays",
          [](const Converter&, py::handle type_object, py::handle t) {
            const std::string type = kelm::bind::text_argument(
                type_object, "gridforge.initialize_face_arrays", "geom_type");
            return cells_tuple(read_cells(type, t, "faces", 3, "gridforge.initialize_face_arrays"));
          },
          py::arg("geom_type"), py::arg("tessellation"),
          "(number of triangles, per-entity counts, count-prefixed cells); empty for a Point or "
          "Curve.")
      .def(
          "initialize_celltypes_array",
          [](const Converter&, py::handle n0, py::handle n1, py::handle n2) {
            constexpr const char* op = "gridforge.initialize_celltypes_array";
            constexpr long long kMost = std::numeric_limits<int32_t>::max();
            return to_numpy(gridforge_core::tessellation_cell_types(
                std::size_t(kelm::bind::integer_argument(n0, op, "num_0D_cells", 0, kMost)),
                std::size_t(kelm::bind::integer_argument(n1, op, "num_1D_cells", 0, kMost)),
                std::size_t(kelm::bind::integer_argument(n2, op, "num_2D_cells", 0, kMost))));
          },
          py::arg("num_0D_cells"), py::arg("num_1D_cells"), py::arg("num_2D_cells"),
          "VTK_VERTEX, VTK_LINE and VTK_TRIANGLE cell types for the three counts, in that order.")
      .def(
          "ugrid_from_arrays",
          [](const Converter&, py::handle points, py::handle types, py::handle cells) {
            std::vector<float> xyz =
                HostSequence(points, {"gridforge.ugrid_from_arrays", "point coordinates", ""})
                    .to_vector<float>();
            if (xyz.size() % 3 != 0) {
              kelm::raise_value_error("gridforge.ugrid_from_arrays: point coordinates hold ",
                                      xyz.size(), " values, not x, y, z triples");
            }
            return gridforge_core::ugrid_from_arrays(xyz, read_cell_types(types),
                                                     read_cell_list(cells, "cell array"));
          },
          py::arg("point_coordinate_array"), py::arg("cell_type_array"),
          py::arg("geom_body_cell_array"),
          "A vtkUnstructuredGrid from N x 3 points, one VTK cell type per cell and the "
          "count-prefixed cell list.")
      .def(
          "poly_from_arrays",
          [](const Converter&, py::handle points, py::handle v, py::handle e, py::handle f) {
            std::vector<float> xyz =
                HostSequence(points, {"gridforge.poly_from_arrays", "point coordinates", ""})
                    .to_vector<float>();
            if (xyz.size() % 3 != 0) {
              kelm::raise_value_error("gridforge.poly_from_arrays: point coordinates hold ",
                                      xyz.size(), " values, not x, y, z triples");
            }
            return gridforge_core::poly_from_arrays(xyz, read_cell_list(v, "vertex cell array"),
                                                    read_cell_list(e, "edge cell array"),
                                                    read_cell_list(f, "face cell array"));
          },
          py::arg("point_coordinate_array"), py::arg("vertex_cell_array"),
          py::arg("edge_cell_array"), py::arg("face_cell_array"),
          "vtkPolyData with verts, lines and polys from count-prefixed lists, with point normals.");
}
