// Checks that a dataset is safe to hand to VTK's filters. They index point and cell arrays by
// point and cell number without looking at the arrays' lengths, and follow cell connectivity
// without checking the point IDs; a dataset built by a script with an array too short or a cell
// naming a point that does not exist would be read past its end.
#pragma once

#include <vtkAbstractArray.h>
#include <vtkCellArray.h>
#include <vtkCellData.h>
#include <vtkDataSet.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>
#include <vtkUnstructuredGrid.h>

#include <string>

#include "common/errors.h"

namespace kelm {

namespace detail {

inline void require_long_enough(vtkDataSetAttributes* attributes, vtkIdType needed,
                                const char* kind, const std::string& operation,
                                const std::string& what) {
  for (int i = 0; i < attributes->GetNumberOfArrays(); ++i) {
    vtkAbstractArray* array = attributes->GetAbstractArray(i);
    if (!array || array->GetNumberOfTuples() >= needed) continue;
    raise_value_error(operation, ": ", what, " has a ", kind, " array '",
                      array->GetName() ? array->GetName() : "", "' of ", array->GetNumberOfTuples(),
                      " values for ", needed, " ", kind, "s");
  }
}

inline void require_valid_cells(vtkCellArray* cells, const char* kind, vtkIdType points,
                                const std::string& operation, const std::string& what) {
  if (!cells || cells->GetNumberOfCells() == 0) return;
  if (!cells->IsValid()) {
    raise_value_error(operation, ": ", what, " has a malformed ", kind,
                      " cell array (offsets out of order or past its connectivity)");
  }
  double range[2];
  cells->GetConnectivityArray()->GetRange(range, 0);
  if (range[0] < 0 || range[1] >= static_cast<double>(points)) {
    raise_value_error(operation, ": ", what, " has a ", kind, " cell referring to point ",
                      static_cast<long long>(range[0] < 0 ? range[0] : range[1]), " of ", points,
                      " points");
  }
}

}  // namespace detail

// Raises ValueError "<operation>: <what> has ..." when a point or cell array of `data` holds fewer
// values than there are points or cells, a cell array is malformed, a cell refers to a point that
// does not exist, or an unstructured grid has fewer cell types than cells. Longer arrays pass.
inline void require_intact_arrays(vtkDataSet* data, const std::string& operation,
                                  const std::string& what) {
  const vtkIdType points = data->GetNumberOfPoints();
  if (auto* poly = vtkPolyData::SafeDownCast(data)) {
    detail::require_valid_cells(poly->GetVerts(), "vertex", points, operation, what);
    detail::require_valid_cells(poly->GetLines(), "line", points, operation, what);
    detail::require_valid_cells(poly->GetPolys(), "polygon", points, operation, what);
    detail::require_valid_cells(poly->GetStrips(), "strip", points, operation, what);
  } else if (auto* grid = vtkUnstructuredGrid::SafeDownCast(data)) {
    vtkCellArray* cells = grid->GetCells();
    detail::require_valid_cells(cells, "grid", points, operation, what);
    vtkUnsignedCharArray* types = grid->GetCellTypesArray();
    const vtkIdType count = cells ? cells->GetNumberOfCells() : 0;
    if (count && (!types || types->GetNumberOfTuples() < count)) {
      raise_value_error(operation, ": ", what, " has ", count, " cells but ",
                        types ? types->GetNumberOfTuples() : 0, " cell types");
    }
  }
  detail::require_long_enough(data->GetPointData(), points, "point", operation, what);
  detail::require_long_enough(data->GetCellData(), data->GetNumberOfCells(), "cell", operation,
                              what);
}

}  // namespace kelm
