#include "face_tables.h"

#include <algorithm>

#include "common/topology_table.h"

namespace loadscribe_core {
namespace {

// The row of the common topology table, or nullptr for kNone.
const kelm::Topology* row_of(SolidTopology topology) {
  switch (topology) {
    case SolidTopology::kTetra4:
      return kelm::topology_named("Tetra4");
    case SolidTopology::kTetra10:
      return kelm::topology_named("Tetra10");
    case SolidTopology::kPenta6:
      return kelm::topology_named("Penta6");
    case SolidTopology::kPenta15:
      return kelm::topology_named("Penta15");
    case SolidTopology::kHexa8:
      return kelm::topology_named("Hexa8");
    case SolidTopology::kHexa20:
      return kelm::topology_named("Hexa20");
    case SolidTopology::kNone:
      break;
  }
  return nullptr;
}

// Sorts 3 or 4 node IDs (a face's worth) in place.
void sort_small(uint32_t* v, int n) {
  for (int i = 1; i < n; ++i) {
    const uint32_t x = v[i];
    int j = i;
    for (; j > 0 && v[j - 1] > x; --j) v[j] = v[j - 1];
    v[j] = x;
  }
}

}  // namespace

int nodes_per_element(SolidTopology topology) {
  const kelm::Topology* row = row_of(topology);
  return row ? row->num_nodes : 0;
}

int corner_count(SolidTopology topology) {
  const kelm::Topology* row = row_of(topology);
  int corners = 0;
  for (int f = 0; row && f < row->faces.count; ++f) {
    for (int k = 0; k < row->faces.corners(f); ++k) {
      corners = std::max(corners, row->faces.face(f)[k] + 1);
    }
  }
  return corners;
}

int face_count(SolidTopology topology) {
  const kelm::Topology* row = row_of(topology);
  return row ? row->faces.count : 0;
}

int corners_per_face(SolidTopology topology, int face) {
  return row_of(topology)->faces.corners(face);
}

const int* face_corners(SolidTopology topology, int face) {
  return row_of(topology)->faces.face(face);
}

int match_face(const uint32_t* polygon, int polygon_size, const uint32_t* element_nodes,
               SolidTopology topology) {
  if (polygon_size < 3 || polygon_size > kelm::kMaxFaceCorners) return -1;
  uint32_t wanted[kelm::kMaxFaceCorners], face_nodes[kelm::kMaxFaceCorners];
  std::copy(polygon, polygon + polygon_size, wanted);
  sort_small(wanted, polygon_size);
  for (int face = 0; face < face_count(topology); ++face) {
    // A wedge's triangles and quadrilaterals sit in one table: only faces of the polygon's size
    // can be it.
    if (corners_per_face(topology, face) != polygon_size) continue;
    const int* positions = face_corners(topology, face);
    for (int k = 0; k < polygon_size; ++k) face_nodes[k] = element_nodes[positions[k]];
    sort_small(face_nodes, polygon_size);
    if (std::equal(wanted, wanted + polygon_size, face_nodes)) return face;
  }
  return -1;
}

bool rotate_face_row(uint32_t* row, SolidTopology topology, int face) {
  if (topology == SolidTopology::kTetra4 && face > 0) {
    std::rotate(row, row + 1, row + 3);  // (a, b, c) -> (b, c, a)
    return true;
  }
  if ((topology == SolidTopology::kHexa8 || topology == SolidTopology::kHexa20) && face > 4) {
    std::rotate(row, row + 3, row + 4);  // (a, b, c, d) -> (d, a, b, c)
    return true;
  }
  return false;
}

}  // namespace loadscribe_core
