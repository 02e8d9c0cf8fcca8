// The host's eleven element topologies, the one table every module reads: node count, VTK cell
// type, the mesh type and order they classify a body as, the node order VTK needs where it differs
// from the host's, and for the solids a pressure can act on, the host's faces as corner positions
// within an element's row (row number = host face number - 1). Mid-side nodes take no part in a
// face's identity, so a quadratic solid shares its linear sibling's faces.
#pragma once

#include <vtkCellType.h>

#include <array>
#include <cstddef>
#include <string_view>

namespace kelm {

inline constexpr int kMaxFaceCorners = 4;

// One face of a solid: its corner positions within the element's row, in the order that turns
// outward for the linear topology. Wedges mix triangles and quadrilaterals, so each face carries
// its own corner count.
struct HostFace {
  int corners;                                // 3 or 4
  std::array<int, kMaxFaceCorners> position;  // the first `corners` entries
};

// `count` faces, row after row; count 0 for no table.
struct HostFaces {
  int count;
  const HostFace* rows;

  const int* face(int f) const { return rows[f].position.data(); }
  int corners(int f) const { return rows[f].corners; }
};

struct Topology {
  std::string_view name;  // the kelm.mesh.ElementTopology member name
  int num_nodes;
  int vtk_cell_type;
  std::string_view mesh_type;   // "bar", "surface", "tetra" or "hexa"
  std::string_view mesh_order;  // "linear" or "quadratic"
  // For reordered topologies: VTK position k takes host position host_position[k]; else nullptr.
  const int* host_position;
  HostFaces faces;
};

// Host -> VTK node order of the two quadratic topologies where the two disagree.
inline constexpr int kHexa20HostPosition[20] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                                10, 11, 16, 17, 18, 19, 12, 13, 14, 15};
inline constexpr int kPenta15HostPosition[15] = {3, 4, 5, 0, 1, 2, 12, 13, 14, 6, 7, 8, 9, 10, 11};

// The host's face numbering of tetrahedra, wedges and hexahedra (host corner positions). The
// wedge's rows are VTK's faces of its wedge, in the same order: the host orders a Penta6 as VTK
// does. Penta15 shares them (its face numbers name the same host corner positions) although its
// two triangles lie the other way round in the host's order, so in its own order they turn inward.
inline constexpr HostFace kTetraHostFaces[4] = {
    {3, {0, 2, 1}}, {3, {0, 1, 3}}, {3, {1, 2, 3}}, {3, {2, 0, 3}}};
inline constexpr HostFace kWedgeHostFaces[5] = {
    {3, {0, 1, 2}}, {3, {3, 5, 4}}, {4, {0, 3, 4, 1}}, {4, {1, 4, 5, 2}}, {4, {2, 5, 3, 0}}};
inline constexpr HostFace kHexaHostFaces[6] = {{4, {0, 3, 2, 1}}, {4, {4, 5, 6, 7}},
                                               {4, {0, 1, 5, 4}}, {4, {1, 2, 6, 5}},
                                               {4, {2, 3, 7, 6}}, {4, {3, 0, 4, 7}}};
inline constexpr HostFaces kNoFaces = {0, nullptr};
inline constexpr HostFaces kTetraFaces = {4, kTetraHostFaces};
inline constexpr HostFaces kWedgeFaces = {5, kWedgeHostFaces};
inline constexpr HostFaces kHexaFaces = {6, kHexaHostFaces};

// In the order the converter's dictionaries list them.
inline constexpr std::array<Topology, 11> kTopologies = {{
    {"Bar2", 2, VTK_LINE, "bar", "linear", nullptr, kNoFaces},
    {"Tria3", 3, VTK_TRIANGLE, "surface", "linear", nullptr, kNoFaces},
    {"Tria6", 6, VTK_QUADRATIC_TRIANGLE, "surface", "quadratic", nullptr, kNoFaces},
    {"Quad4", 4, VTK_QUAD, "surface", "linear", nullptr, kNoFaces},
    {"Quad8", 8, VTK_QUADRATIC_QUAD, "surface", "quadratic", nullptr, kNoFaces},
    {"Tetra4", 4, VTK_TETRA, "tetra", "linear", nullptr, kTetraFaces},
    {"Tetra10", 10, VTK_QUADRATIC_TETRA, "tetra", "quadratic", nullptr, kTetraFaces},
    {"Penta6", 6, VTK_WEDGE, "hexa", "linear", nullptr, kWedgeFaces},
    {"Penta15", 15, VTK_QUADRATIC_WEDGE, "hexa", "quadratic", kPenta15HostPosition, kWedgeFaces},
    {"Hexa8", 8, VTK_HEXAHEDRON, "hexa", "linear", nullptr, kHexaFaces},
    {"Hexa20", 20, VTK_QUADRATIC_HEXAHEDRON, "hexa", "quadratic", kHexa20HostPosition, kHexaFaces},
}};

// Index of the row named `name`, or -1.
inline int topology_index(std::string_view name) {
  for (std::size_t i = 0; i < kTopologies.size(); ++i) {
    if (kTopologies[i].name == name) return int(i);
  }
  return -1;
}

// The row named `name`, or nullptr.
inline const Topology* topology_named(std::string_view name) {
  const int i = topology_index(name);
  return i < 0 ? nullptr : &kTopologies[std::size_t(i)];
}

}  // namespace kelm
