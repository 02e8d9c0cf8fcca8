#include <gtest/gtest.h>
#include <vtkCell.h>
#include <vtkCellType.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkSmartPointer.h>

#include <numeric>
#include <set>
#include <utility>

#include "face_tables.h"
#include "pressure_fields.h"

using namespace loadscribe_core;

namespace {

// Element rows of host node IDs 10, 11, ... so that positions and IDs are easy to tell apart.
std::vector<uint32_t> row_of(int n) {
  std::vector<uint32_t> row(n);
  for (int i = 0; i < n; ++i) row[i] = uint32_t(10 + i);
  return row;
}

}  // namespace

TEST(MatchFace, EveryFaceOfVtksOwnCellIsFoundOnceInAnyNodeOrder) {
  // VTK's cell of the same type is the independent witness: its faces (corner positions; the
  // host numbers its solids' corners as VTK does, but for a Penta15's two triangles, which trade
  // places and so still name faces) must each match one host face, reversed or not, and no two
  // the same one.
  const std::pair<SolidTopology, int> cases[] = {
      {SolidTopology::kTetra4, VTK_TETRA},     {SolidTopology::kTetra10, VTK_QUADRATIC_TETRA},
      {SolidTopology::kPenta6, VTK_WEDGE},     {SolidTopology::kPenta15, VTK_QUADRATIC_WEDGE},
      {SolidTopology::kHexa8, VTK_HEXAHEDRON}, {SolidTopology::kHexa20, VTK_QUADRATIC_HEXAHEDRON}};
  for (const auto& [t, type] : cases) {
    const auto element = row_of(nodes_per_element(t));
    vtkSmartPointer<vtkCell> cell;
    cell.TakeReference(vtkGenericCell::InstantiateCell(type));
    for (vtkIdType k = 0; k < cell->GetNumberOfPoints(); ++k) cell->GetPointIds()->SetId(k, k);
    ASSERT_EQ(cell->GetNumberOfFaces(), face_count(t));
    std::set<int> matched;
    for (int f = 0; f < cell->GetNumberOfFaces(); ++f) {
      const int n = cell->GetFace(f)->GetNumberOfEdges();  // its corners
      uint32_t polygon[4];
      for (int k = 0; k < n; ++k) polygon[k] = element[cell->GetFace(f)->GetPointId(n - 1 - k)];
      const int face = match_face(polygon, n, element.data(), t);
      EXPECT_GE(face, 0) << "VTK face " << f;
      matched.insert(face);
    }
    EXPECT_EQ(matched.size(), std::size_t(face_count(t)));
  }
}

TEST(MatchFace, MidSideNodesAndWrongSizesDoNotMatch) {
  const auto tetra10 = row_of(10);
  const uint32_t with_mid_node[3] = {10, 11, 14};  // 14 is the first mid-side node
  EXPECT_EQ(match_face(with_mid_node, 3, tetra10.data(), SolidTopology::kTetra10), -1);
  const auto hexa = row_of(8);
  const uint32_t triangle[3] = {10, 11, 12};
  EXPECT_EQ(match_face(triangle, 3, hexa.data(), SolidTopology::kHexa8), -1);
  EXPECT_EQ(match_face(triangle, 3, hexa.data(), SolidTopology::kNone), -1);
}

TEST(RotateFaceRow, OnlyTetra4FacesAboveZeroAndHexaFaceFive) {
  uint32_t tri[3] = {1, 2, 3};
  EXPECT_FALSE(rotate_face_row(tri, SolidTopology::kTetra4, 0));
  EXPECT_TRUE(rotate_face_row(tri, SolidTopology::kTetra4, 3));
  EXPECT_EQ(std::vector<uint32_t>(tri, tri + 3), (std::vector<uint32_t>{2, 3, 1}));
  EXPECT_FALSE(rotate_face_row(tri, SolidTopology::kTetra10, 2));
  uint32_t quad[4] = {1, 2, 3, 4};
  EXPECT_FALSE(rotate_face_row(quad, SolidTopology::kHexa20, 4));
  EXPECT_TRUE(rotate_face_row(quad, SolidTopology::kHexa20, 5));
  EXPECT_EQ(std::vector<uint32_t>(quad, quad + 4), (std::vector<uint32_t>{4, 1, 2, 3}));
}

