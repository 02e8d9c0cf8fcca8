#include "linear_fit.h"

#include <vtkMath.h>
#include <vtkSMPTools.h>

#include <optional>

#include "checks.h"
#include "interpolation.h"
#include "point_stencils.h"
#include "source_fields.h"
#include "weighted_fit.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "interpolate_scalar_field_using_linear_fit";

class Fit {
 public:
  Fit(vtkDataSet* source, vtkDataSet* target, const std::vector<vtkIdType>& order,
      const PointTree& tree, PointStencils& stencils)
      : source_(source), target_(target), order_(order), tree_(tree), stencils_(stencils) {}

  void Initialize() {}

  void operator()(vtkIdType begin, vtkIdType end) {
    double x[3];
    vtkIdType near[kLinearFitNeighbours];
    for (vtkIdType k = begin; k < end; ++k) {
      const vtkIdType i = order_[k];
      target_->GetPoint(i, x);
      fit(x, near, tree_.nearest_k(x, kLinearFitNeighbours, near), i);
    }
  }

  void Reduce() {}

 private:
  // `near`: the n nearest source points, nearest first (ties by id).
  void fit(const double x[3], const vtkIdType* near, int n, vtkIdType i) {
    double d[kLinearFitNeighbours][3];
    double c[kLinearFitNeighbours];
    for (int k = 0; k < n; ++k) {
      source_->GetPoint(near[k], d[k]);
      for (int a = 0; a < 3; ++a) d[k][a] -= x[a];
    }
    if (weighted_linear_fit(d, n, vtkMath::Dot(x, x), c, true) == 0) {
      nearest(near, i);
      return;
    }
    stencils_.set(i, n, near, c);
  }

  // The tree lists the nearest first, the lowest id first among equally near points.
  void nearest(const vtkIdType* near, vtkIdType i) {
    const double one = 1.0;
    stencils_.set(i, 1, near, &one);
  }

  vtkDataSet* source_;
  vtkDataSet* target_;
  const std::vector<vtkIdType>& order_;
  const PointTree& tree_;
  PointStencils& stencils_;
};

}  // namespace

vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_linear_fit(const std::string& field_name,
                                                                      vtkDataSet* from_mesh,
                                                                      vtkDataSet* to_mesh,
                                                                      SourceIndex* shared) {
  check_method_arguments(kOperation, field_name, from_mesh, to_mesh, shared);
  const vtkSmartPointer<vtkDataSet> points = with_point_values(from_mesh, {field_name});
  from_mesh = points;
  mark_active_scalars(from_mesh, field_name);
  std::optional<SourceIndex> own;
  if (!shared) shared = &own.emplace(from_mesh);
  PointStencils stencils(to_mesh->GetNumberOfPoints(), kLinearFitNeighbours);
  const std::vector<vtkIdType> order = spatial_order(to_mesh);
  Fit fit(from_mesh, to_mesh, order, shared->points_of(from_mesh), stencils);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), fit);
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

}  // namespace fieldferry_core
