// A source's cells as the closest-point searches read them: coordinates, the points and type of
// each cell and, when asked for, the cells of each point. The searches are bound by memory reads,
// so coordinates and cells are read in place where the source stores them that way (double
// coordinates, 64-bit cell arrays) and copied once otherwise.
#pragma once

#include <vtkCellType.h>
#include <vtkDataSet.h>
#include <vtkMath.h>

#include <vector>

namespace fieldferry_core {

// Bit d set where `data` has a cell of dimension d: kVolumeCells for cells that enclose a volume
// (a point inside one is on the source). A vtkPolyData holds none, and its cells are not read.
inline constexpr unsigned kVolumeCells = 1u << 3;
unsigned cell_dimensions(vtkDataSet* data);

class SourceCells {
 public:
  explicit SourceCells(vtkDataSet* source);
  SourceCells(const SourceCells&) = delete;
  SourceCells& operator=(const SourceCells&) = delete;

  vtkIdType cells() const { return cells_; }
  const double* point(vtkIdType p) const { return &xyz_[3 * p]; }
  vtkIdType size(vtkIdType c) const { return triangles_ ? 3 : offsets_[c + 1] - offsets_[c]; }
  const vtkIdType* points(vtkIdType c) const {
    return &connectivity_[triangles_ ? 3 * c : offsets_[c]];
  }
  // Whether every cell is a triangle; their points are then found without reading the offsets.
  bool triangles() const { return triangles_; }
  // A polygon list read in place has no types: 3 points make a triangle, 4 a quadrilateral.
  int type(vtkIdType c) const {
    if (types_) return types_[c];
    const vtkIdType n = size(c);
    return n == 3 ? VTK_TRIANGLE : n == 4 ? VTK_QUAD : VTK_POLYGON;
  }

  // Builds the cells of each point (once).
  void link_points();
  // The cells of point p, after link_points().
  const vtkIdType* cells_of(vtkIdType p) const { return &point_cells_[point_offsets_[p]]; }
  vtkIdType cell_count_of(vtkIdType p) const { return point_offsets_[p + 1] - point_offsets_[p]; }

 private:
  vtkIdType points_ = 0;
  vtkIdType cells_ = 0;
  const double* xyz_ = nullptr;
  const vtkIdType* offsets_ = nullptr;
  const vtkIdType* connectivity_ = nullptr;
  const unsigned char* types_ = nullptr;
  bool triangles_ = false;
  std::vector<double> xyz_copy_;
  std::vector<vtkIdType> offsets_copy_, connectivity_copy_;
  std::vector<unsigned char> types_copy_;
  std::vector<vtkIdType> point_offsets_, point_cells_;
};

// Whether the triangle of edges ab and ac has an area, to the precision its closest point is
// computed with; the box of a triangle and its closest point must agree on it.
inline bool spans_a_plane(const double ab[3], const double ac[3]) {
  double n[3];
  vtkMath::Cross(ab, ac, n);
  return vtkMath::Dot(n, n) > 1e-24 * (vtkMath::Dot(ab, ab) * vtkMath::Dot(ac, ac));
}

// The closest point of triangle abc to p and its barycentric weights, by the triangle's Voronoi
// regions (vertex, edge, face): a weight is exactly 0 when the closest point lies on the edge or
// at the vertex opposite it. False for a triangle without area, which has no such regions (the
// general cell code handles it, and skips it).
inline bool closest_on_triangle(const double p[3], const double a[3], const double b[3],
                                const double c[3], double closest[3], double w[3]) {
  double ab[3], ac[3], ap[3];
  for (int k = 0; k < 3; ++k) {
    ab[k] = b[k] - a[k];
    ac[k] = c[k] - a[k];
    ap[k] = p[k] - a[k];
  }
  if (!spans_a_plane(ab, ac)) return false;
  auto set = [&](double u, double v, double t) {
    w[0] = u;
    w[1] = v;
    w[2] = t;
    for (int k = 0; k < 3; ++k) closest[k] = u * a[k] + v * b[k] + t * c[k];
    return true;
  };
  const double d1 = vtkMath::Dot(ab, ap), d2 = vtkMath::Dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return set(1, 0, 0);
  double bp[3], cp[3];
  for (int k = 0; k < 3; ++k) {
    bp[k] = p[k] - b[k];
    cp[k] = p[k] - c[k];
  }
  const double d3 = vtkMath::Dot(ab, bp), d4 = vtkMath::Dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return set(0, 1, 0);
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) {
    const double v = d1 / (d1 - d3);
    return set(1 - v, v, 0);
  }
  const double d5 = vtkMath::Dot(ab, cp), d6 = vtkMath::Dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return set(0, 0, 1);
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) {
    const double t = d2 / (d2 - d6);
    return set(1 - t, 0, t);
  }
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    const double t = (d4 - d3) / ((d4 - d3) + (d5 - d6));
    return set(0, 1 - t, t);
  }
  const double denominator = 1 / (va + vb + vc);
  const double v = vb * denominator, t = vc * denominator;
  return set(1 - v - t, v, t);
}

}  // namespace fieldferry_core
