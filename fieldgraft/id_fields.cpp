// Values per node ID or per element ID, and the outer surface that shows them.
#include <vtkCellData.h>
#include <vtkDataSetSurfaceFilter.h>
#include <vtkFloatArray.h>
#include <vtkPointData.h>

#include <limits>

#include "common/dataset_checks.h"
#include "common/errors.h"
#include "common/tag_arrays.h"
#include "field_builders.h"

namespace fieldgraft_core {

vtkSmartPointer<vtkPolyData> outer_surface(vtkDataSet* grid, bool original_point_ids) {
  auto surface = vtkSmartPointer<vtkDataSetSurfaceFilter>::New();
  surface->SetInputData(grid);
  surface->SetNonlinearSubdivisionLevel(0);
  surface->SetPassThroughPointIds(original_point_ids);
  surface->Update();
  vtkSmartPointer<vtkPolyData> out = surface->GetOutput();
  return out;
}

FinishBuild prepare_id_field(vtkDataSet* grid, Attachment where, const std::vector<uint32_t>& ids,
                             const std::vector<float>& values, const std::string& field_name,
                             const Target& target) {
  const bool on_points = where == Attachment::points;
  require_count(values.size(), ids.size(), target.keys.values, target.keys.ids, target);
  require_sound_body(grid, target);
  TagLookup lookup(grid, where, on_points ? kelm::kNodeIdArray : kelm::kElementIdArray,
                   on_points ? "node" : "element", target);

  auto array = vtkSmartPointer<vtkFloatArray>::New();
  array->SetName(field_name.c_str());
  array->SetNumberOfComponents(1);
  array->SetNumberOfTuples(vtkIdType(lookup.size()));
  float* out = array->GetPointer(0);
  std::fill(out, out + lookup.size(), std::numeric_limits<float>::quiet_NaN());
  // In field order, so a repeated ID keeps its later value.
  for (std::size_t i = 0; i < ids.size(); ++i) out[lookup.at(ids[i])] = values[i];

  vtkSmartPointer<vtkDataSet> keep = grid;
  return [keep, array, on_points]() {
    if (on_points) {
      keep->GetPointData()->AddArray(array);
    } else {
      keep->GetCellData()->AddArray(array);
    }
    return outer_surface(keep);
  };
}

}  // namespace fieldgraft_core
