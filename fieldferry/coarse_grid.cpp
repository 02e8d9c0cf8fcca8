#include "coarse_grid.h"

#include <algorithm>
#include <cmath>

namespace fieldferry_core {

namespace {

constexpr int kCells = kGridPoints - 1;  // per axis
// Trilinear weights up to this size are left out: a grid corner weighing no more than that at
// every target point changes the resampled values by less than the round-off of a float field,
// whichever of the cells meeting there the cell search picks. A body face lying on a grid plane
// thus reads one layer of corners instead of two.
constexpr double kNegligibleWeight = 1e-9;

int clamp_cell(double c) {
  if (!(c > 0)) return 0;  // also catches NaN
  if (c >= kCells - 1) return kCells - 1;
  return static_cast<int>(c);
}

// Continuous grid index of `x` along each axis.
void grid_coordinates(vtkImageData* grid, const double x[3], double t[3]) {
  const double* origin = grid->GetOrigin();
  const double* spacing = grid->GetSpacing();
  for (int a = 0; a < 3; ++a) t[a] = (x[a] - origin[a]) / spacing[a];
}

vtkIdType grid_id(int i, int j, int k) {
  return static_cast<vtkIdType>(i) +
         kGridPoints * (static_cast<vtkIdType>(j) + kGridPoints * static_cast<vtkIdType>(k));
}

// The first and last corner index along one axis whose weight at continuous index t counts.
void weighing_corners(double t, int& lo, int& hi) {
  const int cell = clamp_cell(std::floor(t));
  const double fraction = t - cell;
  lo = fraction < 1.0 - kNegligibleWeight ? cell : cell + 1;
  hi = fraction > kNegligibleWeight ? cell + 1 : cell;
}

}  // namespace

vtkSmartPointer<vtkImageData> coarse_grid(const double bounds[6], double fallback_spacing) {
  double extent[3], largest = 0.0;
  for (int a = 0; a < 3; ++a) {
    extent[a] = bounds[2 * a + 1] - bounds[2 * a];
    largest = std::max(largest, extent[a]);
  }
  double spacing[3];
  for (int a = 0; a < 3; ++a) {
    spacing[a] = extent[a] / (kGridPoints - 1);
    if (!(spacing[a] > 0))
      spacing[a] = largest > 0 ? largest / (kGridPoints - 1) : fallback_spacing;
  }
  auto grid = vtkSmartPointer<vtkImageData>::New();
  grid->SetDimensions(kGridPoints, kGridPoints, kGridPoints);
  grid->SetSpacing(spacing);
  grid->SetOrigin(bounds[0], bounds[2], bounds[4]);
  return grid;
}

std::vector<std::uint8_t> corners_read_by(vtkImageData* grid, vtkDataSet* target) {
  std::vector<std::uint8_t> read(static_cast<size_t>(kGridPoints) * kGridPoints * kGridPoints, 0);
  double x[3], t[3];
  for (vtkIdType p = 0, n = target->GetNumberOfPoints(); p < n; ++p) {
    target->GetPoint(p, x);
    grid_coordinates(grid, x, t);
    int lo[3], hi[3];
    for (int a = 0; a < 3; ++a) weighing_corners(t[a], lo[a], hi[a]);
    for (int k = lo[2]; k <= hi[2]; ++k) {
      for (int j = lo[1]; j <= hi[1]; ++j) {
        for (int i = lo[0]; i <= hi[0]; ++i) read[grid_id(i, j, k)] = 1;
      }
    }
  }
  return read;
}

std::vector<std::uint8_t> point_validity(vtkImageData* grid, vtkDataSet* target,
                                         const std::vector<std::uint8_t>& valid_corner) {
  const vtkIdType n = target->GetNumberOfPoints();
  std::vector<std::uint8_t> valid(static_cast<size_t>(n), 1);
  double x[3], t[3];
  for (vtkIdType p = 0; p < n; ++p) {
    target->GetPoint(p, x);
    grid_coordinates(grid, x, t);
    int lo[3], hi[3];
    for (int a = 0; a < 3; ++a) weighing_corners(t[a], lo[a], hi[a]);
    for (int k = lo[2]; k <= hi[2] && valid[p]; ++k) {
      for (int j = lo[1]; j <= hi[1] && valid[p]; ++j) {
        for (int i = lo[0]; i <= hi[0]; ++i) {
          if (!valid_corner[grid_id(i, j, k)]) {
            valid[p] = 0;
            break;
          }
        }
      }
    }
  }
  return valid;
}

}  // namespace fieldferry_core
