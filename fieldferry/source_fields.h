// Where a source holds a field, and the field as point values for the methods that read points.
//
// CFD codes write wall values per face (cell data). A method that finds the source cell a target
// point lands in ("Mesh only", "Surface projection") takes that face's value as it is, so a field
// constant per face is carried exactly. The methods that read points ("Point cloud or mesh",
// "Linear fit", "Coarse to fine") get point values: at each source point the mean of the values
// of the cells around it, weighted by their size (area; length or volume for line and volume
// cells), which keeps a uniform field uniform and lets small faces count for little.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <string>
#include <vector>

namespace fieldferry_core {

enum class FieldPlace { none, points, cells };

// Point data when the source has a point array of that name, else cell data when it has a cell
// array, else none.
FieldPlace field_place(vtkDataSet* source, const std::string& name);

// `source` itself when every field of `names` is point data; otherwise a shallow copy in which each
// field held only as cell data gets a point array of the same name: the size-weighted mean of the
// cells around each point (NaN at a point no cell uses: it has no value). The cell arrays stay.
vtkSmartPointer<vtkDataSet> with_point_values(vtkDataSet* source,
                                              const std::vector<std::string>& names);

}  // namespace fieldferry_core
