#include "face_tables.h"

#include <algorithm>

namespace loadscribe_core {
namespace {

constexpr int kTetraFaces[4][3] = {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}};
constexpr int kHexaFaces[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4},
                                  {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};

// Sorts 3 or 4 node IDs (a face's worth) in place.
void sort_small(uint32_t* v, int n) {
  for (int i = 1; i < n; ++i) {
    const uint32_t x = v[i];
    int j = i;
    for (; j > 0 && v[j - 1] > x; --j) v[j] = v[j - 1];
    v[j] = x;
  }
}

bool is_tetra(SolidTopology t) {
  return t == SolidTopology::kTetra4 || t == SolidTopology::kTetra10;
}

}  // namespace

int nodes_per_element(SolidTopology topology) {
  switch (topology) {
    case SolidTopology::kTetra4:
      return 4;
    case SolidTopology::kTetra10:
      return 10;
    case SolidTopology::kHexa8:
      return 8;
    case SolidTopology::kHexa20:
      return 20;
    case SolidTopology::kNone:
      break;
  }
  return 0;
}

int face_count(SolidTopology topology) {
  return topology == SolidTopology::kNone ? 0 : is_tetra(topology) ? 4 : 6;
}

int corners_per_face(SolidTopology topology) {
  return topology == SolidTopology::kNone ? 0 : is_tetra(topology) ? 3 : 4;
}

const int* face_corners(SolidTopology topology, int face) {
  return is_tetra(topology) ? kTetraFaces[face] : kHexaFaces[face];
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
