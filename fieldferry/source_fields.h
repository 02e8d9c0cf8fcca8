// Where a source holds a field, and the field as point values for the methods that read points.
//
// CFD codes write wall values per face (cell data), finite-volume codes cell values in a volume.
// "Face average" integrates the faces' own values. Every method that gives nodes their values
// reads points instead, so that a node takes a field that varies continuously from one face to
// the next: at each source point the linear fit through the centres of the cells around it
// (face_reconstruction.h), exact for a linear field and for a uniform one.
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
// field held only as cell data gets a point array of the same name, reconstructed from the cells
// around each point (NaN at a point no cell uses: it has no value). The cell arrays stay.
vtkSmartPointer<vtkDataSet> with_point_values(vtkDataSet* source,
                                              const std::vector<std::string>& names);

}  // namespace fieldferry_core
