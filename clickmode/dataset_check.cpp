#include "dataset_check.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkCompositeDataIterator.h>
#include <vtkCompositeDataSet.h>
#include <vtkDataArray.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkUnstructuredGrid.h>

#include "common/errors.h"
#include "common/tag_arrays.h"

namespace clickmode_core {

namespace {

std::string body_of(vtkDataObject* data) {
  const std::string* path = kelm::string_field(data, kelm::kBodyPathArray);
  return path ? "body '" + *path + "'" : std::string("a body without a path name");
}

void require_long_enough(vtkDataSet* data, vtkDataSetAttributes* attributes, vtkIdType count,
                         const char* kind, const std::string& operation) {
  for (int i = 0; i < attributes->GetNumberOfArrays(); ++i) {
    vtkAbstractArray* array = attributes->GetAbstractArray(i);
    if (!array || array->GetNumberOfTuples() >= count) continue;
    kelm::raise_value_error(operation, ": the ", kind, " array '",
                            array->GetName() ? array->GetName() : "", "' of ", body_of(data), " (",
                            data->GetClassName(), ") has ", array->GetNumberOfTuples(),
                            " tuples for ", count, " ", kind, "s");
  }
}

void require_points_exist(vtkDataSet* data, vtkCellArray* cells, const std::string& operation) {
  if (!cells || cells->GetNumberOfConnectivityIds() == 0) return;
  double range[2];
  cells->GetConnectivityArray()->GetRange(range, 0);
  const vtkIdType points = data->GetNumberOfPoints();
  if (range[0] >= 0 && range[1] < points) return;
  kelm::raise_value_error(
      operation, ": a cell of ", body_of(data), " (", data->GetClassName(), ") names point ",
      static_cast<long long>(range[0] < 0 ? range[0] : range[1]), ", outside 0..", points - 1);
}

}  // namespace

void require_consistent(vtkDataSet* data, const std::string& operation) {
  if (auto* poly = vtkPolyData::SafeDownCast(data)) {
    for (vtkCellArray* cells :
         {poly->GetVerts(), poly->GetLines(), poly->GetPolys(), poly->GetStrips()}) {
      require_points_exist(data, cells, operation);
    }
  } else if (auto* grid = vtkUnstructuredGrid::SafeDownCast(data)) {
    require_points_exist(data, grid->GetCells(), operation);
  }
  require_long_enough(data, data->GetPointData(), data->GetNumberOfPoints(), "point", operation);
  require_long_enough(data, data->GetCellData(), data->GetNumberOfCells(), "cell", operation);
}

void require_drawable_leaves(vtkDataObject* data, const std::string& operation) {
  if (auto* single = vtkDataSet::SafeDownCast(data)) {
    require_consistent(single, operation);
    return;
  }
  auto* composite = vtkCompositeDataSet::SafeDownCast(data);
  if (!composite) return;
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(composite->NewIterator());
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* leaf = it->GetCurrentDataObject();
    if (auto* dataset = vtkDataSet::SafeDownCast(leaf)) {
      require_consistent(dataset, operation);
      continue;
    }
    kelm::raise_type_error(operation, ": leaf ", it->GetCurrentFlatIndex(),
                           " of the multiblock is a ", leaf->GetClassName(),
                           ", not a dataset (vtkDataSet) that can be drawn");
  }
}

}  // namespace clickmode_core
