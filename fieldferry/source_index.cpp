#include "source_index.h"

#include <vtkCellArray.h>
#include <vtkPointSet.h>
#include <vtkPolyData.h>
#include <vtkUnstructuredGrid.h>

namespace fieldferry_core {

namespace {

bool same_points(vtkDataSet* a, vtkDataSet* b) {
  if (a == b) return true;
  auto* pa = vtkPointSet::SafeDownCast(a);
  auto* pb = vtkPointSet::SafeDownCast(b);
  return pa && pb && pa->GetPoints() && pa->GetPoints() == pb->GetPoints();
}

// The same cell array object, or none in either.
bool same_array(vtkCellArray* a, vtkCellArray* b) {
  const bool empty_a = !a || a->GetNumberOfCells() == 0;
  const bool empty_b = !b || b->GetNumberOfCells() == 0;
  return (empty_a && empty_b) || a == b;
}

bool same_cells(vtkDataSet* a, vtkDataSet* b) {
  if (a == b) return true;
  if (!same_points(a, b)) return false;
  auto* pa = vtkPolyData::SafeDownCast(a);
  auto* pb = vtkPolyData::SafeDownCast(b);
  if (pa && pb) {
    return same_array(pa->GetVerts(), pb->GetVerts()) &&
           same_array(pa->GetLines(), pb->GetLines()) &&
           same_array(pa->GetPolys(), pb->GetPolys()) &&
           same_array(pa->GetStrips(), pb->GetStrips());
  }
  auto* ga = vtkUnstructuredGrid::SafeDownCast(a);
  auto* gb = vtkUnstructuredGrid::SafeDownCast(b);
  return ga && gb && ga->GetCells() == gb->GetCells() &&
         ga->GetCellTypesArray() == gb->GetCellTypesArray() && !ga->GetFaces() && !gb->GetFaces();
}

template <typename Index, typename Same>
Index& find_or_build(std::vector<std::pair<vtkSmartPointer<vtkDataSet>, std::unique_ptr<Index>>>&
                         built,
                     vtkDataSet* data, Same same) {
  for (auto& [dataset, index] : built) {
    if (same(dataset, data)) return *index;
  }
  built.emplace_back(data, std::make_unique<Index>(data));
  return *built.back().second;
}

}  // namespace

const PointTree& SourceIndex::points_of(vtkDataSet* data) {
  return find_or_build(trees_, data, same_points);
}

ClosestCells& SourceIndex::cells_of(vtkDataSet* data) {
  return find_or_build(cells_, data, same_cells);
}

}  // namespace fieldferry_core
