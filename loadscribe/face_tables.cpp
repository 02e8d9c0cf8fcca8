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

int face_count(SolidTopology topology) {
  const kelm::Topology* row = row_of(topology);
  return row ? row->faces.count : 0;
}

int corners_per_face(SolidTopology topology) {
  const kelm::Topology* row = row_of(topology);
  return row ? row->faces.corners : 0;
}

const int* face_corners(SolidTopology topology, int face) {
  return row_of(topology)->faces.face(face);
}

int match_face(const uint32_t* polygon, int polygon_size, const uint32_t* element_nodes,
               SolidTopology topology) {
  const int corners = corners_per_face(topology);
  if (corners == 0 || polygon_size != corners) return -1;
  uint32_t wanted[4], face_nodes[4];
  std::copy(polygon, polygon + corners, wanted);
  sort_small(wanted, corners);
  for (int face = 0; face < face_count(topology); ++face) {
    const int* positions = face_corners(topology, face);
    for (int k = 0; k < corners; ++k) face_nodes[k] = element_nodes[positions[k]];
    sort_small(face_nodes, corners);
    if (std::equal(wanted, wanted + corners, face_nodes)) return face;
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
