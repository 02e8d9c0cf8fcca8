#include <gtest/gtest.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkFloatArray.h>
#include <vtkIdList.h>
#include <vtkIdTypeArray.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <vector>

#include "common/original_order.h"

namespace {

vtkSmartPointer<vtkIdTypeArray> ids(const char* name, std::vector<vtkIdType> values) {
  auto array = vtkSmartPointer<vtkIdTypeArray>::New();
  array->SetName(name);
  for (vtkIdType v : values) array->InsertNextValue(v);
  return array;
}

std::vector<vtkIdType> cell_points(vtkPolyData* poly, vtkIdType cell) {
  vtkNew<vtkIdList> points;
  poly->GetCellPoints(cell, points);
  return std::vector<vtkIdType>(points->GetPointer(0),
                                points->GetPointer(0) + points->GetNumberOfIds());
}

// A filter's output as it may come out of a threaded run: points 0..3 are the input's 3, 0, 2, 1;
// the vertex and the two faces of input cell 5 (with input cell 2's face between them) out of
// order.
TEST(OrderByOriginalIds, PointsAndCellsOfEachKindFollowTheInput) {
  vtkNew<vtkPolyData> poly;
  vtkNew<vtkPoints> points;
  for (double x : {3.0, 0.0, 2.0, 1.0}) points->InsertNextPoint(x, 0, 0);
  poly->SetPoints(points);
  vtkNew<vtkCellArray> verts, polys;
  const vtkIdType vertex[] = {2};
  verts->InsertNextCell(1, vertex);
  const vtkIdType faces[][3] = {{0, 2, 3}, {1, 3, 2}, {1, 2, 0}};
  for (const auto& face : faces) polys->InsertNextCell(3, face);
  poly->SetVerts(verts);
  poly->SetPolys(polys);
  poly->GetPointData()->AddArray(ids("point", {3, 0, 2, 1}));
  poly->GetCellData()->AddArray(ids("cell", {7, 5, 2, 5}));
  vtkNew<vtkFloatArray> value;  // follows the cells
  value->SetName("value");
  for (float v : {70.f, 51.f, 20.f, 52.f}) value->InsertNextValue(v);
  poly->GetCellData()->AddArray(value);

  kelm::order_by_original_ids(poly, "point", "cell");

  for (vtkIdType p = 0; p < 4; ++p) EXPECT_EQ(poly->GetPoint(p)[0], double(p));
  EXPECT_EQ(poly->GetPointData()->GetArray("point"), nullptr);
  EXPECT_EQ(poly->GetCellData()->GetArray("cell"), nullptr);
  ASSERT_EQ(poly->GetNumberOfVerts(), 1);
  EXPECT_EQ(cell_points(poly, 0), (std::vector<vtkIdType>{2}));
  // Polygons: input cell 2's face, then input cell 5's two faces by their sorted input points,
  // {0, 2, 3} before {1, 2, 3}; each polygon keeps its own point order.
  EXPECT_EQ(cell_points(poly, 1), (std::vector<vtkIdType>{0, 1, 2}));
  EXPECT_EQ(cell_points(poly, 2), (std::vector<vtkIdType>{0, 2, 3}));
  EXPECT_EQ(cell_points(poly, 3), (std::vector<vtkIdType>{3, 2, 1}));
  auto* values = vtkFloatArray::SafeDownCast(poly->GetCellData()->GetArray("value"));
  const float expected[] = {70.f, 20.f, 52.f, 51.f};
  for (vtkIdType c = 0; c < 4; ++c) EXPECT_EQ(values->GetValue(c), expected[c]);
}

}  // namespace
