// Input checks shared by the operations: a source or target that VTK's locators cannot work with
// (no points, NaN or infinite coordinates) is refused before any filter runs, since a locator
// built over non-finite bounds indexes its buckets out of range.
#pragma once

#include <vtkDataSet.h>
#include <vtkResampleWithDataSet.h>

#include <string>

namespace fieldferry_core {

// Raises ValueError naming `operation` and `what` when `data` has a non-finite coordinate; checks
// its arrays and cells as above first.
void require_finite_points(vtkDataSet* data, const std::string& operation, const std::string& what);

// Raises ValueError when `data` has no points, then checks its coordinates as above.
void require_points(vtkDataSet* data, const std::string& operation, const std::string& what);

// Raises ValueError when the source `data` has no cells: `method` (its name, quoted in the
// message) reads the source's cells, and a point cloud has none.
void require_source_cells(vtkDataSet* data, const std::string& operation, const char* method);

// Raises KeyError when the source `data` has no point or cell data array `field_name` (listing
// the arrays it has), TypeError when that array holds no numbers.
void require_source_field(vtkDataSet* data, const std::string& field_name,
                          const std::string& operation);

// "['a', 'b']": the names of the arrays of `data`, for messages.
std::string array_names(vtkFieldData* data);

// Sets `field_name` as the active scalars of the point data when such an array exists; otherwise
// the active scalars stay as they were.
void mark_active_scalars(vtkDataSet* data, const std::string& field_name);

// VTK 9.1's resampling crashes when it blanks the cells of a target that has none (a point cloud
// with points outside the source); such a target has no cells to blank, so blanking is turned
// off for it alone. Every other target keeps the filter's default.
void keep_resampling_safe(vtkResampleWithDataSet* resample, vtkDataSet* target);

}  // namespace fieldferry_core
