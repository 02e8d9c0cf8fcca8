#include "common/cell_arrays.h"

#include <cassert>

#include "common/errors.h"

namespace kelm {

vtkSmartPointer<vtkCellArray> cells_from_blocks(vtkIdTypeArray* connectivity,
                                                const std::vector<CellBlock>& blocks) {
  vtkIdType num_cells = 0;
  for (const CellBlock& block : blocks) num_cells += block.count;

  auto offsets = vtkSmartPointer<vtkIdTypeArray>::New();
  offsets->SetNumberOfValues(num_cells + 1);
  vtkIdType* offset = offsets->GetPointer(0);
  vtkIdType position = 0;
  *offset++ = 0;
  for (const CellBlock& block : blocks) {
    for (vtkIdType c = 0; c < block.count; ++c) *offset++ = (position += block.width);
  }
  assert(position == connectivity->GetNumberOfValues() &&
         "the blocks must account for every connectivity entry");

  auto cells = vtkSmartPointer<vtkCellArray>::New();
  cells->SetData(offsets, connectivity);
  return cells;
}

vtkSmartPointer<vtkCellArray> fixed_size_cells(vtkIdTypeArray* connectivity, vtkIdType width) {
  return cells_from_blocks(connectivity, {{width, connectivity->GetNumberOfValues() / width}});
}

vtkSmartPointer<vtkCellArray> cells_from_count_prefixed(const uint32_t* list, std::size_t size,
                                                        vtkIdType num_points, vtkIdType min_width,
                                                        vtkIdType max_width,
                                                        vtkIdType expected_cells,
                                                        const std::string& what) {
  // First pass: validate and count, so that the arrays are allocated once.
  vtkIdType num_cells = 0;
  std::size_t i = 0;
  while (i < size) {
    const vtkIdType n = list[i];
    if (n < min_width || n > max_width) {
      raise_value_error(what, ": cell ", num_cells, " has point count ", n, " at position ", i,
                        "; expected ", min_width, " to ", max_width);
    }
    if (i + 1 + std::size_t(n) > size) {
      raise_value_error(what, ": cell ", num_cells, " needs ", n,
                        " point indices but the list ends", " after ", size - i - 1);
    }
    for (std::size_t k = i + 1; k <= i + std::size_t(n); ++k) {
      if (vtkIdType(list[k]) >= num_points) {
        raise_value_error(what, ": point index ", list[k], " of cell ", num_cells,
                          " is not below the number of points ", num_points);
      }
    }
    i += 1 + n;
    ++num_cells;
  }
  if (expected_cells >= 0 && num_cells != expected_cells) {
    raise_value_error(what, ": the cell list holds ", num_cells, " cells but ", expected_cells,
                      " cell types were given");
  }

  auto offsets = vtkSmartPointer<vtkIdTypeArray>::New();
  auto connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
  offsets->SetNumberOfValues(num_cells + 1);
  connectivity->SetNumberOfValues(vtkIdType(size) - num_cells);
  vtkIdType* offset = offsets->GetPointer(0);
  vtkIdType* point = connectivity->GetPointer(0);
  vtkIdType position = 0;
  *offset++ = 0;
  for (i = 0; i < size; i += 1 + list[i]) {
    for (std::size_t k = i + 1; k <= i + list[i]; ++k) *point++ = list[k];
    *offset++ = (position += list[i]);
  }
  auto cells = vtkSmartPointer<vtkCellArray>::New();
  cells->SetData(offsets, connectivity);
  return cells;
}

}  // namespace kelm
