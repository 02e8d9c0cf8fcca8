// The per-body pressure fields of a pressure load ("ELEMENT_ID_FACE_NODE_ID"): for a shell mesh,
// one field row per shell element; for a solid mesh, one per element face, matched against the
// element's faces to find the face numbers that make up the load target.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "face_tables.h"
#include "mapped_leaves.h"

namespace loadscribe_core {

struct PressureField {
  std::vector<uint32_t> element_ids;           // per polygon
  ConnectivityArrays faces;                    // the face node rows, block by block
  std::vector<std::vector<double>> pressures;  // per block: the pressure at each face node
};

// Pressures at the nodes of `rows`, looked up through the surface's node IDs. Raises key_error for
// a node the surface lacks. `pressures` holds one value per entry of `node_ids`.
std::vector<std::vector<double>> face_pressures(const ConnectivityArrays& rows,
                                                const std::vector<uint32_t>& node_ids,
                                                const std::vector<double>& pressures,
                                                const std::string& operation,
                                                const std::string& body);

// One value per face (in row order, block after block) repeated at each node of its row: a face
// loaded with its own mean pressure, whose force is that pressure times its area.
std::vector<std::vector<double>> face_value_rows(const ConnectivityArrays& rows,
                                                 const std::vector<double>& face_values);

// The values of each face's own nodes, rows one after the other (in row order, block after
// block): each face loaded with its own value at each node.
std::vector<std::vector<double>> corner_value_rows(const ConnectivityArrays& rows,
                                                   const std::vector<double>& corner_values);

// Raises ValueError unless the rows and the element IDs describe the same polygons and the
// pressures the same points as the node IDs.
void check_polygon_counts(const ConnectivityArrays& rows, std::size_t element_count,
                          std::size_t node_count, std::size_t pressure_count,
                          const std::string& operation, const std::string& body);

// Raises ValueError naming the node and the body for a pressure of a field that is not finite:
// the host cannot apply it and recorded text would not run.
void require_finite_pressures(const PressureField& field, const std::string& operation,
                              const std::string& body);

// What the solid builder reads of the host mesh. The element rows stay with the host and are
// read one at a time: a load reaches the elements under a wetted surface, a small share of a
// large solid, and copying every row first would cost more than the whole load.
struct HostSolidMesh {
  struct Block {
    // Fills positions[0 .. nodes_per_element) with the row of the block's element `element`
    // (its position in element_ids): positions into node_ids, each checked to lie among them
    // (raises value_error naming the entry otherwise).
    using RowReader = std::function<void(std::size_t element, uint32_t* positions)>;

    SolidTopology topology = SolidTopology::kNone;
    std::string name;                   // the topology's name, for messages
    std::vector<uint32_t> element_ids;  // in host order
    RowReader read_row;                 // empty for topologies without faces
  };
  std::vector<uint32_t> node_ids;
  std::vector<Block> blocks;  // in the order of the host's elementIDs mapping
};

// The target of getElementFaces: element position among all elements of the host mesh -> its
// face numbers, in the order elements are first met; faces of one element in polygon order.
struct FaceTarget {
  std::vector<uint32_t> positions;
  std::vector<uint32_t> offsets;  // positions.size() + 1 entries into faces
  std::vector<uint8_t> faces;
};

struct SolidPressureField {
  PressureField field;
  FaceTarget target;
  bool rotated = false;  // whether any row of the connectivity arrays was rotated
};

// Matches every polygon (row i of the rows, block after block, with element_ids[i]) to a face of
// its own element, whatever that element's topology, and rotates the rows in place as the host's
// face node order needs (see rotate_face_row). Reads the host row of each element it meets once,
// and no other. Raises key_error for an element ID the host mesh lacks and ValueError for an
// element without faces or a polygon that is none of its faces. With `face_values` (one per
// polygon) each face carries its own value instead of its nodes' pressures.
SolidPressureField solid_pressure_field(const HostSolidMesh& mesh, ConnectivityArrays& rows,
                                        const std::vector<uint32_t>& node_ids,
                                        const std::vector<uint32_t>& element_ids,
                                        const std::vector<double>& pressures,
                                        const std::string& operation, const std::string& body,
                                        const std::vector<double>* face_values = nullptr);

}  // namespace loadscribe_core
