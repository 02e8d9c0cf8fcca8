#include "cloud_surface.h"

#include <vtkMath.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace fieldferry_core {

namespace {

using Neighbours = double[kCloudSurfaceNeighbours][3];

// The centre and principal spreads of the points p[use[0..n)]: `values` descending, `vectors`
// their directions in columns.
struct Spread {
  double centre[3] = {0, 0, 0};
  double values[3];
  double vectors[3][3];
};

Spread spread_of(const Neighbours& p, const int* use, int n) {
  Spread s;
  for (int k = 0; k < n; ++k) {
    for (int a = 0; a < 3; ++a) s.centre[a] += p[use[k]][a] / double(n);
  }
  double cov[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int k = 0; k < n; ++k) {
    for (int a = 0; a < 3; ++a) {
      for (int b = 0; b < 3; ++b) {
        cov[a][b] += (p[use[k]][a] - s.centre[a]) * (p[use[k]][b] - s.centre[b]);
      }
    }
  }
  double* rows[3] = {cov[0], cov[1], cov[2]};
  double* vrows[3] = {s.vectors[0], s.vectors[1], s.vectors[2]};
  vtkMath::Jacobi(rows, s.values, vrows);
  return s;
}

// The distance from x to the least-squares plane of the points p[use[0..n)] (use[0] the nearest
// to x), combined with how far x lies beyond them along it; nothing where they span no plane (their
// spread across it is not well below their spread along both of its directions).
std::optional<double> plane_distance(const double x[3], const Neighbours& p, const int* use,
                                     int n) {
  if (n < 3) return std::nullopt;
  const Spread s = spread_of(p, use, n);
  const double* values = s.values;
  const double* centre = s.centre;
  if (!(values[1] > 0) || values[2] > 0.01 * values[1] || values[1] < 1e-4 * values[0]) {
    return std::nullopt;
  }
  const double normal[3] = {s.vectors[0][2], s.vectors[1][2], s.vectors[2][2]};
  auto along = [&](const double* v) {
    const double h = vtkMath::Dot(v, normal);
    double in_plane[3] = {v[0] - h * normal[0], v[1] - h * normal[1], v[2] - h * normal[2]};
    return vtkMath::Norm(in_plane);
  };
  double offset[3], reach = 0;
  for (int a = 0; a < 3; ++a) offset[a] = x[a] - centre[a];
  for (int k = 0; k < n; ++k) {
    double d[3] = {p[use[k]][0] - centre[0], p[use[k]][1] - centre[1], p[use[k]][2] - centre[2]};
    reach = std::max(reach, along(d));
  }
  // A cloud of face centres samples faces that reach about half a spacing past the outermost of
  // them: the wall's own rim is not beside it.
  double spacing = std::numeric_limits<double>::infinity();
  for (int k = 1; k < n; ++k) {
    spacing = std::min(spacing, std::sqrt(vtkMath::Distance2BetweenPoints(p[use[0]], p[use[k]])));
  }
  const double beyond = std::max(0.0, along(offset) - reach - 0.5 * spacing);
  return std::hypot(vtkMath::Dot(offset, normal), beyond);
}

// Whether the points p[use[0..n)] lie in a plane or along a line: their least spread well below
// their largest.
bool lies_flat(const Neighbours& p, const int* use, int n) {
  const Spread s = spread_of(p, use, n);
  return s.values[2] <= 0.01 * s.values[0];
}

// Near an edge or a corner of the walls the neighbours sample two or more planes and span none.
// Each plane through the nearest point p[0] and two others that holds at least half of them
// (within a fiftieth of the farthest neighbour's distance: face centres on a flat wall lie on
// it, those on a wall meeting it a good part of a spacing off it) is a wall, when the others lie
// flat too (on the wall meeting it); x's distance is that to the nearest wall, measured over the
// points it holds. Fewer than half, or others spread every way, are no walls but points of a volume
// that happen to lie in a slab.
std::optional<double> nearest_wall_distance(const double x[3], const Neighbours& p, int n) {
  double far = 0;
  for (int k = 1; k < n; ++k) far = std::max(far, vtkMath::Distance2BetweenPoints(p[0], p[k]));
  const double slack = 0.02 * std::sqrt(far);
  std::optional<double> best;
  unsigned seen[kCloudSurfaceNeighbours * kCloudSurfaceNeighbours];  // point sets measured, as bits
  int measured = 0;
  for (int j = 1; j < n; ++j) {
    for (int k = j + 1; k < n; ++k) {
      double u[3], v[3], normal[3];
      vtkMath::Subtract(p[j], p[0], u);
      vtkMath::Subtract(p[k], p[0], v);
      vtkMath::Cross(u, v, normal);
      // Three points nearly on a line span no plane worth trusting.
      if (!(vtkMath::Norm(normal) > 0.1 * vtkMath::Norm(u) * vtkMath::Norm(v))) continue;
      vtkMath::Normalize(normal);
      int on[kCloudSurfaceNeighbours], off[kCloudSurfaceNeighbours], count = 0, others = 0;
      unsigned mask = 0;
      for (int i = 0; i < n; ++i) {
        double d[3];
        vtkMath::Subtract(p[i], p[0], d);
        if (std::abs(vtkMath::Dot(d, normal)) > slack) {
          off[others++] = i;
          continue;
        }
        on[count++] = i;
        mask |= 1u << i;
      }
      if (2 * count < n || std::find(seen, seen + measured, mask) != seen + measured) continue;
      seen[measured++] = mask;
      if (others >= 3 && !lies_flat(p, off, others)) continue;
      const std::optional<double> to_wall = plane_distance(x, p, on, count);
      if (to_wall && (!best || *to_wall < *best)) best = to_wall;
    }
  }
  return best;
}

}  // namespace

double CloudSurfaceDistance::operator()(const double x[3]) const {
  vtkIdType near[kCloudSurfaceNeighbours];
  const int n = points_.nearest_k(x, kCloudSurfaceNeighbours, near);
  if (n == 0) return std::numeric_limits<double>::infinity();
  Neighbours p;
  int use[kCloudSurfaceNeighbours];
  for (int k = 0; k < n; ++k) {
    cloud_->GetPoint(near[k], p[k]);
    use[k] = k;
  }
  const double nearest = std::sqrt(vtkMath::Distance2BetweenPoints(x, p[0]));
  std::optional<double> to_plane = plane_distance(x, p, use, n);
  if (!to_plane && n > 3) to_plane = nearest_wall_distance(x, p, n);
  return to_plane ? std::min(nearest, *to_plane) : nearest;
}

}  // namespace fieldferry_core
