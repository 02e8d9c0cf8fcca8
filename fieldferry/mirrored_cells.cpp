#include "mirrored_cells.h"

#include <vtkCellArray.h>
#include <vtkCellType.h>
#include <vtkIdTypeArray.h>
#include <vtkPolyData.h>
#include <vtkReverseSense.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

#include <algorithm>
#include <vector>

namespace fieldferry_core {

namespace {

struct MirrorOrder {
  int type;
  std::vector<vtkIdType> order;
};

// For each cell type, the point order of its mirror image: position k of the turned cell takes
// point order[k] of the mirrored one. Corners go round the other way; a quadratic cell's mid-side
// points follow their edges.
const std::vector<vtkIdType>* mirror_order(int type) {
  static const MirrorOrder kOrders[] = {
      {VTK_TRIANGLE, {0, 2, 1}},
      {VTK_QUAD, {0, 3, 2, 1}},
      {VTK_PIXEL, {0, 2, 1, 3}},
      {VTK_TETRA, {0, 2, 1, 3}},
      {VTK_VOXEL, {0, 2, 1, 3, 4, 6, 5, 7}},
      {VTK_HEXAHEDRON, {0, 3, 2, 1, 4, 7, 6, 5}},
      {VTK_WEDGE, {0, 2, 1, 3, 5, 4}},
      {VTK_PYRAMID, {0, 3, 2, 1, 4}},
      {VTK_QUADRATIC_TRIANGLE, {0, 2, 1, 5, 4, 3}},
      {VTK_QUADRATIC_QUAD, {0, 3, 2, 1, 7, 6, 5, 4}},
      {VTK_QUADRATIC_TETRA, {0, 2, 1, 3, 6, 5, 4, 7, 9, 8}},
      {VTK_QUADRATIC_HEXAHEDRON,
       {0, 3, 2, 1, 4, 7, 6, 5, 11, 10, 9, 8, 15, 14, 13, 12, 16, 19, 18, 17}},
      {VTK_QUADRATIC_WEDGE, {0, 2, 1, 3, 5, 4, 8, 7, 6, 11, 10, 9, 12, 14, 13}},
      {VTK_QUADRATIC_PYRAMID, {0, 3, 2, 1, 4, 8, 7, 6, 5, 9, 12, 11, 10}},
  };
  for (const MirrorOrder& entry : kOrders) {
    if (entry.type == type) return &entry.order;
  }
  return nullptr;
}

vtkSmartPointer<vtkDataSet> turned_surface(vtkPolyData* mirrored) {
  auto reverse = vtkSmartPointer<vtkReverseSense>::New();
  reverse->SetInputData(mirrored);
  reverse->ReverseCellsOn();
  // The normals were carried through the mirror as normals already: they agree with the turned
  // winding.
  reverse->ReverseNormalsOff();
  reverse->Update();
  return reverse->GetOutput();
}

vtkSmartPointer<vtkDataSet> turned_grid(vtkUnstructuredGrid* mirrored) {
  vtkCellArray* cells = mirrored->GetCells();
  auto offsets = vtkSmartPointer<vtkIdTypeArray>::New();
  auto connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
  offsets->DeepCopy(cells->GetOffsetsArray());
  connectivity->DeepCopy(cells->GetConnectivityArray());
  vtkIdType* ids = connectivity->GetPointer(0);
  std::vector<vtkIdType> was;
  for (vtkIdType c = 0; c < mirrored->GetNumberOfCells(); ++c) {
    vtkIdType* first = ids + offsets->GetValue(c);
    const vtkIdType size = offsets->GetValue(c + 1) - offsets->GetValue(c);
    const int type = mirrored->GetCellType(c);
    if (type == VTK_POLYGON) {
      std::reverse(first, first + size);
      continue;
    }
    const std::vector<vtkIdType>* order = mirror_order(type);
    if (!order || vtkIdType(order->size()) != size) continue;
    was.assign(first, first + size);
    for (vtkIdType k = 0; k < size; ++k) first[k] = was[(*order)[k]];
  }
  auto turned_cells = vtkSmartPointer<vtkCellArray>::New();
  turned_cells->SetData(offsets, connectivity);
  auto turned = vtkSmartPointer<vtkUnstructuredGrid>::New();
  turned->ShallowCopy(mirrored);
  turned->SetCells(mirrored->GetCellTypesArray(), turned_cells, mirrored->GetFaceLocations(),
                   mirrored->GetFaces());
  return turned;
}

}  // namespace

vtkSmartPointer<vtkDataSet> with_cells_turned(vtkDataSet* mirrored) {
  if (auto* poly = vtkPolyData::SafeDownCast(mirrored)) return turned_surface(poly);
  if (auto* grid = vtkUnstructuredGrid::SafeDownCast(mirrored)) return turned_grid(grid);
  return mirrored;
}

}  // namespace fieldferry_core
