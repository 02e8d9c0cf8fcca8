#include "unmapped_points.h"

#include <vtkCellArray.h>
#include <vtkCompositeDataIterator.h>
#include <vtkDataSet.h>
#include <vtkDoubleArray.h>
#include <vtkFloatArray.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkPointData.h>
#include <vtkPoints.h>

#include <algorithm>
#include <limits>

namespace sceneview_core {

namespace {

// A shallow copy of `leaf` with NaN in its field where the mask is 0, or null when it needs none.
vtkSmartPointer<vtkDataSet> masked_leaf(vtkDataSet* leaf, const std::string& field_name) {
  vtkPointData* pd = leaf->GetPointData();
  vtkDataArray* mask = pd->GetArray(kValidMaskArray);
  vtkDataArray* field = pd->GetArray(field_name.c_str());
  if (!mask || !field || mask->GetNumberOfTuples() != field->GetNumberOfTuples()) return nullptr;
  const vtkIdType n = field->GetNumberOfTuples();
  vtkIdType unmapped = 0;
  for (vtkIdType i = 0; i < n; ++i) unmapped += mask->GetComponent(i, 0) == 0;
  if (unmapped == 0) return nullptr;

  vtkSmartPointer<vtkDataArray> shown;
  if (field->GetDataType() == VTK_FLOAT) {
    shown = vtkSmartPointer<vtkFloatArray>::New();
  } else {
    shown = vtkSmartPointer<vtkDoubleArray>::New();
  }
  shown->DeepCopy(field);
  shown->SetName(field->GetName());
  const int components = field->GetNumberOfComponents();
  for (vtkIdType i = 0; i < n; ++i) {
    if (mask->GetComponent(i, 0) != 0) continue;
    for (int c = 0; c < components; ++c) {
      shown->SetComponent(i, c, std::numeric_limits<double>::quiet_NaN());
    }
  }
  vtkSmartPointer<vtkDataSet> copy;
  copy.TakeReference(leaf->NewInstance());
  copy->ShallowCopy(leaf);
  const bool active = pd->GetScalars() == field;
  copy->GetPointData()->RemoveArray(field_name.c_str());
  copy->GetPointData()->AddArray(shown);
  if (active) copy->GetPointData()->SetActiveScalars(field_name.c_str());
  return copy;
}

}  // namespace

vtkSmartPointer<vtkDataObject> with_unmapped_as_nan(vtkDataObject* data,
                                                    const std::string& field_name) {
  if (auto* leaf = vtkDataSet::SafeDownCast(data)) {
    vtkSmartPointer<vtkDataSet> masked = masked_leaf(leaf, field_name);
    return masked ? vtkSmartPointer<vtkDataObject>(masked) : vtkSmartPointer<vtkDataObject>(data);
  }
  auto* tree = vtkMultiBlockDataSet::SafeDownCast(data);
  if (!tree) return data;
  auto copy = vtkSmartPointer<vtkMultiBlockDataSet>::New();
  copy->CopyStructure(tree);
  bool changed = false;
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(tree->NewIterator());
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* original = it->GetCurrentDataObject();
    vtkSmartPointer<vtkDataSet> masked;
    if (auto* leaf = vtkDataSet::SafeDownCast(original)) masked = masked_leaf(leaf, field_name);
    changed = changed || masked;
    copy->SetDataSet(it, masked ? static_cast<vtkDataObject*>(masked) : original);
  }
  if (!changed) return data;
  return copy;
}

namespace {

void add_unmapped_points(vtkDataSet* leaf, vtkPoints* points) {
  vtkDataArray* mask = leaf->GetPointData()->GetArray(kValidMaskArray);
  if (!mask) return;
  const vtkIdType n = std::min(leaf->GetNumberOfPoints(), mask->GetNumberOfTuples());
  double xyz[3];
  for (vtkIdType i = 0; i < n; ++i) {
    if (mask->GetComponent(i, 0) != 0) continue;
    leaf->GetPoint(i, xyz);
    points->InsertNextPoint(xyz);
  }
}

}  // namespace

vtkSmartPointer<vtkPolyData> unmapped_point_cloud(vtkDataObject* data) {
  auto points = vtkSmartPointer<vtkPoints>::New();
  if (auto* leaf = vtkDataSet::SafeDownCast(data)) {
    add_unmapped_points(leaf, points);
  } else if (auto* tree = vtkCompositeDataSet::SafeDownCast(data)) {
    vtkSmartPointer<vtkCompositeDataIterator> it;
    it.TakeReference(tree->NewIterator());
    it->SkipEmptyNodesOn();
    for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
      if (auto* leaf = vtkDataSet::SafeDownCast(it->GetCurrentDataObject())) {
        add_unmapped_points(leaf, points);
      }
    }
  }
  auto vertices = vtkSmartPointer<vtkCellArray>::New();
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i) vertices->InsertNextCell(1, &i);
  auto cloud = vtkSmartPointer<vtkPolyData>::New();
  cloud->SetPoints(points);
  cloud->SetVerts(vertices);
  return cloud;
}

}  // namespace sceneview_core
