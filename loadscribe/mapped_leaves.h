// Reading the leaves of a mapped multiblock (the result of the field transfer): the distance
// filter, the identity and unit texts in field data, the ID and value arrays, and the split of a
// surface's polygons into triangle and quadrilateral rows of host node IDs.
//
// Everything a load needs is read and checked here, before the host is asked for anything, so that
// a malformed leaf raises (KeyError / TypeError / ValueError through common/errors.h) without
// leaving half a load behind in the host.
#pragma once

#include <vtkDataObject.h>
#include <vtkDataSet.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace loadscribe_core {

// The mesh-body leaves of `mesh` (those carrying "Body pathName") in traversal order; empty
// nodes and geometry-body leaves are passed over.
std::vector<vtkSmartPointer<vtkDataObject>> mapped_leaves(vtkMultiBlockDataSet* mesh);

// The cells of `mesh` all of whose points lie within `tolerance` of the source (point array
// "Distance" <= tolerance), as polygonal data. The leaf's field data (identity and units) is
// carried over. Raises key_error when `mesh` has no point array "Distance".
vtkSmartPointer<vtkPolyData> filter_by_distance(vtkDataSet* mesh, double tolerance,
                                                const std::string& operation);

// Rows of host node IDs of the polygons of one size, in polygon order. `key` is "tria" (width 3)
// or "quad" (width 4).
struct FaceRows {
  std::string key;
  int width = 0;
  std::vector<uint32_t> nodes;  // count() by width
  std::size_t count() const { return width ? nodes.size() / std::size_t(width) : 0; }
};
// The connectivity arrays of one body, in insertion order ("tria" before "quad").
using ConnectivityArrays = std::vector<FaceRows>;

// What a load leaves out of one body: places the mapping gave no value ("vtkValidPointMask" 0 or
// a NaN value) and places beyond the tolerance. Nodes for a temperature load, faces (the
// triangles and quadrilaterals a pressure load takes) for a pressure load. Each place is counted
// once; one without a value counts as that, whatever its distance.
struct LeftOut {
  std::size_t no_value = 0;
  std::size_t beyond_tolerance = 0;
  // Faces of a solid that turn away from the source (the mapping's "Faces source" is 0): the dry
  // side of a thin wall, the rim of a duct's end. Pressure loads only.
  std::size_t facing_away = 0;
};

// The line printed for a body that a load left places out of, e.g. "Left out of the temperature
// load on body 'Part 1/Body 1': 12 nodes without a mapped value, 0 beyond the tolerance".
// `places` is "nodes" or "faces".
std::string left_out_line(const std::string& load, const std::string& body, const LeftOut& count,
                          const std::string& places);

struct TemperatureLeaf {
  std::string path;
  std::string unit;
  std::vector<uint32_t> node_ids;    // per loaded node
  std::vector<double> temperatures;  // per loaded node
  LeftOut left_out;
};

struct PressureLeaf {
  std::string path;
  std::string mesh_type;
  std::string unit;
  std::vector<uint32_t> node_ids;     // per point
  std::vector<double> pressures;      // per point
  std::vector<uint32_t> element_ids;  // per kept polygon: triangles first, then quadrilaterals
  ConnectivityArrays polygons;        // "tria" rows then "quad" rows, as present
  // Per kept polygon, in the order of element_ids, when the leaf carries the field per face (a
  // face average): each face is loaded with its own value at each of its nodes. Empty: the faces
  // take the point values at their nodes.
  std::vector<double> face_pressures;
  // Per kept polygon, its own value at each of its nodes, rows one after the other in the order
  // of element_ids, when the leaf carries them (a shell loaded by the sides the fluid wets, from a
  // method that gives node values). Empty otherwise.
  std::vector<double> corner_pressures;
  LeftOut left_out;  // in faces

  bool solid() const { return mesh_type == "tetra" || mesh_type == "hexa"; }
};

