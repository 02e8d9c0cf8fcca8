#include "source_stage.h"

#include <vtkCellData.h>
#include <vtkCompositeDataIterator.h>
#include <vtkFieldData.h>
#include <vtkMath.h>
#include <vtkMatrix4x4.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkTransform.h>
#include <vtkTransformFilter.h>

#include <algorithm>
#include <cmath>
#include <sstream>

#include "common/errors.h"
#include "mirrored_cells.h"

namespace fieldferry_core {

namespace {

constexpr char kNormalsArray[] = "Normals";

std::string box_text(const double b[6]) {
  std::ostringstream out;
  out.precision(4);
  out << "x " << b[0] << " to " << b[1] << ", y " << b[2] << " to " << b[3] << ", z " << b[4]
      << " to " << b[5];
  return out.str();
}

double diagonal(const double b[6]) {
  return std::sqrt((b[1] - b[0]) * (b[1] - b[0]) + (b[3] - b[2]) * (b[3] - b[2]) +
                   (b[5] - b[4]) * (b[5] - b[4]));
}

// Whether the 3x3 part of `move` turns space inside out (a mirror, alone or with a rotation).
bool mirrors(const Matrix4& move) {
  const double m[3][3] = {
      {move[0], move[1], move[2]}, {move[4], move[5], move[6]}, {move[8], move[9], move[10]}};
  return vtkMath::Determinant3x3(m) < 0;
}

// A shallow copy of `source` whose "Normals" arrays are its normals, so that the transform turns
// them as normals (by the inverse transpose) rather than leaving them pointing where they did.
vtkSmartPointer<vtkDataSet> with_normals_marked(vtkDataSet* source) {
  vtkSmartPointer<vtkDataSet> marked;
  marked.TakeReference(source->NewInstance());
  marked->ShallowCopy(source);
  for (vtkDataSetAttributes* data : {static_cast<vtkDataSetAttributes*>(marked->GetPointData()),
                                     static_cast<vtkDataSetAttributes*>(marked->GetCellData())}) {
    vtkDataArray* normals = data->GetArray(kNormalsArray);
    if (normals && normals->GetNumberOfComponents() == 3) data->SetNormals(normals);
  }
  return marked;
}

}  // namespace

double checked_length_factor(double factor, const std::string& operation, const std::string& from,
                             const std::string& to) {
  if (!std::isfinite(factor) || !(factor > 0)) {
    kelm::raise_value_error(operation, ": the length factor from '", from, "' to '", to, "' is ",
                            factor, "; it must be a positive finite number");
  }
  return factor;
}

vtkSmartPointer<vtkDataSet> placed_source(vtkDataSet* source, double factor,
                                          const std::optional<Matrix4>& move) {
  if (factor == 1.0 && !move) return source;
  auto transform = vtkSmartPointer<vtkTransform>::New();  // pre-multiplied: scale first
  if (move) {
    auto matrix = vtkSmartPointer<vtkMatrix4x4>::New();
    matrix->DeepCopy(move->data());
    transform->Concatenate(matrix);
  }
  if (factor != 1.0) transform->Scale(factor, factor, factor);
  auto filter = vtkSmartPointer<vtkTransformFilter>::New();
  filter->SetInputData(with_normals_marked(source));
  filter->SetTransform(transform);
  // Coordinates keep their precision: a float source scaled by 1000 stays exact enough, and a
  // double one is not rounded.
  filter->SetOutputPointsPrecision(vtkAlgorithm::DEFAULT_PRECISION);
  filter->TransformAllInputVectorsOff();
  filter->Update();
  vtkSmartPointer<vtkDataSet> placed = vtkDataSet::SafeDownCast(filter->GetOutputDataObject(0));
  if (move && mirrors(*move)) placed = with_cells_turned(placed);
  placed->GetFieldData()->PassData(source->GetFieldData());
  return placed;
}

bool model_bounds(vtkMultiBlockDataSet* model, double bounds[6]) {
  bool any = false;
  vtkSmartPointer<vtkCompositeDataIterator> it;
  it.TakeReference(model->NewIterator());
  it->SkipEmptyNodesOn();
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    auto* leaf = vtkDataSet::SafeDownCast(it->GetCurrentDataObject());
    if (!leaf || leaf->GetNumberOfPoints() == 0) continue;
    double b[6];
    leaf->GetBounds(b);
    for (int a = 0; a < 3; ++a) {
      bounds[2 * a] = any ? std::min(bounds[2 * a], b[2 * a]) : b[2 * a];
      bounds[2 * a + 1] = any ? std::max(bounds[2 * a + 1], b[2 * a + 1]) : b[2 * a + 1];
    }
    any = true;
  }
  return any;
}

std::optional<std::string> bounding_box_mismatch(const double source[6], const double model[6],
                                                 const std::string& unit, double tolerance) {
  const double source_size = diagonal(source), model_size = diagonal(model);
  // Each box grows by the slack on every side, so the two may lie up to twice it apart.
  const double slack = tolerance + kOverlapSlack * model_size;
  bool overlap = true;
  for (int a = 0; a < 3; ++a) {
    overlap = overlap && source[2 * a] <= model[2 * a + 1] + 2 * slack &&
              model[2 * a] <= source[2 * a + 1] + 2 * slack;
  }
  const double ratio =
      std::max(source_size, model_size) / std::max(std::min(source_size, model_size), 1e-300);
  if (overlap && ratio <= kLargestSizeRatio) return std::nullopt;
  std::ostringstream what;
  what.precision(3);
  if (!overlap) {
    what << "do not overlap";
  } else {
    what << "differ in size " << ratio << " times (diagonals " << source_size << " and "
         << model_size << ")";
  }
  return kelm::message("the source's bounding box (", box_text(source), ") and the model's (",
                       box_text(model), "), both in ", unit, ", ", what.str(),
                       "; are the length units of the source and the model right?");
}

}  // namespace fieldferry_core
