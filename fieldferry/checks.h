// Input checks shared by the operations: a source or target that VTK's locators cannot work with
// (no points, NaN or infinite coordinates) is refused before any filter runs, since a locator
// built over non-finite bounds indexes its buckets out of range.
#pragma once

#include <vtkDataSet.h>

#include <string>

namespace fieldferry_core {

// Raises ValueError naming `operation` and `what` when `data` has a non-finite coordinate.
void require_finite_points(vtkDataSet* data, const std::string& operation, const std::string& what);

// Raises ValueError when `data` has no points, then checks its coordinates as above.
void require_points(vtkDataSet* data, const std::string& operation, const std::string& what);

// Sets `field_name` as the active scalars of the point data when such an array exists; otherwise
// the active scalars stay as they were.
void mark_active_scalars(vtkDataSet* data, const std::string& field_name);

}  // namespace fieldferry_core