// `tolerance` null: no filtering. `index`: the leaf's position in traversal (for messages).
// A temperature keeps every node (of any dataset, interior nodes of a volume too) with a value
// and a "Distance" of at most the tolerance, in the leaf's point order; a pressure keeps the
// polygons of the distance filter (all their points within the tolerance). A pressure leaf with a
// cell array of the field is loaded per face from it (a face whose value is NaN has none).
// `reversed`: the pressures are negated (see read_pressure_leaves); ValueError for a solid body.
TemperatureLeaf read_temperature_leaf(vtkDataObject* leaf, std::size_t index,
                                      const std::string& field_name, const double* tolerance,
                                      const std::string& operation);
PressureLeaf read_pressure_leaf(vtkDataObject* leaf, std::size_t index,
                                const std::string& field_name, const double* tolerance,
                                const std::string& operation, bool reversed = false);

// Every mesh-body leaf of `mesh` read as above (`tolerance` null: no filtering), in traversal
// order. A shell pressure pushes against its elements' normals, which a mesher may have turned
// either way; `reverse` names the shell bodies whose normals face the other way (away from the
// fluid) and whose pressures are therefore negated, in the load and in the recorded text alike.
// Raises ValueError, before any leaf is read, for a name that is no body of `mesh` (listing the
// bodies) and for a solid body (its faces' outward normals fix the direction).
std::vector<TemperatureLeaf> read_temperature_leaves(vtkMultiBlockDataSet* mesh,
                                                     const std::string& field_name,
                                                     const double* tolerance,
                                                     const std::string& operation);
std::vector<PressureLeaf> read_pressure_leaves(vtkMultiBlockDataSet* mesh,
                                               const std::string& field_name,
                                               const double* tolerance,
                                               const std::string& operation,
                                               const std::vector<std::string>& reverse = {});

// What a load left out per body path, in order of first appearance; leaves that share a path
// are summed (both feed the same body's load).
template <typename Leaf>
std::vector<std::pair<std::string, LeftOut>> left_out_per_body(const std::vector<Leaf>& bodies) {
  std::vector<std::pair<std::string, LeftOut>> totals;
  for (const Leaf& body : bodies) {
    auto same = totals.begin();
    while (same != totals.end() && same->first != body.path) ++same;
    if (same == totals.end()) same = totals.insert(totals.end(), {body.path, LeftOut{}});
    same->second.no_value += body.left_out.no_value;
    same->second.beyond_tolerance += body.left_out.beyond_tolerance;
    same->second.facing_away += body.left_out.facing_away;
  }
  return totals;
}

// Splits polygons by their own point count: triangles to "tria", quadrilaterals to "quad", other
// sizes left out. `element_ids` (per cell of `surface`) comes back reordered to match the rows.
// `node_ids` holds the host node ID of every point; `used_points` (if given, one entry per point)
// gets 1 at every point of a kept polygon. With `valued_points` (one entry per point), a polygon
// with a point whose entry is 0 is left out too and counted in `*without_value`, and so is one
// whose entry in `valued_cells` (one per cell) is 0; with `facing_cells` (one entry per cell), a
// polygon whose entry is 0 is left out before that and counted in `*facing_away`. `kept_cells`
// gets the cell id of each kept polygon, in the order of the element IDs.
ConnectivityArrays split_polygons(
    vtkPolyData* surface, const std::vector<uint32_t>& node_ids,
    const std::vector<uint32_t>& cell_element_ids, std::vector<uint32_t>& element_ids,
    const std::string& operation, const std::string& body, std::vector<char>* used_points = nullptr,
    const std::vector<char>* valued_points = nullptr, std::size_t* without_value = nullptr,
    const std::vector<char>* facing_cells = nullptr, std::size_t* facing_away = nullptr,
    const std::vector<char>* valued_cells = nullptr, std::vector<vtkIdType>* kept_cells = nullptr);

// The number of triangles and quadrilaterals of `surface`: the faces a pressure load can take.
std::size_t loadable_faces(vtkPolyData* surface);

}  // namespace loadscribe_core
