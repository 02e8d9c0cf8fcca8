// Builders of vtkCellArray in VTK 9's offsets + connectivity layout.
#pragma once

#include <vtkCellArray.h>
#include <vtkIdTypeArray.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kelm {

// A run of `count` cells of `width` points each.
struct CellBlock {
  vtkIdType width;
  vtkIdType count;
};

// Cells over an already filled `connectivity` array (point indices of all cells one after another)
// whose cells come in runs of fixed size. The array is kept, not copied.
vtkSmartPointer<vtkCellArray> cells_from_blocks(vtkIdTypeArray* connectivity,
                                                const std::vector<CellBlock>& blocks);

// `count` cells of `width` points each over `connectivity` (count * width entries).
vtkSmartPointer<vtkCellArray> fixed_size_cells(vtkIdTypeArray* connectivity, vtkIdType width);

// Cells from VTK's count-prefixed layout (n, i0 .. in-1, n, ...). Every count must be in
// [min_width, max_width] and every index below `num_points`; the list must hold exactly
// `expected_cells` cells when that is not negative. Violations raise ValueError naming `what`.
vtkSmartPointer<vtkCellArray> cells_from_count_prefixed(const uint32_t* list, std::size_t size,
                                                        vtkIdType num_points, vtkIdType min_width,
                                                        vtkIdType max_width,
                                                        vtkIdType expected_cells,
                                                        const std::string& what);

}  // namespace kelm
