#include "surface_projection.h"

#include <vtkGenericCell.h>
#include <vtkSMPThreadLocal.h>
#include <vtkSMPThreadLocalObject.h>
#include <vtkSMPTools.h>

#include <vector>

#include "checks.h"
#include "closest_cell.h"
#include "common/errors.h"
#include "interpolation.h"
#include "point_stencils.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_surface_projection";

class Projection {
 public:
  Projection(vtkDataSet* target, const std::vector<vtkIdType>& order, const ClosestCells& closest,
             PointStencils& stencils)
      : target_(target), order_(order), closest_(closest), stencils_(stencils) {}

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
  vtkSMPThreadLocalObject<vtkGenericCell> cell_;
  vtkSMPThreadLocal<std::vector<double>> weights_;
  vtkSMPThreadLocal<ClosestCells::Closest> best_;
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

  ClosestCells closest(from_mesh);
  closest.build_tree();
  PointStencils stencils(to_mesh->GetNumberOfPoints(), closest.max_cell_size());
  const std::vector<vtkIdType> order = spatial_order(to_mesh);
  Projection projection(to_mesh, order, closest, stencils);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), projection);
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

}  // namespace fieldferry_core
