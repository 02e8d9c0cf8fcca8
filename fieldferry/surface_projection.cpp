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
#include <vtkStaticPointLocator.h>
#include <vtkTypeInt64Array.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "checks.h"
#include "common/errors.h"
#include "interpolation.h"
#include "point_stencils.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_surface_projection";

// The source as the search reads it: coordinates, the points of each cell, the cells of each
// point (compressed rows) and the largest diagonal of the cells' bounding boxes. Any point of a
// cell lies within that diagonal of each of its vertices, which bounds the search below: the
// closest cell has a vertex within (closest distance + largest diagonal) of the point, and no cell
// of a vertex at distance d is nearer than d - largest diagonal. (A per-cell diagonal would prune
// more on graded meshes, but reading it costs the search more than it saves on even ones: the
// search is bound by memory reads, not arithmetic.) Coordinates and cells are read in
// place where the source stores them as the search reads them (double coordinates, 64-bit cell
// arrays), else copied.
struct CellIndex {
  const double* xyz = nullptr;
  const vtkIdType* cell_offsets = nullptr;  // per cell, into cell_points
  const vtkIdType* cell_points = nullptr;
  const unsigned char* cell_type = nullptr;  // none: a polygon list, 3 points = triangle
  std::vector<vtkIdType> point_offsets;      // per point, into point_cells
  std::vector<vtkIdType> point_cells;
  double largest_diagonal = 0.0;

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

CellIndex index_cells(vtkDataSet* source) {
  CellIndex index;
  const vtkIdType points = source->GetNumberOfPoints();
  const vtkIdType cells = source->GetNumberOfCells();
  read_points(source, index);
  read_cells(source, index);

  struct Largest {
    const CellIndex& index;
    vtkSMPThreadLocal<double> largest;
    void Initialize() { largest.Local() = 0.0; }
    void operator()(vtkIdType begin, vtkIdType end) {
      double& d = largest.Local();
      for (vtkIdType c = begin; c < end; ++c) d = std::max(d, diagonal(c));
    }
    void Reduce() {}
    double diagonal(vtkIdType c) const {
      if (index.cell_offsets[c + 1] == index.cell_offsets[c]) return 0.0;
      double lo[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                      std::numeric_limits<double>::max()};
      double hi[3] = {-lo[0], -lo[1], -lo[2]};
      for (vtkIdType k = index.cell_offsets[c]; k < index.cell_offsets[c + 1]; ++k) {
        const double* x = &index.xyz[3 * index.cell_points[k]];
        for (int a = 0; a < 3; ++a) {
          lo[a] = std::min(lo[a], x[a]);
          hi[a] = std::max(hi[a], x[a]);
        }
      }
      return std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                       (hi[2] - lo[2]) * (hi[2] - lo[2]));
    }
  } largest{index, {}};
  vtkSMPTools::For(0, cells, largest);
  for (double d : largest.largest) index.largest_diagonal = std::max(index.largest_diagonal, d);
  // A little more than computed, so that rounding cannot make the bound too tight.
  index.largest_diagonal *= 1 + 1e-12;

  const vtkIdType references = index.cell_offsets[cells];
  index.point_offsets.assign(static_cast<size_t>(points) + 1, 0);
  for (vtkIdType k = 0; k < references; ++k) ++index.point_offsets[index.cell_points[k] + 1];
  for (vtkIdType p = 0; p < points; ++p) index.point_offsets[p + 1] += index.point_offsets[p];
  index.point_cells.resize(static_cast<size_t>(references));
  std::vector<vtkIdType> fill(index.point_offsets.begin(), index.point_offsets.end() - 1);
  for (vtkIdType c = 0; c < cells; ++c) {
    for (vtkIdType k = index.cell_offsets[c]; k < index.cell_offsets[c + 1]; ++k) {
      index.point_cells[fill[index.cell_points[k]]++] = c;
    }
  }
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
  double n[3];
  vtkMath::Cross(ab, ac, n);
  const double scale = vtkMath::Dot(ab, ab) * vtkMath::Dot(ac, ac);
  if (!(vtkMath::Dot(n, n) > 1e-24 * scale)) return false;
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
  Projection(vtkDataSet* source, vtkDataSet* target, const std::vector<vtkIdType>& order,
             vtkStaticPointLocator* locator, const CellIndex& index, PointStencils& stencils)
      : source_(source),
        target_(target),
        order_(order),
        locator_(locator),
        index_(index),
        stencils_(stencils),
        max_cell_size_(std::max(1, source->GetMaxCellSize())) {
    source->GetBounds(bounds_);
  }

