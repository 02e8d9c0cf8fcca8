// The closest-cell weights of "Surface projection" and the degenerate neighbourhoods of
// "Linear fit", on sources small enough to know every value by hand.
#include <gtest/gtest.h>
#include <vtkDoubleArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>

#include <array>
#include <vector>

#include "linear_fit.h"
#include "surface_projection.h"

namespace {

using Point = std::array<double, 3>;

vtkSmartPointer<vtkPolyData> dataset(const std::vector<Point>& xs, const std::vector<double>& f,
                                     const std::vector<std::array<vtkIdType, 3>>& triangles = {}) {
  auto data = vtkSmartPointer<vtkPolyData>::New();
  auto pts = vtkSmartPointer<vtkPoints>::New();
  pts->SetDataTypeToDouble();
  for (const auto& x : xs) pts->InsertNextPoint(x.data());
  data->SetPoints(pts);
  if (!f.empty()) {
    auto values = vtkSmartPointer<vtkDoubleArray>::New();
    values->SetName("T");
    for (double v : f) values->InsertNextValue(v);
    data->GetPointData()->AddArray(values);
  }
  if (!triangles.empty()) {
    auto cells = vtkSmartPointer<vtkCellArray>::New();
    for (const auto& t : triangles) cells->InsertNextCell(3, t.data());
    data->SetPolys(cells);
  }
  return data;
}

std::vector<double> values(vtkDataSet* out) {
  auto* array = out->GetPointData()->GetArray("T");
  std::vector<double> v;
  for (vtkIdType i = 0; i < array->GetNumberOfTuples(); ++i) v.push_back(array->GetComponent(i, 0));
  return v;
}

// One triangle with T = x + 10 y: values 0, 1, 10 at its corners.
vtkSmartPointer<vtkPolyData> triangle() {
  return dataset({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 1, 10}, {{0, 1, 2}});
}

TEST(SurfaceProjection, PointAboveTheCellTakesTheValueAtItsFoot) {
  auto out = fieldferry_core::interpolate_scalar_field_using_surface_projection(
      "T", triangle(), dataset({{0.25, 0.25, 0.3}, {0.5, 0.1, -2.0}}, {}));
  EXPECT_NEAR(values(out)[0], 2.75, 1e-12);
  EXPECT_NEAR(values(out)[1], 1.5, 1e-12);
}

TEST(SurfaceProjection, PointBeyondAnEdgeTakesTheEdgeValueNotAnExtrapolation) {
  // (2, -1) lies outside: its closest point on the triangle is the corner (1, 0); (0.5, -3) has
  // its closest point at (0.5, 0) on the lower edge. The plane's own value would be -8 and -29.5.
  auto out = fieldferry_core::interpolate_scalar_field_using_surface_projection(
      "T", triangle(), dataset({{2, -1, 0}, {0.5, -3, 0.5}}, {}));
  EXPECT_NEAR(values(out)[0], 1.0, 1e-12);
  EXPECT_NEAR(values(out)[1], 0.5, 1e-12);
  auto* mask =
      vtkUnsignedCharArray::SafeDownCast(out->GetPointData()->GetArray("vtkValidPointMask"));
  ASSERT_NE(mask, nullptr);
  EXPECT_EQ(mask->GetValue(0), 1);
}

TEST(SurfaceProjection, FarLargeCellIsFoundPastNearerVerticesOfSmallOnes) {
  // A small triangle whose vertices are nearer to the target than any vertex of a large one, while
  // the large triangle's interior passes right under the target.
  auto source = dataset({{0, 0, 0},
                         {0.1, 0, 0},
                         {0, 0.1, 0},  // small, T = 5
                         {-10, -10, 1},
                         {10, -10, 1},
                         {0, 20, 1}},  // large, T = 7
                        {5, 5, 5, 7, 7, 7}, {{0, 1, 2}, {3, 4, 5}});
  auto out = fieldferry_core::interpolate_scalar_field_using_surface_projection(
      "T", source, dataset({{0.05, 0.05, 0.9}}, {}));
  EXPECT_NEAR(values(out)[0], 7.0, 1e-12);
}

TEST(SurfaceProjection, PointOnAVertexWithoutCellsReachesTheCellsElsewhere) {
  // Every cell is a single vertex (no extent), and the target sits on the one point that belongs
  // to none: the search must widen from a radius of 0.
  auto source = dataset({{0, 0, 0}, {1, 0, 0}, {0, 2, 0}}, {3, 4, 5});
  auto verts = vtkSmartPointer<vtkCellArray>::New();
  for (vtkIdType p : {1, 2}) verts->InsertNextCell(1, &p);
  source->SetVerts(verts);
  auto out = fieldferry_core::interpolate_scalar_field_using_surface_projection(
      "T", source, dataset({{0, 0, 0}}, {}));
  EXPECT_EQ(values(out), (std::vector<double>{4}));
}

TEST(LinearFit, CoplanarNeighboursGiveNoSlopeAcrossTheirPlane) {
  std::vector<Point> xs;
  std::vector<double> f;
  for (int i = 0; i < 5; ++i) {
    for (int j = 0; j < 5; ++j) {
      xs.push_back({0.25 * i, 0.25 * j, 1.0});
      f.push_back(2 * xs.back()[0] - xs.back()[1] + 4);
    }
  }
  auto out = fieldferry_core::interpolate_scalar_field_using_linear_fit(
      "T", dataset(xs, f), dataset({{0.4, 0.6, 1.0}, {0.4, 0.6, 3.0}}, {}));
  EXPECT_NEAR(values(out)[0], 2 * 0.4 - 0.6 + 4, 1e-9);
  EXPECT_NEAR(values(out)[1], 2 * 0.4 - 0.6 + 4, 1e-9);
}

TEST(LinearFit, SingleSourcePointGivesItsValue) {
  auto out = fieldferry_core::interpolate_scalar_field_using_linear_fit(
      "T", dataset({{1, 2, 3}}, {42}), dataset({{0, 0, 0}, {5, 5, 5}}, {}));
  EXPECT_EQ(values(out), (std::vector<double>{42, 42}));
}

}  // namespace
