#include "surface_projection.h"

#include <vtkCellType.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkMath.h>
#include <vtkPolyData.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPThreadLocalObject.h>
#include <vtkSMPTools.h>
#include <vtkStaticPointLocator.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "checks.h"
#include "common/errors.h"
#include "interpolation.h"
#include "point_stencils.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_surface_projection";

// The cells of each source point (compressed rows) and the diagonal of each cell's bounding box.
// Any point of a cell lies within that diagonal of each of its vertices, which bounds the search
// below: the closest cell has a vertex within (closest distance + largest diagonal) of the point.
struct CellIndex {
  std::vector<vtkIdType> offsets;  // per point, into cells
  std::vector<vtkIdType> cells;
  std::vector<float> diagonal;  // per cell
  double largest_diagonal = 0.0;
};

template <typename CellPoints>
CellIndex index_cells(vtkDataSet* source, CellPoints&& cell_points) {
  const vtkIdType points = source->GetNumberOfPoints();
  const vtkIdType cells = source->GetNumberOfCells();
  CellIndex index;
  index.offsets.assign(static_cast<size_t>(points) + 1, 0);
  index.diagonal.assign(static_cast<size_t>(cells), 0.0f);
  vtkIdType npts = 0;
  const vtkIdType* pts = nullptr;
  double x[3];
  for (vtkIdType c = 0; c < cells; ++c) {
    cell_points(c, npts, pts);
    double lo[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                    std::numeric_limits<double>::max()};
    double hi[3] = {-lo[0], -lo[1], -lo[2]};
    for (vtkIdType k = 0; k < npts; ++k) {
      ++index.offsets[pts[k] + 1];
      source->GetPoint(pts[k], x);
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], x[a]);
        hi[a] = std::max(hi[a], x[a]);
      }
    }
    if (npts == 0) continue;
    const double d =
        std::sqrt((hi[0] - lo[0]) * (hi[0] - lo[0]) + (hi[1] - lo[1]) * (hi[1] - lo[1]) +
                  (hi[2] - lo[2]) * (hi[2] - lo[2]));
    // Rounded up so that the float still bounds the cell.
    index.diagonal[c] = std::nextafter(static_cast<float>(d), std::numeric_limits<float>::max());
    index.largest_diagonal = std::max(index.largest_diagonal, double(index.diagonal[c]));
  }
  for (vtkIdType p = 0; p < points; ++p) index.offsets[p + 1] += index.offsets[p];
  index.cells.resize(static_cast<size_t>(index.offsets[points]));
  std::vector<vtkIdType> fill(index.offsets.begin(), index.offsets.end() - 1);
  for (vtkIdType c = 0; c < cells; ++c) {
    cell_points(c, npts, pts);
    for (vtkIdType k = 0; k < npts; ++k) index.cells[fill[pts[k]]++] = c;
  }
  return index;
}

CellIndex index_cells(vtkDataSet* source) {
  if (auto* poly = vtkPolyData::SafeDownCast(source)) {
    return index_cells(source, [poly](vtkIdType c, vtkIdType& n, const vtkIdType*& pts) {
      poly->GetCellPoints(c, n, pts);
    });
  }
  if (auto* grid = vtkUnstructuredGrid::SafeDownCast(source)) {
    return index_cells(source, [grid](vtkIdType c, vtkIdType& n, const vtkIdType*& pts) {
      grid->GetCellPoints(c, n, pts);
    });
  }
  auto ids = vtkSmartPointer<vtkIdList>::New();
  return index_cells(source, [source, ids](vtkIdType c, vtkIdType& n, const vtkIdType*& pts) {
    source->GetCellPoints(c, ids);
    n = ids->GetNumberOfIds();
    pts = ids->GetPointer(0);
  });
}

class Projection {
 public:
  Projection(vtkDataSet* source, vtkDataSet* target, vtkStaticPointLocator* locator,
             const CellIndex& index, PointStencils& stencils)
      : source_(source),
        target_(target),
        locator_(locator),
        index_(index),
        stencils_(stencils),
        max_cell_size_(std::max(1, source->GetMaxCellSize())) {
    source->GetBounds(bounds_);
  }

  void Initialize() { weights_.Local().assign(static_cast<size_t>(max_cell_size_), 0.0); }