  void Initialize() { weights_.Local().assign(static_cast<size_t>(max_cell_size_), 0.0); }

  void operator()(vtkIdType begin, vtkIdType end) {
    Search search{cell_.Local(), near_.Local(), weights_.Local(), vertices_.Local(), seen_.Local()};
    double x[3];
    for (vtkIdType k = begin; k < end; ++k) {
      const vtkIdType i = order_[k];
      target_->GetPoint(i, x);
      Closest& best = best_.Local();
      best.cell = -1;
      best.dist2 = std::numeric_limits<double>::infinity();
      // The cells of the nearest vertex are no farther than it, so the closest cell has a vertex
      // within that distance plus the largest diagonal. The search widens only when the cells
      // there are all degenerate, or the vertex belongs to none.
      const vtkIdType nearest = locator_->FindClosestPoint(x);
      const double reach = distance_to_far_corner(x, bounds_) + index_.largest_diagonal;
      double radius = distance(x, nearest) + index_.largest_diagonal;
      while (true) {
        gather(x, radius, search);
        evaluate(x, search, best);
        if (radius >= reach) break;
        if (best.cell >= 0) {
          const double enough = std::sqrt(best.dist2) + index_.largest_diagonal;
          if (enough <= radius) break;
          radius = std::min(enough, reach);
        } else {
          // From a radius of 0 (a point on a vertex without cells, cells of no extent) too.
          radius = std::min(std::max(2 * radius, 1e-6 * reach), reach);
        }
      }
      if (best.cell < 0) continue;  // stencil count stays 0: unmapped
      stencils_.set(i, best.points, &index_.cell_points[index_.cell_offsets[best.cell]],
                    best.weights.data());
      stencils_.set_cell(i, best.cell);
    }
  }

  void Reduce() {}

 private:
  struct Vertex {
    vtkIdType point;
    double distance;
  };
  struct Search {
    vtkGenericCell* cell;
    vtkIdList* near;
    std::vector<double>& weights;
    std::vector<Vertex>& vertices;
    std::vector<vtkIdType>& seen;
  };
  struct Closest {
    vtkIdType cell = -1;
    double dist2 = std::numeric_limits<double>::infinity();
    int points = 0;
    std::vector<double> weights;
  };

  double distance(const double x[3], vtkIdType p) const {
    return std::sqrt(vtkMath::Distance2BetweenPoints(x, &index_.xyz[3 * p]));
  }

  static double distance_to_far_corner(const double x[3], const double b[6]) {
    double s = 0;
    for (int a = 0; a < 3; ++a) {
      const double d = std::max(std::abs(x[a] - b[2 * a]), std::abs(x[a] - b[2 * a + 1]));
      s += d * d;
    }
    return std::sqrt(s);
  }

  // Cell c as the source would hand it out, built from the index (the source's own GetCell on
  // polydata needs a cell map built first, which costs more than the whole search); polyhedra,
  // which need their faces, come from the source (an unstructured grid, safe to read from
  // several threads).
  void load_cell(vtkIdType c, vtkGenericCell* cell) const {
    const vtkIdType first = index_.cell_offsets[c];
    const vtkIdType n = index_.cell_offsets[c + 1] - first;
    int type = 0;
    if (index_.cell_type) {
      type = index_.cell_type[c];
    } else {
      type = n == 3 ? VTK_TRIANGLE : n == 4 ? VTK_QUAD : VTK_POLYGON;
    }
    if (type == VTK_POLYHEDRON) {
      source_->GetCell(c, cell);
      return;
    }
    cell->SetCellType(type);
    cell->PointIds->SetNumberOfIds(n);
    cell->Points->SetNumberOfPoints(n);
    for (vtkIdType k = 0; k < n; ++k) {
      const vtkIdType p = index_.cell_points[first + k];
      cell->PointIds->SetId(k, p);
      cell->Points->SetPoint(k, &index_.xyz[3 * p]);
    }
  }

