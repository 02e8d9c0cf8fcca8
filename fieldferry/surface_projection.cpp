#include "surface_projection.h"

#include <vtkCellArray.h>
#include <vtkCellType.h>
#include <vtkDoubleArray.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPolyData.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPThreadLocalObject.h>
#include <vtkSMPTools.h>
#include <vtkTypeInt64Array.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "cell_tree.h"
#include "checks.h"
#include "common/errors.h"
#include "interpolation.h"
#include "point_stencils.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_surface_projection";

// The source as the search reads it: coordinates, the points of each cell, and a tree of the
// cells' boxes (built last, from the rest). Coordinates and cells are read in place where the
// source stores them as the search reads them (double coordinates, 64-bit cell arrays), else
// copied.
struct CellIndex {
  const double* xyz = nullptr;
  const vtkIdType* cell_offsets = nullptr;  // per cell, into cell_points
  const vtkIdType* cell_points = nullptr;
  const unsigned char* cell_type = nullptr;  // none: a polygon list, 3 points = triangle
  std::unique_ptr<CellTree> tree;

  bool is_triangle(vtkIdType c) const {
    return cell_type ? cell_type[c] == VTK_TRIANGLE : cell_offsets[c + 1] - cell_offsets[c] == 3;
  }

  std::vector<double> xyz_copy;
  std::vector<vtkIdType> offsets_copy, points_copy;
  std::vector<unsigned char> type_copy;
};

static_assert(sizeof(vtkIdType) == sizeof(vtkTypeInt64), "cell arrays are read as vtkIdType");

// The cells of `cells` in place when stored in 64 bits.
bool read_in_place(vtkCellArray* cells, CellIndex& index) {
  if (!cells->IsStorage64Bit()) return false;
  index.cell_offsets =
      reinterpret_cast<const vtkIdType*>(cells->GetOffsetsArray64()->GetPointer(0));
  index.cell_points =
      reinterpret_cast<const vtkIdType*>(cells->GetConnectivityArray64()->GetPointer(0));
  return true;
}

void read_cells(vtkDataSet* source, CellIndex& index) {
  auto* poly = vtkPolyData::SafeDownCast(source);
  if (poly && poly->GetNumberOfVerts() == 0 && poly->GetNumberOfLines() == 0 &&
      poly->GetNumberOfStrips() == 0 && read_in_place(poly->GetPolys(), index)) {
    return;
  }
  auto* grid = vtkUnstructuredGrid::SafeDownCast(source);
  if (grid && grid->GetCellTypesArray() && read_in_place(grid->GetCells(), index)) {
    index.cell_type = grid->GetCellTypesArray()->GetPointer(0);
    return;
  }
  const vtkIdType cells = source->GetNumberOfCells();
  index.offsets_copy.assign(static_cast<size_t>(cells) + 1, 0);
  index.type_copy.resize(static_cast<size_t>(cells));
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < cells; ++c) {
    source->GetCellPoints(c, ids);
    index.points_copy.insert(index.points_copy.end(), ids->GetPointer(0),
                             ids->GetPointer(0) + ids->GetNumberOfIds());
    index.offsets_copy[c + 1] = static_cast<vtkIdType>(index.points_copy.size());
    index.type_copy[c] = static_cast<unsigned char>(source->GetCellType(c));
  }
  index.cell_offsets = index.offsets_copy.data();
  index.cell_points = index.points_copy.data();
  index.cell_type = index.type_copy.data();
}

void read_points(vtkDataSet* source, CellIndex& index) {
  auto* set = vtkPointSet::SafeDownCast(source);
  auto* coordinates =
      set && set->GetPoints() ? vtkDoubleArray::SafeDownCast(set->GetPoints()->GetData()) : nullptr;
  if (coordinates && coordinates->GetNumberOfComponents() == 3) {
    index.xyz = coordinates->GetPointer(0);
    return;
  }
  const vtkIdType points = source->GetNumberOfPoints();
  index.xyz_copy.resize(static_cast<size_t>(points) * 3);
  for (vtkIdType p = 0; p < points; ++p) source->GetPoint(p, &index.xyz_copy[3 * p]);
  index.xyz = index.xyz_copy.data();
}

