#include "target_stage.h"

#include <vtkCellData.h>
#include <vtkFieldData.h>
#include <vtkPointData.h>

#include "common/mapped_leaf.h"
#include "common/tag_arrays.h"
#include "outer_surface.h"

namespace fieldferry_core {

vtkSmartPointer<vtkDataSet> prepare_target(vtkDataSet* leaf, bool boundary_only,
                                           const std::string& field_name) {
  vtkSmartPointer<vtkDataSet> target = leaf;
  if (boundary_only) target = outer_surface(leaf);
  vtkPointData* points = target->GetPointData();
  const bool stale = points->GetAbstractArray(field_name.c_str()) ||
                     points->GetAbstractArray(kelm::kValidMaskArray) ||
                     points->GetAbstractArray(kelm::kDistanceArray) ||
                     target->GetCellData()->GetAbstractArray(kelm::kDistanceArray);
  if (!stale) return target;
  vtkSmartPointer<vtkDataSet> copy;
  copy.TakeReference(target->NewInstance());
  copy->ShallowCopy(target);
  copy->GetPointData()->RemoveArray(field_name.c_str());
  copy->GetPointData()->RemoveArray(kelm::kValidMaskArray);
  copy->GetPointData()->RemoveArray(kelm::kDistanceArray);
  copy->GetCellData()->RemoveArray(kelm::kDistanceArray);
  return copy;
}

void tag_mapped_leaf(vtkDataSet* mapped, vtkDataSet* target, vtkDataSet* leaf,
                     const char* unit_array, const std::optional<std::string>& units) {
  for (const char* name : {kelm::kBodyPathArray, kelm::kMeshTypeArray, kelm::kMeshOrderArray}) {
    vtkAbstractArray* tag = target->GetFieldData()->GetAbstractArray(name);
    if (!tag) tag = leaf->GetFieldData()->GetAbstractArray(name);
    if (tag) mapped->GetFieldData()->AddArray(tag);
  }
  if (unit_array && units) kelm::add_string_field(mapped, unit_array, *units);
}

}  // namespace fieldferry_core
