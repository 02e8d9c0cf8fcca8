// The grid of "Coarse to fine" and the corners its resampling reads.
#include <gtest/gtest.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <numeric>

#include "coarse_grid.h"

namespace {

using fieldferry_core::coarse_grid;
using fieldferry_core::corners_read_by;
using fieldferry_core::point_validity;

vtkSmartPointer<vtkPolyData> points(std::initializer_list<std::array<double, 3>> xs) {
  auto data = vtkSmartPointer<vtkPolyData>::New();
  auto pts = vtkSmartPointer<vtkPoints>::New();
  pts->SetDataTypeToDouble();
  for (const auto& x : xs) pts->InsertNextPoint(x.data());
  data->SetPoints(pts);
  return data;
}

size_t count(const std::vector<std::uint8_t>& flags) {
  return static_cast<size_t>(std::accumulate(flags.begin(), flags.end(), 0));
}

TEST(CoarseGrid, SpansTheBoundsWithAHundredCellsPerAxis) {
  const double bounds[6] = {1, 3, -1, 0, 0, 4};
  auto grid = coarse_grid(bounds, 0.5);
  EXPECT_EQ(grid->GetNumberOfPoints(), 101 * 101 * 101);
  EXPECT_DOUBLE_EQ(grid->GetSpacing()[0], 0.02);
  EXPECT_DOUBLE_EQ(grid->GetSpacing()[1], 0.01);
  EXPECT_DOUBLE_EQ(grid->GetOrigin()[2], 0.0);
  EXPECT_DOUBLE_EQ(grid->GetBounds()[5], 4.0);
}

TEST(CoarseGrid, FlatAxisTakesTheLargestExtentsSpacing) {
  const double plate[6] = {0, 2, 0, 1, 5, 5};
  EXPECT_DOUBLE_EQ(coarse_grid(plate, 0.5)->GetSpacing()[2], 0.02);
  const double point[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_DOUBLE_EQ(coarse_grid(point, 0.5)->GetSpacing()[0], 0.5);
}

TEST(CornersReadBy, InteriorPointReadsItsCellsEightCorners) {
  const double bounds[6] = {0, 1, 0, 1, 0, 1};
  auto grid = coarse_grid(bounds, 1);
  auto read = corners_read_by(grid, points({{0.505, 0.215, 0.995}}));
  EXPECT_EQ(count(read), 8u);
  EXPECT_TRUE(read[50 + 101 * (21 + 101 * 99)]);
  EXPECT_TRUE(read[51 + 101 * (22 + 101 * 100)]);
}

TEST(CornersReadBy, PointOnGridPlanesReadsOnlyTheCornersThatWeigh) {
  const double bounds[6] = {0, 1, 0, 1, 0, 1};
  auto grid = coarse_grid(bounds, 1);
  // On the planes x = 0 and y = 0.5: only z has two corners of non-zero weight.
  auto read = corners_read_by(grid, points({{0.0, 0.5, 0.333}}));
  EXPECT_EQ(count(read), 2u);
}

TEST(PointValidity, AMissingCornerOfNonZeroWeightInvalidatesThePoint) {
  const double bounds[6] = {0, 1, 0, 1, 0, 1};
  auto grid = coarse_grid(bounds, 1);
  auto target = points({{0.505, 0.505, 0.505}, {0.0, 0.0, 0.0}});
  auto valid_corner = corners_read_by(grid, target);
  EXPECT_EQ(point_validity(grid, target, valid_corner), (std::vector<std::uint8_t>{1, 1}));
  valid_corner[51 + 101 * (51 + 101 * 51)] = 0;  // far corner of the first point's cell
  EXPECT_EQ(point_validity(grid, target, valid_corner), (std::vector<std::uint8_t>{0, 1}));
  valid_corner[1] = 0;  // weight 0 at the origin point
  EXPECT_EQ(point_validity(grid, target, valid_corner), (std::vector<std::uint8_t>{0, 1}));
}

}  // namespace