  void operator()(vtkIdType begin, vtkIdType end) {
    vtkGenericCell* cell = cell_.Local();
    vtkIdList* near = near_.Local();
    std::vector<double>& weights = weights_.Local();
    std::vector<vtkIdType>& candidates = candidates_.Local();
    double x[3];
    for (vtkIdType i = begin; i < end; ++i) {
      target_->GetPoint(i, x);
      Closest best;
      // The cells of the nearest vertex give a first distance, which bounds the full search.
      const vtkIdType nearest = locator_->FindClosestPoint(x);
      candidates.clear();
      add_cells_of(nearest, candidates);
      evaluate(x, candidates, cell, weights, best);
      double radius = distance(x, nearest) + index_.largest_diagonal;
      const double reach = distance_to_far_corner(x, bounds_) + index_.largest_diagonal;
      while (true) {
        if (best.cell >= 0) radius = std::sqrt(best.dist2) + index_.largest_diagonal;
        locator_->FindPointsWithinRadius(radius, x, near);
        candidates.clear();
        const double limit = best.cell >= 0 ? std::sqrt(best.dist2) : radius;
        for (vtkIdType k = 0; k < near->GetNumberOfIds(); ++k) {
          const vtkIdType p = near->GetId(k);
          const double d = distance(x, p);
          for (vtkIdType j = index_.offsets[p]; j < index_.offsets[p + 1]; ++j) {
            const vtkIdType c = index_.cells[j];
            if (d - index_.diagonal[c] <= limit) candidates.push_back(c);
          }
        }
        std::sort(candidates.begin(), candidates.end());
        candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
        evaluate(x, candidates, cell, weights, best);
        // Done once the search covered the closest distance plus any cell's reach, or once it
        // covered every source point (only degenerate cells around: the point stays unmapped).
        if (best.cell >= 0 && std::sqrt(best.dist2) + index_.largest_diagonal <= radius) break;
        if (radius >= reach) break;
        radius = best.cell >= 0 ? std::sqrt(best.dist2) + index_.largest_diagonal
                                : std::min(2 * radius, reach);
      }
      if (best.cell < 0) continue;  // stencil count stays 0: unmapped
      // The weights of the cell at its own closest point (those at the target point may lie
      // outside the cell when the point does).
      source_->GetCell(best.cell, cell);
      int sub = 0;
      double pcoords[3], closest[3], dist2 = 0;
      cell->EvaluatePosition(best.point, closest, sub, pcoords, dist2, weights.data());
      const int n = static_cast<int>(cell->GetNumberOfPoints());
      stencils_.set(i, n, cell->GetPointIds()->GetPointer(0), weights.data());
    }
  }

  void Reduce() {}

 private:
  struct Closest {
    vtkIdType cell = -1;
    double dist2 = std::numeric_limits<double>::infinity();
    double point[3] = {0, 0, 0};
  };

  double distance(const double x[3], vtkIdType p) const {
    double y[3];
    source_->GetPoint(p, y);
    return std::sqrt(vtkMath::Distance2BetweenPoints(x, y));
  }

  static double distance_to_far_corner(const double x[3], const double b[6]) {
    double s = 0;
    for (int a = 0; a < 3; ++a) {
      const double d = std::max(std::abs(x[a] - b[2 * a]), std::abs(x[a] - b[2 * a + 1]));
      s += d * d;
    }
    return std::sqrt(s);
  }

  void add_cells_of(vtkIdType p, std::vector<vtkIdType>& out) const {
    for (vtkIdType j = index_.offsets[p]; j < index_.offsets[p + 1]; ++j) {
      out.push_back(index_.cells[j]);
    }
  }

  // Ties go to the lowest cell id, so the result does not depend on the order of the search.
  void evaluate(const double x[3], const std::vector<vtkIdType>& cells, vtkGenericCell* cell,
                std::vector<double>& weights, Closest& best) const {
    double closest[3], pcoords[3], dist2 = 0;
    int sub = 0;
    for (vtkIdType c : cells) {
      if (c == best.cell) continue;
      source_->GetCell(c, cell);
      if (cell->GetCellType() == VTK_EMPTY_CELL || cell->GetNumberOfPoints() == 0) continue;
      // -1: the cell is degenerate and has no closest point.
      if (cell->EvaluatePosition(x, closest, sub, pcoords, dist2, weights.data()) < 0) continue;
      if (!std::isfinite(dist2)) continue;
      if (dist2 < best.dist2 || (dist2 == best.dist2 && c < best.cell)) {
        best.cell = c;
        best.dist2 = dist2;
        std::copy(closest, closest + 3, best.point);
      }
    }
  }

  vtkDataSet* source_;
  vtkDataSet* target_;
  vtkStaticPointLocator* locator_;
  const CellIndex& index_;
  PointStencils& stencils_;
  int max_cell_size_;
  double bounds_[6];
  vtkSMPThreadLocalObject<vtkGenericCell> cell_;
  vtkSMPThreadLocalObject<vtkIdList> near_;
  vtkSMPThreadLocal<std::vector<double>> weights_;
  vtkSMPThreadLocal<std::vector<vtkIdType>> candidates_;
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
  // One call from this thread first makes the source's cell access safe from the others (it
  // builds the polydata cell map on first use).
  auto first = vtkSmartPointer<vtkGenericCell>::New();
  from_mesh->GetCell(0, first);

  PointStencils stencils(to_mesh->GetNumberOfPoints(), std::max(1, from_mesh->GetMaxCellSize()));
  Projection projection(from_mesh, to_mesh, locator, index, stencils);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), projection);
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

}  // namespace fieldferry_core