// Whether the triangle of edges ab and ac has an area, to the precision its closest point is
// computed with; the box of a triangle and its closest point must agree on it.
bool spans_a_plane(const double ab[3], const double ac[3]) {
  double n[3];
  vtkMath::Cross(ab, ac, n);
  return vtkMath::Dot(n, n) > 1e-24 * (vtkMath::Dot(ab, ab) * vtkMath::Dot(ac, ac));
}

CellIndex index_cells(vtkDataSet* source) {
  CellIndex index;
  read_points(source, index);
  read_cells(source, index);
  double bounds[6];
  source->GetBounds(bounds);
  // Each box is widened by a hair over the rounding of the closest points computed on it (a few
  // units in the last place of the coordinates), so that no cell the exact search would pick, nor
  // one tied with it, falls outside the bound. Triangles are projected onto exactly (their closest
  // point is a weighted mean of the corners); the closest point VTK's cell code hands back can lie
  // outside the corners' box (the plane of a warped quadrilateral or polygon, a curved quadratic
  // edge, the parametric tolerance of a hexahedron), by less than the cell's own size.
  double magnitude = 0;
  for (double b : bounds) magnitude = std::max(magnitude, std::abs(b));
  const double hair = 1e-12 * magnitude;
  const CellIndex& in = index;
  index.tree = std::make_unique<CellTree>(
      source->GetNumberOfCells(), bounds, [&in, hair](vtkIdType c, double b[6]) {
        const vtkIdType first = in.cell_offsets[c], last = in.cell_offsets[c + 1];
        if (first == last) return false;
        for (int a = 0; a < 3; ++a) {
          b[a] = std::numeric_limits<double>::infinity();
          b[a + 3] = -b[a];
        }
        for (vtkIdType k = first; k < last; ++k) {
          const double* x = &in.xyz[3 * in.cell_points[k]];
          for (int a = 0; a < 3; ++a) {
            b[a] = std::min(b[a], x[a]);
            b[a + 3] = std::max(b[a + 3], x[a]);
          }
        }
        bool exact = false;
        if (last - first == 3 && in.is_triangle(c)) {
          const double* p = &in.xyz[3 * in.cell_points[first]];
          const double* q = &in.xyz[3 * in.cell_points[first + 1]];
          const double* r = &in.xyz[3 * in.cell_points[first + 2]];
          const double ab[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
          const double ac[3] = {r[0] - p[0], r[1] - p[1], r[2] - p[2]};
          exact = spans_a_plane(ab, ac);
        }
        double pad = hair;
        if (!exact) {
          pad += std::sqrt((b[3] - b[0]) * (b[3] - b[0]) + (b[4] - b[1]) * (b[4] - b[1]) +
                           (b[5] - b[2]) * (b[5] - b[2]));
        }
        for (int a = 0; a < 3; ++a) {
          b[a] -= pad;
          b[a + 3] += pad;
        }
        return true;
      });
  return index;
}

// The closest point of triangle abc to p and its barycentric weights, by the triangle's Voronoi
// regions (vertex, edge, face). False for a degenerate triangle, which the general cell code
// handles (and skips).
bool closest_on_triangle(const double p[3], const double a[3], const double b[3], const double c[3],
                         double closest[3], double w[3]) {
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

class Projection {
 public:
  // `distances` (one per target point), if given, receives each point's distance to its closest
  // cell (infinity where none was found).
  Projection(vtkDataSet* source, vtkDataSet* target, const std::vector<vtkIdType>& order,
             const CellIndex& index, PointStencils& stencils, double* distances = nullptr,
             vtkIdType* cells = nullptr)
      : source_(source),
        target_(target),
        order_(order),
        index_(index),
        stencils_(stencils),
        distances_(distances),
        cells_(cells),
        max_cell_size_(std::max(1, source->GetMaxCellSize())) {}

  void Initialize() {
    weights_.Local().assign(static_cast<size_t>(max_cell_size_), 0.0);
    previous_.Local() = -1;
  }

  void operator()(vtkIdType begin, vtkIdType end) {
    vtkGenericCell* cell = cell_.Local();
    std::vector<double>& weights = weights_.Local();
    Closest& best = best_.Local();
    vtkIdType& previous = previous_.Local();
    double x[3];
    for (vtkIdType k = begin; k < end; ++k) {
      const vtkIdType i = order_[k];
      target_->GetPoint(i, x);
      best.cell = -1;
      best.dist2 = std::numeric_limits<double>::infinity();
      // The points come in spatial order, so the previous point's cell is near this one's: it
      // bounds the search from the start. It is evaluated again if the tree reaches it, which
      // changes nothing; the result is the closest cell whatever the order of evaluation.
      if (previous >= 0) evaluate(x, previous, cell, weights, best);
      index_.tree->search(x, bound(best), [&](vtkIdType c) {
        evaluate(x, c, cell, weights, best);
        return bound(best);
      });
      if (distances_) distances_[i] = std::sqrt(best.dist2);
      if (cells_) cells_[i] = best.cell;
      if (best.cell < 0) continue;  // stencil count stays 0: unmapped
      previous = best.cell;
      stencils_.set(i, best.points, &index_.cell_points[index_.cell_offsets[best.cell]],
                    best.weights.data());
      stencils_.set_cell(i, best.cell);
    }
  }

  void Reduce() {}

 private:
  struct Closest {
    vtkIdType cell = -1;
    double dist2 = std::numeric_limits<double>::infinity();
    int points = 0;
    std::vector<double> weights;
  };

  // The squared distance within which a box may still hold the closest cell or one tied with it:
  // a little over the best so far, as a box distance and a cell distance are rounded differently.
  static double bound(const Closest& best) {
    return best.cell >= 0 ? best.dist2 * (1 + 1e-12) : std::numeric_limits<double>::infinity();
  }

  // Cell c as the source would hand it out, built from the index (the source's own GetCell on
  // polydata needs a cell map built first, which costs more than the whole search), in `cell`.
  // Polyhedra, which need their faces, come from the source (an unstructured grid, safe to read
  // from several threads), each into a generic cell of its own in `polyhedron`: one that has held
  // a polyhedron keeps parts of it, and finds no closest point on the next one (a distance of -1).
  vtkGenericCell* load_cell(vtkIdType c, vtkGenericCell* cell,
                            vtkSmartPointer<vtkGenericCell>& polyhedron) const {
    const vtkIdType first = index_.cell_offsets[c];
    const vtkIdType n = index_.cell_offsets[c + 1] - first;
    int type = 0;
    if (index_.cell_type) {
      type = index_.cell_type[c];
    } else {
      type = n == 3 ? VTK_TRIANGLE : n == 4 ? VTK_QUAD : VTK_POLYGON;
    }
    if (type == VTK_POLYHEDRON) {
      polyhedron = vtkSmartPointer<vtkGenericCell>::New();
      source_->GetCell(c, polyhedron);
      return polyhedron;
    }
    cell->SetCellType(type);
    cell->PointIds->SetNumberOfIds(n);
    cell->Points->SetNumberOfPoints(n);
    for (vtkIdType k = 0; k < n; ++k) {
      const vtkIdType p = index_.cell_points[first + k];
      cell->PointIds->SetId(k, p);
      cell->Points->SetPoint(k, &index_.xyz[3 * p]);
    }
    return cell;
  }

  // Takes cell c as the best if it is nearer than the best so far, or as near with a lower id, so
  // the result does not depend on the order of the search. Degenerate cells are skipped.
  void evaluate(const double x[3], vtkIdType c, vtkGenericCell* cell, std::vector<double>& weights,
                Closest& best) const {
    double closest[3], pcoords[3], dist2 = 0;
    int sub = 0;
    const vtkIdType first = index_.cell_offsets[c];
    const int n = static_cast<int>(index_.cell_offsets[c + 1] - first);
    if (n == 0) return;
    bool found = false;
    if (n == 3 && index_.is_triangle(c)) {
      const vtkIdType* ids = &index_.cell_points[first];
      found = closest_on_triangle(x, &index_.xyz[3 * ids[0]], &index_.xyz[3 * ids[1]],
                                  &index_.xyz[3 * ids[2]], closest, weights.data());
      if (found) dist2 = vtkMath::Distance2BetweenPoints(x, closest);
    }
    if (!found) {
      // Other cells, and degenerate triangles, through the cell's own code: -1 means it has
      // no closest point. The weights are those at the closest point (the ones at x may be
      // an extrapolation when x is outside the cell).
      vtkSmartPointer<vtkGenericCell> polyhedron;
      vtkGenericCell* loaded = load_cell(c, cell, polyhedron);
      const int inside = loaded->EvaluatePosition(x, closest, sub, pcoords, dist2, weights.data());
      if (inside < 0 || !(dist2 >= 0) || !std::isfinite(dist2)) return;
      // A polyhedron hands back a point of its boundary as the closest point of a point inside
      // it; the weights at the point itself are the ones wanted there.
      if (!(inside == 1 && polyhedron)) {
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

  vtkDataSet* source_;
  vtkDataSet* target_;
  const std::vector<vtkIdType>& order_;
  const CellIndex& index_;
  PointStencils& stencils_;
  double* distances_;
  vtkIdType* cells_;
  int max_cell_size_;
  vtkSMPThreadLocalObject<vtkGenericCell> cell_;
  vtkSMPThreadLocal<std::vector<double>> weights_;
  vtkSMPThreadLocal<Closest> best_;
  vtkSMPThreadLocal<vtkIdType> previous_;
};

}  // namespace

vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_surface_projection(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh) {
  check_method_arguments(kOperation, field_name, from_mesh, to_mesh);
  if (from_mesh->GetNumberOfCells() == 0) {
    kelm::raise_value_error("fieldferry.", kOperation,
                            ": \"Surface projection\" needs a source "
                            "with cells; the source (from_mesh) is ",
                            from_mesh->GetNumberOfPoints(),
                            " points without cells (\"Linear fit\" maps from a point cloud)");
  }
  mark_active_scalars(from_mesh, field_name);

  const CellIndex index = index_cells(from_mesh);
  PointStencils stencils(to_mesh->GetNumberOfPoints(), std::max(1, from_mesh->GetMaxCellSize()));
  const std::vector<vtkIdType> order = spatial_order(to_mesh);
  Projection projection(from_mesh, to_mesh, order, index, stencils);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), projection);
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

std::vector<double> closest_cell_distances(vtkDataSet* source, vtkDataSet* target,
                                           std::vector<vtkIdType>* closest) {
  const auto n = static_cast<size_t>(target->GetNumberOfPoints());
  std::vector<double> distances(n, std::numeric_limits<double>::infinity());
  if (closest) closest->assign(n, -1);
  if (source->GetNumberOfCells() == 0 || n == 0) return distances;
  const CellIndex index = index_cells(source);
  // The search fills stencils as it goes; one entry each, as only the distances are kept.
  PointStencils stencils(target->GetNumberOfPoints(), std::max(1, source->GetMaxCellSize()));
  const std::vector<vtkIdType> order = spatial_order(target);
  Projection projection(source, target, order, index, stencils, distances.data(),
                        closest ? closest->data() : nullptr);
  vtkSMPTools::For(0, target->GetNumberOfPoints(), projection);
  return distances;
}

}  // namespace fieldferry_core
