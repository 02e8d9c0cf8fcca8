#include "surface_projection.h"

#include <vtkGenericCell.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPThreadLocalObject.h>
#include <vtkSMPTools.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "checks.h"
#include "closest_cell.h"
#include "common/errors.h"
#include "interpolation.h"
#include "point_stencils.h"
#include "source_fields.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_surface_projection";

class Projection {
 public:
  // `distances` and `cells` (one per target point), if given, receive each point's distance to
  // its closest cell and that cell (infinity and -1 where none was found).
  Projection(vtkDataSet* target, const std::vector<vtkIdType>& order, const ClosestCells& closest,
             PointStencils& stencils, double* distances = nullptr, vtkIdType* cells = nullptr)
      : target_(target),
        order_(order),
        closest_(closest),
        stencils_(stencils),
        distances_(distances),
        cells_(cells) {}

  void Initialize() {
    weights_.Local().assign(static_cast<size_t>(closest_.max_cell_size()), 0.0);
    previous_.Local() = -1;
  }

  void operator()(vtkIdType begin, vtkIdType end) {
    vtkGenericCell* cell = cell_.Local();
    std::vector<double>& weights = weights_.Local();
    ClosestCells::Closest& best = best_.Local();
    vtkIdType& previous = previous_.Local();
    double x[3];
    for (vtkIdType k = begin; k < end; ++k) {
      const vtkIdType i = order_[k];
      target_->GetPoint(i, x);
      // The points come in spatial order, so the previous point's cell is near this one's.
      closest_.find(x, previous, cell, weights, best);
      if (distances_) distances_[i] = std::sqrt(best.dist2);
      if (cells_) cells_[i] = best.cell;
      if (best.cell < 0) continue;  // stencil count stays 0: unmapped
      previous = best.cell;
      stencils_.set(i, best.points, closest_.cells().points(best.cell), best.weights.data());
      stencils_.set_cell(i, best.cell);
    }
  }

  void Reduce() {}

 private:
  vtkDataSet* target_;
  const std::vector<vtkIdType>& order_;
  const ClosestCells& closest_;
  PointStencils& stencils_;
  double* distances_;
  vtkIdType* cells_;
  vtkSMPThreadLocalObject<vtkGenericCell> cell_;
  vtkSMPThreadLocal<std::vector<double>> weights_;
  vtkSMPThreadLocal<ClosestCells::Closest> best_;
  vtkSMPThreadLocal<vtkIdType> previous_;
};

}  // namespace

vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_surface_projection(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared, std::vector<double>* distances) {
  check_method_arguments(kOperation, field_name, from_mesh, to_mesh, shared);
  require_source_cells(from_mesh, std::string("fieldferry.") + kOperation, "Surface projection");
  const vtkSmartPointer<vtkDataSet> points = with_point_values(from_mesh, {field_name});
  from_mesh = points;
  mark_active_scalars(from_mesh, field_name);

  std::optional<SourceIndex> own;
  if (!shared) shared = &own.emplace(from_mesh);
  ClosestCells& closest = shared->cells_of(from_mesh);
  closest.build_tree();
  PointStencils stencils(to_mesh->GetNumberOfPoints(), closest.max_cell_size());
  const std::vector<vtkIdType> order = spatial_order(to_mesh);
  if (distances) {
    distances->assign(static_cast<size_t>(to_mesh->GetNumberOfPoints()),
                      std::numeric_limits<double>::infinity());
  }
  Projection projection(to_mesh, order, closest, stencils,
                        distances ? distances->data() : nullptr);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), projection);
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

std::vector<double> closest_cell_distances(const ClosestCells& closest, vtkDataSet* target,
                                           std::vector<vtkIdType>* closest_cells) {
  const auto n = static_cast<size_t>(target->GetNumberOfPoints());
  std::vector<double> distances(n, std::numeric_limits<double>::infinity());
  if (closest_cells) closest_cells->assign(n, -1);
  if (n == 0) return distances;
  // The search fills stencils as it goes; one entry each, as only the distances are kept.
  PointStencils stencils(target->GetNumberOfPoints(), closest.max_cell_size());
  const std::vector<vtkIdType> order = spatial_order(target);
  Projection projection(target, order, closest, stencils, distances.data(),
                        closest_cells ? closest_cells->data() : nullptr);
  vtkSMPTools::For(0, target->GetNumberOfPoints(), projection);
  return distances;
}

std::vector<double> closest_cell_distances(vtkDataSet* source, vtkDataSet* target,
                                           std::vector<vtkIdType>* closest_cells) {
  if (source->GetNumberOfCells() == 0) {
    if (closest_cells) closest_cells->assign(static_cast<size_t>(target->GetNumberOfPoints()), -1);
    return std::vector<double>(static_cast<size_t>(target->GetNumberOfPoints()),
                               std::numeric_limits<double>::infinity());
  }
  ClosestCells closest(source);
  closest.build_tree();
  return closest_cell_distances(closest, target, closest_cells);
}

}  // namespace fieldferry_core
