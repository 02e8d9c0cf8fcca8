#include "closest_cell.h"

#include <vtkCellType.h>
#include <vtkCellTypes.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPoints.h>

#include <algorithm>
#include <cmath>

#include "polygon_triangles.h"

namespace fieldferry_core {

namespace {

// The squared distance within which a box may still hold the closest cell or one tied with it:
// a little over the best so far, as a box distance and a cell distance are rounded differently.
double bound(const ClosestCells::Closest& best) {
  return best.cell >= 0 ? best.dist2 * (1 + 1e-12) : std::numeric_limits<double>::infinity();
}

// The share of a cell's diagonal by which the closest point its code hands back may lie outside
// the box of its corners. A hexahedron's is a trilinear mean of its corners at clamped parametric
// coordinates, a tetrahedron's lies on a face, except for a point within the parametric tolerance
// of a thousandth outside, which is its own closest point: a hundredth covers that. Other cells
// may reach farther (a wedge's clamped coordinates can leave its triangle), by less than their
// size.
double held_near_corners(int type) {
  return type == VTK_HEXAHEDRON || type == VTK_VOXEL || type == VTK_TETRA ? 0.01 : 1.0;
}

bool bent_quad(vtkGenericCell* cell) {
  if (cell->GetCellType() != VTK_QUAD) return false;
  double xyz[12];
  for (int k = 0; k < 4; ++k) cell->Points->GetPoint(k, xyz + 3 * k);
  return !convex_polygon(xyz, 4);
}

}  // namespace

ClosestCells::ClosestCells(vtkDataSet* source)
    : source_(source), cells_(source), max_cell_size_(std::max(1, source->GetMaxCellSize())) {}

void ClosestCells::build_tree() {
  if (tree_) return;
  double bounds[6];
  source_->GetBounds(bounds);
  // Each box is widened by a hair over the rounding of the closest points computed on it (a few
  // units in the last place of the coordinates), so that no cell the exact search would pick, nor
  // one tied with it, falls outside the bound. Triangles are projected onto exactly (their closest
  // point is a weighted mean of the corners); the closest point VTK's cell code hands back can lie
  // outside the corners' box (the plane of a warped quadrilateral or polygon, a curved quadratic
  // edge, the parametric tolerance of a hexahedron), by less than the cell's own size.
  double magnitude = 0;
  for (double b : bounds) magnitude = std::max(magnitude, std::abs(b));
  const double hair = 1e-12 * magnitude;
  const SourceCells& in = cells_;
  tree_ = std::make_unique<CellTree>(in.cells(), bounds, [&in, hair](vtkIdType c, double b[6]) {
    const vtkIdType n = in.size(c);
    if (n == 0) return false;
    const vtkIdType* p = in.points(c);
    for (int a = 0; a < 3; ++a) {
      b[a] = std::numeric_limits<double>::infinity();
      b[a + 3] = -b[a];
    }
    for (vtkIdType k = 0; k < n; ++k) {
      const double* x = in.point(p[k]);
      for (int a = 0; a < 3; ++a) {
        b[a] = std::min(b[a], x[a]);
        b[a + 3] = std::max(b[a + 3], x[a]);
      }
    }
    bool exact = false;
    if (n == 3 && in.type(c) == VTK_TRIANGLE) {
      const double *q = in.point(p[0]), *r = in.point(p[1]), *s = in.point(p[2]);
      const double ab[3] = {r[0] - q[0], r[1] - q[1], r[2] - q[2]};
      const double ac[3] = {s[0] - q[0], s[1] - q[1], s[2] - q[2]};
      exact = spans_a_plane(ab, ac);
    }
    double pad = hair;
    if (!exact) {
      pad += held_near_corners(in.type(c)) *
             std::sqrt((b[3] - b[0]) * (b[3] - b[0]) + (b[4] - b[1]) * (b[4] - b[1]) +
                       (b[5] - b[2]) * (b[5] - b[2]));
    }
    for (int a = 0; a < 3; ++a) {
      b[a] -= pad;
      b[a + 3] += pad;
    }
    return true;
  });
}

void ClosestCells::find(const double x[3], vtkIdType hint, vtkGenericCell* cell,
                        std::vector<double>& weights, Closest& best) const {
  best.cell = -1;
  best.dist2 = std::numeric_limits<double>::infinity();
  // A point inside a cell is at distance 0 from it, which only a lower cell id holding the point
  // too can tie: among the cells whose widened box holds x, those that can hold it settle a point
  // inside a volume source without evaluating its neighbours (each an iterative inversion).
  tree_->search(x, 0.0, [&](vtkIdType c) {
    if (may_hold(x, c)) evaluate(x, c, cell, weights, best);
    return 0.0;
  });
  if (best.cell >= 0 && best.dist2 == 0) return;
  // A cell near x bounds the search from the start. It is evaluated again if the tree reaches it,
  // which changes nothing; the result is the closest cell whatever the order of evaluation.
  if (hint >= 0) evaluate(x, hint, cell, weights, best);
  tree_->search(x, bound(best), [&](vtkIdType c) {
    evaluate(x, c, cell, weights, best);
    return bound(best);
  });
}

// Whether cell c may hold x. A linear cell lies within the box of its corners; its own code
// counts a point a little outside it (within a thousandth of a parametric unit) as inside, which
// a margin of a hundredth of the box covers. Other cells may bulge past their corners.
bool ClosestCells::may_hold(const double x[3], vtkIdType c) const {
  const vtkIdType n = cells_.size(c);
  if (!vtkCellTypes::IsLinear(static_cast<unsigned char>(cells_.type(c)))) return n > 0;
  const vtkIdType* p = cells_.points(c);
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) lo[a] = hi[a] = n > 0 ? cells_.point(p[0])[a] : 0.0;
  for (vtkIdType k = 1; k < n; ++k) {
    const double* y = cells_.point(p[k]);
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], y[a]);
      hi[a] = std::max(hi[a], y[a]);
    }
  }
  const double margin = 0.01 * std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}) +
                        1e-12 * (std::abs(x[0]) + std::abs(x[1]) + std::abs(x[2]));
  for (int a = 0; a < 3; ++a) {
    if (x[a] < lo[a] - margin || x[a] > hi[a] + margin) return false;
  }
  return n > 0;
}

