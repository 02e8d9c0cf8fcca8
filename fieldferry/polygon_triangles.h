// Polygons as triangles that cover each polygon and nothing else: the areas, centres and samples of
// faces, and the closest points on them, are taken over these. A fan from the first corner covers
// a convex polygon (nearly every face: triangles, quadrilaterals), but one bent in at a corner the
// fan does not start from (the faces of polyhedral meshes' patches, an arrowhead quadrilateral)
// gets a triangle outside it, counted as area and sampled where the face is not.
#pragma once

#include <vtkType.h>

#include <array>
#include <cstddef>
#include <functional>
#include <vector>

namespace fieldferry_core {

// Whether the polygon of n corners (xyz: 3 per corner) turns one way at every corner in its
// best-fit plane, so that the fan from its first corner covers it. Corners on a straight edge
// count as turning either way.
bool convex_polygon(const double* xyz, vtkIdType n);

// Appends the n - 2 triangles of the polygon (xyz: 3 per corner) to `out` as corner positions
// (0 to n - 1), three per triangle, each turning as the polygon does: the fan from the first
// corner for a convex polygon, else ears clipped in its best-fit plane (an arrowhead
// quadrilateral is split along the diagonal through its bent-in corner).
void triangulate_polygon(const double* xyz, vtkIdType n, std::vector<int>& out);

double triangle_area(const double a[3], const double b[3], const double c[3]);

// The area of the polygon (xyz: 3 per corner): the sum of its triangles' areas.
double polygon_area(const double* xyz, vtkIdType n);

// The triangles of many polygons, kept for the few that are not convex; the others are fans.
class PolygonTriangles {
 public:
  // Polygon `polygon` of n corners: kept when it is not convex. Polygons come in increasing ids.
  void add(vtkIdType polygon, const double* xyz, vtkIdType n);
  // Polygons 0 to count - 1, whose corners corners_of(p, xyz) writes into xyz (3 per corner, room
  // for `most` corners) and counts: checked on VTK's threads, the bent ones kept.
  void add_all(vtkIdType count, vtkIdType most,
               const std::function<vtkIdType(vtkIdType, double*)>& corners_of);

  // The corner positions of triangle t (0 to n - 3) of polygon `polygon`.
  std::array<int, 3> triangle(vtkIdType polygon, vtkIdType t) const {
    if (!bent_.empty()) {
      const std::size_t k = bent_index(polygon);
      if (k < bent_.size()) {
        const int* c = &corners_[first_[k] + 3 * static_cast<std::size_t>(t)];
        return {c[0], c[1], c[2]};
      }
    }
    return {0, static_cast<int>(t) + 1, static_cast<int>(t) + 2};
  }

 private:
  // The position of `polygon` among the bent ones; bent_.size() when it is convex.
  std::size_t bent_index(vtkIdType polygon) const;
  void add_bent(vtkIdType polygon, const double* xyz, vtkIdType n);

  std::vector<vtkIdType> bent_;     // the polygons that are not convex, ascending
  std::vector<std::size_t> first_;  // each one's first entry in corners_
  std::vector<int> corners_;
};

}  // namespace fieldferry_core