  // The source points within `radius`, nearest first.
  void gather(const double x[3], double radius, Search& search) const {
    locator_->FindPointsWithinRadius(radius, x, search.near);
    auto& near = search.vertices;
    near.clear();
    for (vtkIdType k = 0; k < search.near->GetNumberOfIds(); ++k) {
      const vtkIdType p = search.near->GetId(k);
      near.push_back({p, distance(x, p)});
    }
    std::sort(near.begin(), near.end(), [](const Vertex& a, const Vertex& b) {
      return a.distance < b.distance || (a.distance == b.distance && a.point < b.point);
    });
  }

  // The cells of the gathered points, nearest point first, skipping cells that cannot beat the
  // best so far. Ties go to the lowest cell id, so the result does not depend on the order of the
  // search.
  void evaluate(const double x[3], Search& search, Closest& best) const {
    double closest[3], pcoords[3], dist2 = 0;
    int sub = 0;
    std::vector<double>& weights = search.weights;
    std::vector<vtkIdType>& seen = search.seen;
    seen.clear();
    for (const Vertex& vertex : search.vertices) {
      if (best.cell >= 0 && vertex.distance - index_.largest_diagonal > std::sqrt(best.dist2)) {
        break;
      }
      for (vtkIdType j = index_.point_offsets[vertex.point];
           j < index_.point_offsets[vertex.point + 1]; ++j) {
        const vtkIdType c = index_.point_cells[j];
        if (std::find(seen.begin(), seen.end(), c) != seen.end()) continue;
        seen.push_back(c);
        const vtkIdType first = index_.cell_offsets[c];
        const int n = static_cast<int>(index_.cell_offsets[c + 1] - first);
        if (n == 0) continue;
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
          load_cell(c, search.cell);
          if (search.cell->EvaluatePosition(x, closest, sub, pcoords, dist2, weights.data()) < 0 ||
              !std::isfinite(dist2)) {
            continue;
          }
          double on_cell[3];
          double ignored = 0;
          search.cell->EvaluatePosition(closest, on_cell, sub, pcoords, ignored, weights.data());
        }
        if (dist2 < best.dist2 || (dist2 == best.dist2 && c < best.cell)) {
          best.cell = c;
          best.dist2 = dist2;
          best.points = n;
          best.weights.assign(weights.begin(), weights.begin() + n);
        }
      }
    }
  }

  vtkDataSet* source_;
  vtkDataSet* target_;
  const std::vector<vtkIdType>& order_;
  vtkStaticPointLocator* locator_;
  const CellIndex& index_;
  PointStencils& stencils_;
  int max_cell_size_;
  double bounds_[6];
  vtkSMPThreadLocalObject<vtkGenericCell> cell_;
  vtkSMPThreadLocalObject<vtkIdList> near_;
  vtkSMPThreadLocal<std::vector<double>> weights_;
  vtkSMPThreadLocal<std::vector<Vertex>> vertices_;
  vtkSMPThreadLocal<std::vector<vtkIdType>> seen_;
  vtkSMPThreadLocal<Closest> best_;
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
  auto locator = vtkSmartPointer<vtkStaticPointLocator>::New();
  locator->SetDataSet(from_mesh);
  locator->BuildLocator();
  PointStencils stencils(to_mesh->GetNumberOfPoints(), std::max(1, from_mesh->GetMaxCellSize()));
  const std::vector<vtkIdType> order = spatial_order(to_mesh);
  Projection projection(from_mesh, to_mesh, order, locator, index, stencils);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), projection);
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

}  // namespace fieldferry_core
