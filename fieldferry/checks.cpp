#include "checks.h"

#include <vtkCellData.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkImageData.h>
#include <vtkPointData.h>
#include <vtkPointSet.h>
#include <vtkPoints.h>

#include <cmath>
#include <sstream>

#include "common/dataset_checks.h"
#include "common/errors.h"

namespace fieldferry_core {

namespace {

template <typename T>
vtkIdType first_non_finite(const T* values, vtkIdType count) {
  for (vtkIdType i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) return i / 3;
  }
  return -1;
}

vtkIdType first_non_finite_point(vtkDataSet* data) {
  if (auto* image = vtkImageData::SafeDownCast(data)) {
    const double* origin = image->GetOrigin();
    const double* spacing = image->GetSpacing();
    for (int i = 0; i < 3; ++i) {
      if (!std::isfinite(origin[i]) || !std::isfinite(spacing[i])) return 0;
    }
    return -1;
  }
  auto* point_set = vtkPointSet::SafeDownCast(data);
  if (point_set && point_set->GetPoints()) {
    vtkDataArray* coords = point_set->GetPoints()->GetData();
    const vtkIdType count = coords->GetNumberOfTuples() * 3;
    if (auto* f = vtkFloatArray::SafeDownCast(coords))
      return first_non_finite(f->GetPointer(0), count);
    if (auto* d = vtkDoubleArray::SafeDownCast(coords)) {
      return first_non_finite(d->GetPointer(0), count);
    }
  }
  double x[3];
  for (vtkIdType i = 0, n = data->GetNumberOfPoints(); i < n; ++i) {
    data->GetPoint(i, x);
    if (!std::isfinite(x[0]) || !std::isfinite(x[1]) || !std::isfinite(x[2])) return i;
  }
  return -1;
}

}  // namespace

std::string array_names(vtkFieldData* data) {
  std::ostringstream out;
  out << "[";
  for (int i = 0; i < data->GetNumberOfArrays(); ++i) {
    const char* name = data->GetArrayName(i);
    out << (i ? ", " : "") << "'" << (name ? name : "") << "'";
  }
  out << "]";
  return out.str();
}

void require_source_field(vtkDataSet* data, const std::string& field_name,
                          const std::string& operation) {
  vtkAbstractArray* field = data->GetPointData()->GetAbstractArray(field_name.c_str());
  const char* where = "point";
  if (!field) {
    field = data->GetCellData()->GetAbstractArray(field_name.c_str());
    where = "cell";
  }
  if (!field) {
    kelm::raise_key_error(operation, ": the source (from_mesh) has no point or cell data array '",
                          field_name,
                          "' (its point data arrays: ", array_names(data->GetPointData()),
                          "; its cell data arrays: ", array_names(data->GetCellData()), ")");
  }
  if (!vtkDataArray::SafeDownCast(field)) {
    kelm::raise_type_error(operation, ": the source's ", where, " data array '", field_name,
                           "' holds ", field->GetDataTypeAsString(),
                           ", not numbers that can be interpolated");
  }
}

void require_source_cells(vtkDataSet* data, const std::string& operation, const char* method) {
  if (data->GetNumberOfCells() > 0) return;
  kelm::raise_value_error(operation, ": \"", method, "\" needs a source with cells; the source ",
                          "(from_mesh) is ", data->GetNumberOfPoints(),
                          " points without cells (\"Linear fit\" maps from a point cloud)");
}

void require_finite_points(vtkDataSet* data, const std::string& operation,
                           const std::string& what) {
  kelm::require_sound_dataset(data, operation, what);
  const vtkIdType bad = first_non_finite_point(data);
  if (bad >= 0) {
    double x[3];
    data->GetPoint(bad, x);
    kelm::raise_value_error(operation, ": ", what, " has a non-finite coordinate at point ", bad,
                            " (", x[0], ", ", x[1], ", ", x[2], ")");
  }
}

void require_points(vtkDataSet* data, const std::string& operation, const std::string& what) {
  if (data->GetNumberOfPoints() == 0) {
    kelm::raise_value_error(operation, ": ", what, " is empty (0 points); there is nothing to ",
                            "take values from");
  }
  require_finite_points(data, operation, what);
}

void mark_active_scalars(vtkDataSet* data, const std::string& field_name) {
  vtkPointData* point_data = data->GetPointData();
  if (point_data->GetAbstractArray(field_name.c_str())) {
    point_data->SetActiveScalars(field_name.c_str());
  }
}

void keep_resampling_safe(vtkResampleWithDataSet* resample, vtkDataSet* target) {
  if (target->GetNumberOfCells() == 0) resample->MarkBlankPointsAndCellsOff();
}

}  // namespace fieldferry_core
