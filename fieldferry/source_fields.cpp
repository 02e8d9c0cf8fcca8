#include "source_fields.h"

#include <vtkCellData.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>

#include "face_reconstruction.h"

namespace fieldferry_core {

FieldPlace field_place(vtkDataSet* source, const std::string& name) {
  if (source->GetPointData()->GetAbstractArray(name.c_str())) return FieldPlace::points;
  if (source->GetCellData()->GetAbstractArray(name.c_str())) return FieldPlace::cells;
  return FieldPlace::none;
}

vtkSmartPointer<vtkDataSet> with_point_values(vtkDataSet* source,
                                              const std::vector<std::string>& names) {
  vtkSmartPointer<vtkDataSet> out = source;
  for (const std::string& name : names) {
    if (field_place(source, name) != FieldPlace::cells) continue;
    auto* values =
        vtkDataArray::SafeDownCast(source->GetCellData()->GetAbstractArray(name.c_str()));
    if (!values) continue;  // not numbers: the field checks report it
    if (out == source) {
      out.TakeReference(source->NewInstance());
      out->ShallowCopy(source);
    }
    out->GetPointData()->AddArray(reconstructed_at_points(source, values));
  }
  return out;
}

}  // namespace fieldferry_core
