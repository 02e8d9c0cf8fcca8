#include "point_stencils.h"

#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkIdList.h>
#include <vtkPointData.h>

#include <algorithm>
#include <cstdint>

#include "interpolation.h"

namespace fieldferry_core {

PointStencils::PointStencils(vtkIdType points, int width)
    : width_(width),
      count_(static_cast<size_t>(points), 0),
      ids_(static_cast<size_t>(points) * width, 0),
      weights_(static_cast<size_t>(points) * width, 0.0),
      cell_(static_cast<size_t>(points), -1) {}

void PointStencils::set(vtkIdType point, int n, const vtkIdType* ids, const double* weights) {
  count_[point] = n;
  std::copy(ids, ids + n, &ids_[point * width_]);
  std::copy(weights, weights + n, &weights_[point * width_]);
}

std::vector<vtkIdType> spatial_order(vtkDataSet* target) {
  const vtkIdType n = target->GetNumberOfPoints();
  std::vector<vtkIdType> order(static_cast<size_t>(n));
  if (n == 0) return order;
  double b[6];
  target->GetBounds(b);
  std::vector<std::uint64_t> key(static_cast<size_t>(n));
  double x[3];
  for (vtkIdType i = 0; i < n; ++i) {
    target->GetPoint(i, x);
    std::uint64_t code = 0;
    for (int a = 0; a < 3; ++a) {
      const double extent = b[2 * a + 1] - b[2 * a];
      const double t = extent > 0 ? (x[a] - b[2 * a]) / extent : 0.0;
      auto q = static_cast<std::uint64_t>(std::min(std::max(t, 0.0), 1.0) * 2097151.0);
      for (int bit = 0; bit < 21; ++bit) code |= ((q >> bit) & 1u) << (3 * bit + a);
    }
    key[i] = code;
  }
  for (vtkIdType i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&key](vtkIdType a, vtkIdType b) {
    return key[a] < key[b] || (key[a] == key[b] && a < b);
  });
  return order;
}

namespace {

// The source's cell arrays (those without a point array of the same name) at each target point's
// recorded cell, as point arrays of `to`; 0 where a point got no value.
void add_cell_values(vtkDataSet* source, const PointStencils& stencils,
                     const std::vector<std::uint8_t>& valid, vtkPointData* to) {
  vtkCellData* cells = source->GetCellData();
  for (int a = 0; a < cells->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* values = cells->GetAbstractArray(a);
    const char* name = values ? values->GetName() : nullptr;
    if (!name || !vtkDataArray::SafeDownCast(values) ||
        source->GetPointData()->GetAbstractArray(name)) {
      continue;
    }
    vtkSmartPointer<vtkDataArray> out;
    out.TakeReference(vtkDataArray::SafeDownCast(values)->NewInstance());
    out->SetName(name);
    out->SetNumberOfComponents(values->GetNumberOfComponents());
    out->SetNumberOfTuples(stencils.size());
    out->Fill(0.0);
    bool any = false;
    for (vtkIdType i = 0; i < stencils.size(); ++i) {
      const vtkIdType c = stencils.cell(i);
      if (c < 0 || !valid[static_cast<size_t>(i)]) continue;
      out->SetTuple(i, c, values);
      any = true;
    }
    if (any) to->AddArray(out);
  }
}

}  // namespace

vtkSmartPointer<vtkDataSet> sample_through_stencils(const std::string& field_name,
                                                    vtkDataSet* source, vtkDataSet* target,
                                                    const PointStencils& stencils) {
  vtkSmartPointer<vtkDataSet> out;
  out.TakeReference(target->NewInstance());
  out->ShallowCopy(without_point_array(target, field_name));
  const vtkIdType n = out->GetNumberOfPoints();

  const vtkSmartPointer<vtkDataSet> sampled_source = source_for(out, source, field_name);
  vtkPointData* from = sampled_source->GetPointData();
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
    to->AddArray(array);
  }
  add_cell_values(sampled_source, stencils, valid, to);
  to->SetActiveScalars(field_name.c_str());
  set_valid_mask(out, valid.data());
  return out;
}

}  // namespace fieldferry_core