// Cell c as the source would hand it out (or as a cell of type `as_type`), built from the cells
// read (the source's own GetCell on polydata needs a cell map built first, which costs more than
// the whole search), in `cell`.
// Polyhedra, which need their faces, come from the source (an unstructured grid, safe to read
// from several threads), each into a generic cell of its own in `polyhedron`: one that has held
// a polyhedron keeps parts of it, and finds no closest point on the next one (a distance of -1).
vtkGenericCell* ClosestCells::load_cell(vtkIdType c, vtkGenericCell* cell,
                                        vtkSmartPointer<vtkGenericCell>& polyhedron,
                                        int as_type) const {
  const int type = as_type >= 0 ? as_type : cells_.type(c);
  if (type == VTK_POLYHEDRON) {
    polyhedron = vtkSmartPointer<vtkGenericCell>::New();
    source_->GetCell(c, polyhedron);
    return polyhedron;
  }
  const vtkIdType n = cells_.size(c);
  const vtkIdType* p = cells_.points(c);
  cell->SetCellType(type);
  cell->PointIds->SetNumberOfIds(n);
  cell->Points->SetNumberOfPoints(n);
  for (vtkIdType k = 0; k < n; ++k) {
    cell->PointIds->SetId(k, p[k]);
    cell->Points->SetPoint(k, cells_.point(p[k]));
  }
  return cell;
}

// Takes cell c as the best if it is nearer than the best so far, or as near with a lower id, so
// the result does not depend on the order of the search. Degenerate cells are skipped.
void ClosestCells::evaluate(const double x[3], vtkIdType c, vtkGenericCell* cell,
                            std::vector<double>& weights, Closest& best) const {
  double closest[3], pcoords[3], dist2 = 0;
  int sub = 0;
  const int n = static_cast<int>(cells_.size(c));
  if (n == 0) return;
  bool found = false;
  if (n == 3 && cells_.type(c) == VTK_TRIANGLE) {
    const vtkIdType* ids = cells_.points(c);
    found = closest_on_triangle(x, cells_.point(ids[0]), cells_.point(ids[1]), cells_.point(ids[2]),
                                closest, weights.data());
    if (found) dist2 = vtkMath::Distance2BetweenPoints(x, closest);
  }
  if (!found) {
    // Other cells, and degenerate triangles, through the cell's own code: -1 means it has no
    // closest point. The weights are those at the closest point (the ones at x may be an
    // extrapolation when x is outside the cell).
    vtkSmartPointer<vtkGenericCell> polyhedron;
    vtkGenericCell* loaded = load_cell(c, cell, polyhedron);
    int inside = loaded->EvaluatePosition(x, closest, sub, pcoords, dist2, weights.data());
    if (inside < 0 && bent_quad(loaded)) {
      // A quadrilateral bent in at a corner folds its bilinear map, whose inversion then fails
      // for points near the bend: it is the polygon of its corners.
      loaded = load_cell(c, cell, polyhedron, VTK_POLYGON);
      inside = loaded->EvaluatePosition(x, closest, sub, pcoords, dist2, weights.data());
    }
    if (inside < 0 || !(dist2 >= 0) || !std::isfinite(dist2)) return;
    // A polyhedron hands back a point of its boundary as the closest point of a point inside it;
    // the weights at the point itself are the ones wanted there. A point at distance 0 is its own
    // closest point: its weights are the ones at hand.
    if (!(inside == 1 && (polyhedron || dist2 == 0))) {
      double on_cell[3];
      double ignored = 0;
      loaded->EvaluatePosition(closest, on_cell, sub, pcoords, ignored, weights.data());
    }
  }
  if (dist2 < best.dist2 || (dist2 == best.dist2 && c < best.cell)) {
    best.cell = c;
    best.dist2 = dist2;
    best.points = n;
    best.weights.assign(weights.begin(), weights.begin() + n);
  }
}

}  // namespace fieldferry_core
