#include <gtest/gtest.h>
#include <vtkCellArray.h>
#include <vtkCellType.h>
#include <vtkFloatArray.h>
#include <vtkIdTypeArray.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkTable.h>
#include <vtkUnstructuredGrid.h>

#include <string>
#include <vector>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"

namespace {

using kelm::Depth;

vtkSmartPointer<vtkIdTypeArray> ids(const std::vector<vtkIdType>& values) {
  auto array = vtkSmartPointer<vtkIdTypeArray>::New();
  for (vtkIdType v : values) array->InsertNextValue(v);
  return array;
}

vtkSmartPointer<vtkCellArray> cells(const std::vector<vtkIdType>& offsets,
                                    const std::vector<vtkIdType>& connectivity) {
  auto out = vtkSmartPointer<vtkCellArray>::New();
  out->SetData(ids(offsets), ids(connectivity));
  return out;
}

vtkSmartPointer<vtkPoints> points(int count) {
  auto out = vtkSmartPointer<vtkPoints>::New();
  for (int i = 0; i < count; ++i) out->InsertNextPoint(i, i % 2, i / 4);
  return out;
}

vtkSmartPointer<vtkPolyData> surface(const std::vector<vtkIdType>& offsets,
                                     const std::vector<vtkIdType>& connectivity, int point_count) {
  auto poly = vtkSmartPointer<vtkPolyData>::New();
  poly->SetPoints(points(point_count));
  poly->SetPolys(cells(offsets, connectivity));
  return poly;
}

vtkSmartPointer<vtkUnstructuredGrid> grid(const std::vector<int>& types,
                                          const std::vector<vtkIdType>& offsets,
                                          const std::vector<vtkIdType>& connectivity,
                                          int point_count) {
  auto ug = vtkSmartPointer<vtkUnstructuredGrid>::New();
  ug->SetPoints(points(point_count));
  auto type_array = vtkSmartPointer<vtkUnsignedCharArray>::New();
  for (int t : types) type_array->InsertNextValue(static_cast<unsigned char>(t));
  ug->SetCells(type_array, cells(offsets, connectivity));
  return ug;
}

// The message of the ValueError the check raises, or "" when it passes.
std::string fault(vtkDataSet* data, Depth depth = Depth::references) {
  try {
    kelm::require_sound_dataset(data, "op", "body 'B'", depth);
  } catch (const kelm::value_error& e) {
    return e.what();
  }
  return "";
}

TEST(DatasetCheck, SoundSurfaceAndGridPass) {
  EXPECT_EQ(fault(surface({0, 3, 6}, {0, 1, 2, 2, 1, 3}, 4)), "");
  EXPECT_EQ(fault(grid({VTK_TETRA}, {0, 4}, {0, 1, 2, 3}, 4), Depth::shapes), "");
}

TEST(DatasetCheck, OffsetsPastTheConnectivityAreReportedAsSuch) {
  // The connectivity has 6 entries; the second polygon would read 99,994 entries past its end.
  EXPECT_EQ(fault(surface({0, 3, 100000}, {0, 1, 2, 2, 1, 3}, 4)),
            "op: body 'B' has a polygon array whose offsets run past its 6 connectivity entries: "
            "polygon 1 ends at offset 100000");
}

TEST(DatasetCheck, OffsetsAreCheckedBeforeThePointIndicesTheyWouldReach) {
  // Entry 7 does not exist; reading it first would report whatever lies there as a point index.
  auto ug = grid({VTK_TETRA, VTK_TETRA}, {0, 4, 8}, {0, 1, 2, 3, 0, 1, 2}, 4);
  EXPECT_NE(fault(ug).find("cell 1 ends at offset 8"), std::string::npos) << fault(ug);
}

TEST(DatasetCheck, FallingOrShiftedOffsetsAreRefused) {
  EXPECT_NE(
      fault(surface({0, 3, 2, 6}, {0, 1, 2, 2, 1, 3}, 4)).find("fall from 3 to 2 at polygon 1"),
      std::string::npos);
  EXPECT_NE(fault(surface({1, 4}, {0, 1, 2, 3}, 4)).find("offsets start at 1, not at 0"),
            std::string::npos);
}

TEST(DatasetCheck, PointIndexOutsideThePointsNamesCellAndIndex) {
  EXPECT_EQ(fault(surface({0, 3, 6}, {0, 1, 2, 2, 1, 9}, 4)),
            "op: body 'B' has polygon 1 naming point 9, outside its points 0 to 3");
  EXPECT_NE(fault(grid({VTK_TETRA}, {0, 4}, {0, 1, -2, 3}, 4)).find("cell 0 naming point -2"),
            std::string::npos);
}

TEST(DatasetCheck, ConnectivityBeyondTheLastOffsetIsNotRead) {
  // Spare entries after the last cell are never followed, whatever they hold.
  EXPECT_EQ(fault(surface({0, 3}, {0, 1, 2, 77}, 4)), "");
}

TEST(DatasetCheck, EveryCellNeedsAType) {
  auto ug = grid({VTK_TETRA}, {0, 4}, {0, 1, 2, 3}, 4);
  ug->GetCellTypesArray()->SetNumberOfValues(0);
  EXPECT_EQ(fault(ug), "op: body 'B' has 1 cells but 0 cell types");
}

TEST(DatasetCheck, ShapesAreCheckedOnlyAtThatDepth) {
  auto three_point_hexahedron = grid({VTK_HEXAHEDRON}, {0, 3}, {0, 1, 2}, 4);
  EXPECT_EQ(fault(three_point_hexahedron), "");
  EXPECT_EQ(fault(three_point_hexahedron, Depth::shapes),
            "op: body 'B' has cell 0 (VTK type 12) with 3 points; its type has 8");
  EXPECT_NE(fault(grid({200}, {0, 3}, {0, 1, 2}, 4), Depth::shapes)
                .find("cell 0 of VTK cell type 200, which VTK does not know"),
            std::string::npos);
  // Polygons come in any size.
  EXPECT_EQ(fault(grid({VTK_POLYGON}, {0, 4}, {0, 1, 3, 2}, 4), Depth::shapes), "");
}

TEST(DatasetCheck, PolyhedronWithoutFacesIsRefused) {
  auto ug = grid({VTK_TETRA}, {0, 4}, {0, 1, 2, 3}, 4);
  ug->GetCellTypesArray()->SetValue(0, VTK_POLYHEDRON);  // a polyhedron whose faces were never set
  EXPECT_NE(fault(ug, Depth::shapes).find("cell 0, a polyhedron without a sound face list"),
            std::string::npos);
}

TEST(DatasetCheck, ShortAttributeArraysAreRefusedLongerOnesPass) {
  auto poly = surface({0, 3}, {0, 1, 2}, 4);
  vtkNew<vtkFloatArray> values;
  values->SetName("T");
  values->SetNumberOfValues(6);
  poly->GetPointData()->AddArray(values);
  EXPECT_EQ(fault(poly), "");
  values->SetNumberOfValues(2);
  EXPECT_EQ(fault(poly), "op: body 'B' has a point array 'T' of 2 values for 4 points");
}

TEST(DatasetLeavesCheck, LeafIsNamedByItsBodyPathOrItsPlace) {
  vtkNew<vtkMultiBlockDataSet> model;
  model->SetBlock(0, surface({0, 3}, {0, 1, 2}, 4));
  auto broken = surface({0, 3, 100000}, {0, 1, 2, 2, 1, 3}, 4);
  model->SetBlock(1, broken);
  try {
    kelm::require_sound_leaves(model, "show");
    FAIL() << "the broken leaf passed";
  } catch (const kelm::value_error& e) {
    EXPECT_EQ(std::string(e.what()).rfind("show: leaf 2 (vtkPolyData) has a polygon array", 0), 0u)
        << e.what();
  }
  kelm::add_string_field(broken, kelm::kBodyPathArray, "Part/Body");
  EXPECT_THROW(
      {
        try {
          kelm::require_sound_leaves(model, "show");
        } catch (const kelm::value_error& e) {
          EXPECT_NE(std::string(e.what()).find("show: body 'Part/Body' has"), std::string::npos);
          throw;
        }
      },
      kelm::value_error);
}

TEST(DatasetLeavesCheck, LeafThatIsNoDatasetIsATypeError) {
  vtkNew<vtkMultiBlockDataSet> model;
  vtkNew<vtkTable> table;
  model->SetBlock(0, table);
  EXPECT_THROW(kelm::require_sound_leaves(model, "show"), kelm::type_error);
}

}  // namespace
