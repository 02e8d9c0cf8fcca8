#include "point_selection.h"

#include <vtkCompositeDataIterator.h>
#include <vtkCompositeDataSet.h>
#include <vtkDataSet.h>
#include <vtkExtractGeometry.h>
#include <vtkProperty.h>
#include <vtkVertexGlyphFilter.h>

namespace clickmode_core {

vtkSmartPointer<vtkDataObject> points_inside_frustum(vtkDataObject* target,
                                                     vtkImplicitFunction* frustum) {
  // Both filters run per leaf under the composite pipeline, so a multiblock target gives a
  // multiblock selection that the composite mapper draws as it is.
  auto extract = vtkSmartPointer<vtkExtractGeometry>::New();
  extract->SetImplicitFunction(frustum);
  extract->SetInputDataObject(target);
  extract->Update();

  auto vertices = vtkSmartPointer<vtkVertexGlyphFilter>::New();
  vertices->SetInputDataObject(extract->GetOutputDataObject(0));
  vertices->Update();
  return vertices->GetOutputDataObject(0);
}

vtkIdType selection_point_count(vtkDataObject* selection) {
  if (auto* data = vtkDataSet::SafeDownCast(selection)) return data->GetNumberOfPoints();
  auto* composite = vtkCompositeDataSet::SafeDownCast(selection);
  if (!composite) return 0;
  vtkIdType count = 0;
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(composite->NewIterator());
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    if (auto* leaf = vtkDataSet::SafeDownCast(it->GetCurrentDataObject())) {
      count += leaf->GetNumberOfPoints();
    }
  }
  return count;
}

void show_selection(vtkDataObject* selection, vtkCompositePolyDataMapper2* mapper,
                    vtkActor* actor) {
  mapper->SetInputDataObject(selection);
  mapper->ScalarVisibilityOff();
  actor->GetProperty()->SetColor(kSelectionColor[0], kSelectionColor[1], kSelectionColor[2]);
  actor->GetProperty()->SetPointSize(kSelectionPointSize);
}

}  // namespace clickmode_core
