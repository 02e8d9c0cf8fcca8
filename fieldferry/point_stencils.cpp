#include "point_stencils.h"

#include <vtkIdList.h>
#include <vtkPointData.h>

#include <algorithm>

#include "interpolation.h"

namespace fieldferry_core {

PointStencils::PointStencils(vtkIdType points, int width)
    : width_(width),
      count_(static_cast<size_t>(points), 0),
      ids_(static_cast<size_t>(points) * width, 0),
      weights_(static_cast<size_t>(points) * width, 0.0) {}

void PointStencils::set(vtkIdType point, int n, const vtkIdType* ids, const double* weights) {
  count_[point] = n;
  std::copy(ids, ids + n, &ids_[point * width_]);
  std::copy(weights, weights + n, &weights_[point * width_]);
}

vtkSmartPointer<vtkDataSet> sample_through_stencils(const std::string& field_name,
                                                    vtkDataSet* source, vtkDataSet* target,
                                                    const PointStencils& stencils) {
  vtkSmartPointer<vtkDataSet> out;
  out.TakeReference(target->NewInstance());
  out->ShallowCopy(without_point_array(target, field_name));
  const vtkIdType n = out->GetNumberOfPoints();

  vtkPointData* from = source->GetPointData();
  auto sampled = vtkSmartPointer<vtkPointData>::New();
  sampled->InterpolateAllocate(from, n);
  auto ids = vtkSmartPointer<vtkIdList>::New();
  std::vector<std::uint8_t> valid(static_cast<size_t>(n), 0);
  std::vector<double> weights(static_cast<size_t>(stencils.width()));
  for (vtkIdType i = 0; i < n; ++i) {
    const int count = stencils.count(i);
    if (count == 0) {
      sampled->NullData(i);
      continue;
    }
    valid[i] = 1;
    ids->SetNumberOfIds(count);
    std::copy(stencils.ids(i), stencils.ids(i) + count, ids->GetPointer(0));
    // The interpolation only reads the weights but takes them non-const.
    std::copy(stencils.weights(i), stencils.weights(i) + count, weights.begin());
    sampled->InterpolatePoint(from, i, ids, weights.data());
  }
  vtkPointData* to = out->GetPointData();
  for (int a = 0; a < sampled->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = sampled->GetAbstractArray(a);
    const char* name = array->GetName();
    if (!name || std::string(name) == kValidMaskArray) continue;
    to->RemoveArray(name);
    to->AddArray(array);
  }
  to->SetActiveScalars(field_name.c_str());
  set_valid_mask(out, valid.data());
  return out;
}

}  // namespace fieldferry_core
