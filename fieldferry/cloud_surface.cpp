#include "cloud_surface.h"

#include <vtkMath.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace fieldferry_core {

double CloudSurfaceDistance::operator()(const double x[3]) const {
  vtkIdType near[kCloudSurfaceNeighbours];
  const int n = points_.nearest_k(x, kCloudSurfaceNeighbours, near);
  if (n == 0) return std::numeric_limits<double>::infinity();
  double p[kCloudSurfaceNeighbours][3], centre[3] = {0, 0, 0};
  for (int k = 0; k < n; ++k) {
    cloud_->GetPoint(near[k], p[k]);
    for (int a = 0; a < 3; ++a) centre[a] += p[k][a] / double(n);
  }
  const double nearest = std::sqrt(vtkMath::Distance2BetweenPoints(x, p[0]));
  if (n < 3) return nearest;
  double cov[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int k = 0; k < n; ++k) {
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) cov[a][b] += (p[k][a] - centre[a]) * (p[k][b] - centre[b]);
    }
  }
  double values[3], vectors[3][3];
  double* rows[3] = {cov[0], cov[1], cov[2]};
  double* vrows[3] = {vectors[0], vectors[1], vectors[2]};
  vtkMath::Jacobi(rows, values, vrows);  // values descending, vectors in columns
  // A plane: spread across it well below the spread along both of its directions.
  if (!(values[1] > 0) || values[2] > 0.01 * values[1] || values[1] < 1e-4 * values[0]) {
    return nearest;
  }
  const double normal[3] = {vectors[0][2], vectors[1][2], vectors[2][2]};
  double offset[3], reach = 0;
  for (int a = 0; a < 3; ++a) offset[a] = x[a] - centre[a];
  const double across = vtkMath::Dot(offset, normal);
  auto along = [&](const double* v) {
    const double h = vtkMath::Dot(v, normal);
    double in_plane[3] = {v[0] - h * normal[0], v[1] - h * normal[1], v[2] - h * normal[2]};
    return vtkMath::Norm(in_plane);
  };
  for (int k = 0; k < n; ++k) {
    double d[3] = {p[k][0] - centre[0], p[k][1] - centre[1], p[k][2] - centre[2]};
    reach = std::max(reach, along(d));
  }
  const double beyond = std::max(0.0, along(offset) - reach);
  return std::min(nearest, std::hypot(across, beyond));
}

}  // namespace fieldferry_core
