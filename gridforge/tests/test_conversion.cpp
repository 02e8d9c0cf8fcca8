#include <gtest/gtest.h>
#include <vtkCell.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkNew.h>

#include <numeric>
#include <stdexcept>
#include <vector>

#include "common/errors.h"
#include "common/topology_table.h"
#include "node_order.h"
#include "tessellation.h"

namespace {

using kelm::kTopologies;
using kelm::topology_index;

const kelm::Topology& row(const char* name) { return kTopologies[topology_index(name)]; }

TEST(NodeOrder, Hexa20BlockIsPermutedElementByElement) {
  std::vector<long long> block(40);
  std::iota(block.begin(), block.end(), 0);
  gridforge_core::to_vtk_node_order(row("Hexa20"), block.data(), 2);
  const std::vector<long long> first = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,
                                        10, 11, 16, 17, 18, 19, 12, 13, 14, 15};
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(block[k], first[k]);
    EXPECT_EQ(block[20 + k], 20 + first[k]);
  }
}

TEST(NodeOrder, ByteVersionAgreesWithTypedVersionAndLeavesLinearBlocksAlone) {
  std::vector<int> in(15), typed(15), bytes(15);
  std::iota(in.begin(), in.end(), 100);
  typed = in;
  gridforge_core::to_vtk_node_order(row("Penta15"), typed.data(), 1);
  gridforge_core::to_vtk_node_order_bytes(
      row("Penta15"), reinterpret_cast<unsigned char*>(in.data()),
      reinterpret_cast<unsigned char*>(bytes.data()), 1, sizeof(int));
  EXPECT_EQ(typed, bytes);
  EXPECT_EQ(typed[0], 103);
  std::vector<int> hexa8 = {0, 1, 2, 3, 4, 5, 6, 7};
  gridforge_core::to_vtk_node_order(row("Hexa8"), hexa8.data(), 1);
  EXPECT_EQ(hexa8, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(TopologyTable, EveryRowAgreesWithTheCellVtkMakesOfItsType) {
  // VTK's own cell of each type is the independent witness: a node count the table got wrong
  // would make every grid of that topology read past its cells.
  for (const auto& t : kTopologies) {
    vtkSmartPointer<vtkCell> cell;
    cell.TakeReference(vtkGenericCell::InstantiateCell(t.vtk_cell_type));
    ASSERT_TRUE(cell) << t.name;
    EXPECT_EQ(cell->GetNumberOfPoints(), t.num_nodes) << t.name;
    if (t.faces.count) {
      EXPECT_EQ(cell->GetNumberOfFaces(), t.faces.count) << t.name;
    }
  }
}

TEST(Tessellation, OnlyPointListCellsMayComeInAnySize) {
  const std::vector<float> points(3 * 4, 0.0f);
  EXPECT_NO_THROW(gridforge_core::ugrid_from_arrays(points, {VTK_POLYGON}, {4, 0, 1, 2, 3}));
  EXPECT_THROW(gridforge_core::ugrid_from_arrays(points, {VTK_POLYHEDRON}, {4, 0, 1, 2, 3}),
               kelm::value_error);
}

TEST(Tessellation, PrefixedCellsAndTypes) {
  auto cells = gridforge_core::prefixed_cells({2, 1}, {0, 1, 1, 2, 2, 3}, 2, "edges");
  EXPECT_EQ(cells.num_cells, 3u);
  EXPECT_EQ(cells.cells, (std::vector<uint32_t>{2, 0, 1, 2, 1, 2, 2, 2, 3}));
  EXPECT_THROW(gridforge_core::prefixed_cells({2}, {0, 1, 1}, 2, "edges"), kelm::value_error);
  EXPECT_EQ(gridforge_core::tessellation_cell_types(1, 2, 1),
            (std::vector<uint8_t>{VTK_VERTEX, VTK_LINE, VTK_LINE, VTK_TRIANGLE}));
}

TEST(Tessellation, GridFromArraysChecksEveryCellAgainstItsType) {
  const std::vector<float> points = {0, 0, 0, 1, 0, 0, 0, 1, 0};
  auto grid =
      gridforge_core::ugrid_from_arrays(points, {VTK_VERTEX, VTK_TRIANGLE}, {1, 2, 3, 0, 1, 2});
  EXPECT_EQ(grid->GetNumberOfCells(), 2);
  EXPECT_EQ(grid->GetCellType(1), VTK_TRIANGLE);
  EXPECT_THROW(gridforge_core::ugrid_from_arrays(points, {VTK_TRIANGLE}, {2, 0, 1}),
               kelm::value_error);
  EXPECT_THROW(gridforge_core::ugrid_from_arrays(points, {VTK_LINE}, {2, 0, 3}), kelm::value_error);
}

}  // namespace
