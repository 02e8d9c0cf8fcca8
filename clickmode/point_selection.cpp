#include "point_selection.h"

#include <vtkCompositeDataIterator.h>
#include <vtkCompositeDataSet.h>
#include <vtkDataSet.h>
#include <vtkExtractGeometry.h>
#include <vtkObjectFactory.h>
#include <vtkProperty.h>
#include <vtkVertexGlyphFilter.h>

#include <cmath>
#include <limits>

namespace clickmode_core {

namespace {

// The frustum with every point that has no position (a NaN or infinite coordinate) outside it.
// The frustum's value at a point is the largest of its planes' values, and a NaN never compares
// larger, so such a point would come out inside every frustum and be picked by any drag.
class FiniteFrustum : public vtkImplicitFunction {
 public:
  static FiniteFrustum* New();
  vtkTypeMacro(FiniteFrustum, vtkImplicitFunction);

  vtkImplicitFunction* frustum = nullptr;

  using vtkImplicitFunction::EvaluateFunction;
  double EvaluateFunction(double x[3]) override {
    if (!std::isfinite(x[0]) || !std::isfinite(x[1]) || !std::isfinite(x[2])) {
      return std::numeric_limits<double>::max();
    }
    return frustum->FunctionValue(x);
  }
  void EvaluateGradient(double x[3], double g[3]) override { frustum->FunctionGradient(x, g); }
};

vtkStandardNewMacro(FiniteFrustum);

}  // namespace

vtkSmartPointer<vtkDataObject> points_inside_frustum(vtkDataObject* target,
                                                     vtkImplicitFunction* frustum) {
  auto finite = vtkSmartPointer<FiniteFrustum>::New();
  finite->frustum = frustum;
  // Both filters run per leaf under the composite pipeline, so a multiblock target gives a
  // multiblock selection that the composite mapper draws as it is.
  auto extract = vtkSmartPointer<vtkExtractGeometry>::New();
  extract->SetImplicitFunction(finite);
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
