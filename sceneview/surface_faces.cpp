#include "surface_faces.h"

#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataObjectTreeIterator.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkPolyData.h>

namespace sceneview_core {
namespace {

bool has_vertices_beside_faces(vtkDataObject* data) {
  auto* poly = vtkPolyData::SafeDownCast(data);
  return poly && poly->GetNumberOfVerts() > 0 &&
         (poly->GetNumberOfPolys() > 0 || poly->GetNumberOfLines() > 0 ||
          poly->GetNumberOfStrips() > 0);
}

vtkSmartPointer<vtkPolyData> faces_only(vtkPolyData* poly) {
  auto faces = vtkSmartPointer<vtkPolyData>::New();
  faces->ShallowCopy(poly);
  const vtkIdType verts = poly->GetNumberOfVerts();
  const vtkIdType rest = poly->GetNumberOfCells() - verts;
  faces->SetVerts(vtkSmartPointer<vtkCellArray>::New());
  // Cell data runs over the vertices first; the faces' tuples are the ones after them.
  vtkCellData* from = poly->GetCellData();
  for (int a = 0; a < from->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* array = from->GetAbstractArray(a);
    if (array->GetNumberOfTuples() != poly->GetNumberOfCells()) continue;
    vtkSmartPointer<vtkAbstractArray> sliced;
    sliced.TakeReference(array->NewInstance());
    sliced->SetName(array->GetName());
    sliced->SetNumberOfComponents(array->GetNumberOfComponents());
    sliced->InsertTuples(0, rest, verts, array);
    faces->GetCellData()->AddArray(sliced);
  }
  if (vtkDataArray* scalars = from->GetScalars()) {
    if (scalars->GetName()) faces->GetCellData()->SetActiveScalars(scalars->GetName());
  }
  return faces;
}

}  // namespace

vtkSmartPointer<vtkDataObject> without_vertices_beside_faces(vtkDataObject* data) {
  if (auto* poly = vtkPolyData::SafeDownCast(data)) {
    if (!has_vertices_beside_faces(poly)) return data;
    return faces_only(poly);
  }
  auto* blocks = vtkMultiBlockDataSet::SafeDownCast(data);
  if (!blocks) return data;
  vtkSmartPointer<vtkDataObjectTreeIterator> it;
  it.TakeReference(blocks->NewTreeIterator());
  it->VisitOnlyLeavesOn();
  it->SkipEmptyNodesOn();
  bool needed = false;
  for (it->InitTraversal(); !it->IsDoneWithTraversal() && !needed; it->GoToNextItem()) {
    needed = has_vertices_beside_faces(it->GetCurrentDataObject());
  }
  if (!needed) return data;
  auto copy = vtkSmartPointer<vtkMultiBlockDataSet>::New();
  copy->CopyStructure(blocks);
  for (it->InitTraversal(); !it->IsDoneWithTraversal(); it->GoToNextItem()) {
    vtkDataObject* leaf = it->GetCurrentDataObject();
    auto* poly = vtkPolyData::SafeDownCast(leaf);
    if (has_vertices_beside_faces(leaf)) {
      copy->SetDataSet(it, faces_only(poly));
    } else {
      copy->SetDataSet(it, leaf);
    }
  }
  return copy;
}

}  // namespace sceneview_core