// A Hexa8 element (ID 5) followed by a Hexa20 (ID 3): nodes 10..17 and 20..39.
HostSolidMesh two_topology_mesh() {
  HostSolidMesh mesh;
  for (uint32_t id = 10; id < 18; ++id) mesh.node_ids.push_back(id);
  for (uint32_t id = 20; id < 40; ++id) mesh.node_ids.push_back(id);
  // One element per block: its row is positions 0..7, then 8..27.
  auto row_from = [](uint32_t first, int width) -> HostSolidMesh::Block::RowReader {
    return [first, width](std::size_t, uint32_t* positions) {
      std::iota(positions, positions + width, first);
    };
  };
  mesh.blocks = {{SolidTopology::kHexa8, "Hexa8", {5}, row_from(0, 8)},
                 {SolidTopology::kHexa20, "Hexa20", {3}, row_from(8, 20)}};
  return mesh;
}

TEST(SolidPressureField, EachPolygonUsesItsOwnElementsTopology) {
  const HostSolidMesh mesh = two_topology_mesh();
  // Hexa20 face 5 = corners (3, 0, 4, 7) = 23 20 24 27; Hexa8 face 1 = 14 15 16 17.
  ConnectivityArrays rows = {FaceRows{"quad", 4, {23, 20, 24, 27, 14, 15, 16, 17}}};
  const std::vector<uint32_t> node_ids = {23, 20, 24, 27, 14, 15, 16, 17};
  const std::vector<double> pressures = {1, 2, 3, 4, 5, 6, 7, 8};
  const SolidPressureField out =
      solid_pressure_field(mesh, rows, node_ids, {3, 5}, pressures, "test", "B");
  EXPECT_EQ(out.target.positions, (std::vector<uint32_t>{1, 0}));
  EXPECT_EQ(out.target.faces, (std::vector<uint8_t>{5, 1}));
  EXPECT_EQ(rows[0].nodes, (std::vector<uint32_t>{27, 23, 20, 24, 14, 15, 16, 17}));
  EXPECT_EQ(out.field.pressures[0], (std::vector<double>{4, 1, 2, 3, 5, 6, 7, 8}));
  EXPECT_TRUE(out.rotated);
}

TEST(SolidPressureField, FacesOfOneElementGroupInPolygonOrder) {
  HostSolidMesh mesh = two_topology_mesh();
  std::vector<int> reads(mesh.blocks.size(), 0);
  for (std::size_t b = 0; b < mesh.blocks.size(); ++b) {
    mesh.blocks[b].read_row = [&reads, b, read = mesh.blocks[b].read_row](std::size_t element,
                                                                          uint32_t* positions) {
      ++reads[b];
      read(element, positions);
    };
  }
  ConnectivityArrays rows = {FaceRows{"quad", 4, {14, 15, 16, 17, 20, 21, 22, 23, 10, 13, 12, 11}}};
  std::vector<uint32_t> node_ids;
  for (uint32_t id = 10; id < 24; ++id) node_ids.push_back(id);
  const std::vector<double> pressures(node_ids.size(), 1.0);
  const SolidPressureField out =
      solid_pressure_field(mesh, rows, node_ids, {5, 3, 5}, pressures, "test", "B");
  EXPECT_EQ(out.target.positions, (std::vector<uint32_t>{0, 1}));
  EXPECT_EQ(out.target.offsets, (std::vector<uint32_t>{0, 2, 3}));
  EXPECT_EQ(out.target.faces, (std::vector<uint8_t>{1, 0, 0}));
  EXPECT_FALSE(out.rotated);
  // Element 5 carries two of the polygons; its host row is read once.
  EXPECT_EQ(reads, (std::vector<int>{1, 1}));
}
