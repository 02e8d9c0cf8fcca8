// The host's eleven element topologies: node count, VTK cell type, the mesh type and order they
// classify a body as, and the node order VTK needs where it differs from the host's.
#pragma once

#include <vtkCellType.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace gridforge_core {

struct Topology {
  std::string_view name;  // the kelm.mesh.ElementTopology member name
  int num_nodes;
  int vtk_cell_type;
  std::string_view mesh_type;   // "bar", "surface", "tetra" or "hexa"
  std::string_view mesh_order;  // "linear" or "quadratic"
  // For reordered topologies: VTK position k takes host position host_position[k]; else empty.
  const int* host_position;
};

// Host -> VTK node order of the two quadratic topologies where the two disagree.
inline constexpr int kHexa20HostPosition[20] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                10, 11, 16, 17, 18, 19, 12, 13, 14, 15};
inline constexpr int kPenta15HostPosition[15] = {3, 4, 5, 0, 1, 2, 12, 13, 14, 6, 7, 8, 9, 10, 11};

// In the order the converter's dictionaries list them.
inline constexpr std::array<Topology, 11> kTopologies = {{
    {"Bar2", 2, VTK_LINE, "bar", "linear", nullptr},
    {"Tria3", 3, VTK_TRIANGLE, "surface", "linear", nullptr},
    {"Tria6", 6, VTK_QUADRATIC_TRIANGLE, "surface", "quadratic", nullptr},
    {"Quad4", 4, VTK_QUAD, "surface", "linear", nullptr},
    {"Quad8", 8, VTK_QUADRATIC_QUAD, "surface", "quadratic", nullptr},
    {"Tetra4", 4, VTK_TETRA, "tetra", "linear", nullptr},
    {"Tetra10", 10, VTK_QUADRATIC_TETRA, "tetra", "quadratic", nullptr},
    {"Penta6", 6, VTK_WEDGE, "hexa", "linear", nullptr},
    {"Penta15", 15, VTK_QUADRATIC_WEDGE, "hexa", "quadratic", kPenta15HostPosition},
    {"Hexa8", 8, VTK_HEXAHEDRON, "hexa", "linear", nullptr},
    {"Hexa20", 20, VTK_QUADRATIC_HEXAHEDRON, "hexa", "quadratic", kHexa20HostPosition},
}};

// Index of the row named `name`, or -1.
inline int topology_index(std::string_view name) {
  for (std::size_t i = 0; i < kTopologies.size(); ++i) {
    if (kTopologies[i].name == name) return int(i);
  }
  return -1;
}

}  // namespace gridforge_core

namespace gridforge_core {

// Points a cell of VTK type `type` must have: n for fixed-size cells, -1 for the variable-size
// linear cells (poly-vertex, poly-line, strip, polygon), 0 for types a tessellation grid may not
// hold (polyhedra and the rest would need more than a point list).
inline int vtk_cell_points(int type) {
  switch (type) {
    case VTK_VERTEX:
      return 1;
    case VTK_LINE:
      return 2;
    case VTK_TRIANGLE:
      return 3;
    case VTK_PIXEL:
    case VTK_QUAD:
    case VTK_TETRA:
      return 4;
    case VTK_PYRAMID:
      return 5;
    case VTK_WEDGE:
      return 6;
    case VTK_VOXEL:
    case VTK_HEXAHEDRON:
      return 8;
    case VTK_QUADRATIC_EDGE:
      return 3;
    case VTK_QUADRATIC_PYRAMID:
      return 13;
    case VTK_POLY_VERTEX:
    case VTK_POLY_LINE:
    case VTK_TRIANGLE_STRIP:
    case VTK_POLYGON:
      return -1;
  }
  for (const Topology& t : kTopologies) {
    if (t.vtk_cell_type == type) return t.num_nodes;
  }
  return 0;
}

}  // namespace gridforge_core
