// Faces of the solid element topologies a pressure can act on, as the host numbers them (the
// common topology table's face rows): corner positions within an element's row (host node order),
// row number = face number. Mid-side nodes of Tetra10, Penta15 and Hexa20 take no part in a face's
// identity. Wedges have triangles (faces 0, 1) and quadrilaterals (faces 2 to 4).
#pragma once

#include <cstdint>

namespace loadscribe_core {

enum class SolidTopology { kNone, kTetra4, kTetra10, kPenta6, kPenta15, kHexa8, kHexa20 };

// Nodes per element row (4, 10, 6, 15, 8, 20; 0 for kNone).
int nodes_per_element(SolidTopology topology);
// Corner nodes of an element: the positions its faces use (4, 6 or 8; 0 for kNone).
int corner_count(SolidTopology topology);
int face_count(SolidTopology topology);                  // 4, 5 or 6
int corners_per_face(SolidTopology topology, int face);  // 3 or 4
// Corner positions of face `face` (corners_per_face entries).
const int* face_corners(SolidTopology topology, int face);

// The smallest face number of the element whose corner node IDs are, as a set, the polygon's
// node IDs; -1 when none is. `element_nodes`: the element's row of host node IDs.
int match_face(const uint32_t* polygon, int polygon_size, const uint32_t* element_nodes,
               SolidTopology topology);

// Brings a matched polygon row into the node order the host expects for that face, in place:
// Tetra4 faces 1 to 3 (a, b, c) -> (b, c, a); Hexa8 / Hexa20 face 5 (a, b, c, d) -> (d, a, b, c).
// Other topologies (wedges among them) and faces keep their order. Returns whether the row
// changed.
bool rotate_face_row(uint32_t* row, SolidTopology topology, int face);

}  // namespace loadscribe_core
