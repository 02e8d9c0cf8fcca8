#include "source_cells.h"

#include <vtkCellArray.h>
#include <vtkCellTypes.h>
#include <vtkDoubleArray.h>
#include <vtkGenericCell.h>
#include <vtkIdList.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkTypeInt64Array.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

namespace fieldferry_core {

unsigned cell_dimensions(vtkDataSet* data) {
  if (vtkPolyData::SafeDownCast(data)) return kVolumeCells - 1;
  auto types = vtkSmartPointer<vtkCellTypes>::New();
  data->GetCellTypes(types);
  auto cell = vtkSmartPointer<vtkGenericCell>::New();
  unsigned dimensions = 0;
  for (vtkIdType i = 0; i < types->GetNumberOfTypes(); ++i) {
    cell->SetCellType(types->GetCellType(i));
    dimensions |= 1u << cell->GetCellDimension();
  }
  return dimensions;
}

namespace {

static_assert(sizeof(vtkIdType) == sizeof(vtkTypeInt64), "cell arrays are read as vtkIdType");

bool in_place(vtkCellArray* cells, const vtkIdType*& offsets, const vtkIdType*& connectivity) {
  if (!cells || !cells->IsStorage64Bit()) return false;
  offsets = reinterpret_cast<const vtkIdType*>(cells->GetOffsetsArray64()->GetPointer(0));
  connectivity = reinterpret_cast<const vtkIdType*>(cells->GetConnectivityArray64()->GetPointer(0));
  return true;
}

}  // namespace

SourceCells::SourceCells(vtkDataSet* source)
    : points_(source->GetNumberOfPoints()), cells_(source->GetNumberOfCells()) {
  auto* set = vtkPointSet::SafeDownCast(source);
  auto* coordinates =
      set && set->GetPoints() ? vtkDoubleArray::SafeDownCast(set->GetPoints()->GetData()) : nullptr;
  if (coordinates && coordinates->GetNumberOfComponents() == 3) {
    xyz_ = coordinates->GetPointer(0);
  } else {
    xyz_copy_.resize(static_cast<size_t>(points_) * 3);
    for (vtkIdType p = 0; p < points_; ++p) source->GetPoint(p, &xyz_copy_[3 * p]);
    xyz_ = xyz_copy_.data();
  }

  auto* poly = vtkPolyData::SafeDownCast(source);
  if (poly && poly->GetNumberOfVerts() == 0 && poly->GetNumberOfLines() == 0 &&
      poly->GetNumberOfStrips() == 0 && in_place(poly->GetPolys(), offsets_, connectivity_)) {
    triangles_ = true;
    for (vtkIdType c = 0; c < cells_ && triangles_; ++c) {
      triangles_ = offsets_[c + 1] - offsets_[c] == 3;
    }
    return;
  }
  auto* grid = vtkUnstructuredGrid::SafeDownCast(source);
  if (grid && grid->GetCellTypesArray() && in_place(grid->GetCells(), offsets_, connectivity_)) {
    types_ = grid->GetCellTypesArray()->GetPointer(0);
    return;
  }
  offsets_copy_.assign(static_cast<size_t>(cells_) + 1, 0);
  types_copy_.resize(static_cast<size_t>(cells_));
  auto ids = vtkSmartPointer<vtkIdList>::New();
  for (vtkIdType c = 0; c < cells_; ++c) {
    source->GetCellPoints(c, ids);
    connectivity_copy_.insert(connectivity_copy_.end(), ids->GetPointer(0),
                              ids->GetPointer(0) + ids->GetNumberOfIds());
    offsets_copy_[c + 1] = static_cast<vtkIdType>(connectivity_copy_.size());
    types_copy_[c] = static_cast<unsigned char>(source->GetCellType(c));
  }
  offsets_ = offsets_copy_.data();
  connectivity_ = connectivity_copy_.data();
  types_ = types_copy_.data();
}

void SourceCells::link_points() {
  if (!point_offsets_.empty()) return;
  const vtkIdType references = offsets_[cells_];
  point_offsets_.assign(static_cast<size_t>(points_) + 1, 0);
  for (vtkIdType k = 0; k < references; ++k) ++point_offsets_[connectivity_[k] + 1];
  for (vtkIdType p = 0; p < points_; ++p) point_offsets_[p + 1] += point_offsets_[p];
  point_cells_.resize(static_cast<size_t>(references));
  std::vector<vtkIdType> fill(point_offsets_.begin(), point_offsets_.end() - 1);
  for (vtkIdType c = 0; c < cells_; ++c) {
    for (vtkIdType k = offsets_[c]; k < offsets_[c + 1]; ++k) {
      point_cells_[fill[connectivity_[k]]++] = c;
    }
  }
}

}  // namespace fieldferry_core
