// Python binding of the converter class `gridforge`: reads host mesh bodies and geometry bodies
// (duck-typed, any sequence form) into VTK arrays and hands them to the C++ operations.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <vtkPolyData.h>
#include <vtkUnstructuredGrid.h>

#include <cstdint>
#include <limits>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "host_arrays_bind.h"

namespace py = pybind11;
using namespace gridforge_bind;

namespace {

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
                         kelm::bind::utf8_text(py::str(kelm::bind::host_attr(mesh, "pathName"))));
  kelm::add_string_field(
      grid, kelm::kUnitLabelArray,
      kelm::bind::utf8_text(py::str(kelm_module().attr("getApplicationUnitSystemLabel")())));
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
