#include "target_stage.h"

#include <vtkCellData.h>
#include <vtkFieldData.h>
#include <vtkPointData.h>

#include "common/mapped_leaf.h"
#include "common/tag_arrays.h"
#include "outer_surface.h"

namespace fieldferry_core {

vtkSmartPointer<vtkDataSet> prepare_target(vtkDataSet* leaf, bool boundary_only,
                                           const std::vector<std::string>& fields) {
  vtkSmartPointer<vtkDataSet> target = leaf;
  if (boundary_only) target = outer_surface(leaf);
  std::vector<std::string> stale_points = fields;
  stale_points.emplace_back(kelm::kValidMaskArray);
  stale_points.emplace_back(kelm::kDistanceArray);
  // A face average leaves the fields as cell arrays too, which a load would take for this
  // mapping's, and the source area its faces covered.
  std::vector<std::string> stale_cells = fields;
  for (const std::string& field : fields) stale_cells.push_back(kelm::corner_values_array(field));
  stale_cells.emplace_back(kelm::kDistanceArray);
  // An earlier mapping's facing test would leave faces out of a load this one did not judge.
  stale_cells.emplace_back(kelm::kFacesSourceArray);
  stale_cells.emplace_back(kelm::kWettedSidesArray);
  bool stale = target->GetFieldData()->GetAbstractArray(kelm::kSourceAreaCoveredArray);
  for (const std::string& name : stale_points) {
    stale = stale || target->GetPointData()->GetAbstractArray(name.c_str());
  }
  for (const std::string& name : stale_cells) {
    stale = stale || target->GetCellData()->GetAbstractArray(name.c_str());
  }
  if (!stale) return target;
  vtkSmartPointer<vtkDataSet> copy;
  copy.TakeReference(target->NewInstance());
  copy->ShallowCopy(target);
  for (const std::string& name : stale_points) copy->GetPointData()->RemoveArray(name.c_str());
  for (const std::string& name : stale_cells) copy->GetCellData()->RemoveArray(name.c_str());
  copy->GetFieldData()->RemoveArray(kelm::kSourceAreaCoveredArray);
  return copy;
}

void tag_mapped_leaf(vtkDataSet* mapped, vtkDataSet* target, vtkDataSet* leaf) {
  for (const char* name : {kelm::kBodyPathArray, kelm::kMeshTypeArray, kelm::kMeshOrderArray}) {
    vtkAbstractArray* tag = target->GetFieldData()->GetAbstractArray(name);
    if (!tag) tag = leaf->GetFieldData()->GetAbstractArray(name);
    if (tag) mapped->GetFieldData()->AddArray(tag);
  }
}

}  // namespace fieldferry_core
