// Cell values (a CFD code's face values on walls, a finite-volume code's cell values in a volume)
// as point values that vary continuously and reproduce a linear field exactly.
//
// Each cell's value is the field at its centre (a face's area centroid, a volume cell's corner
// mean), so at each source point the value is the weighted least-squares linear fit through the
// centres of the cells around it (weighted_fit.h), evaluated at the point. Where those centres do
// not span as many directions as the cells have (the corner face of a sheet, the cells of a
// volume's outer layer, whose centres lie in one plane parallel to the boundary), the cells
// around them join in. A source merged from a volume and its boundary faces fits the boundary
// faces' values together with the cells', so boundary points reach the boundary's values.
// Averaging the cells to the point instead is off by the field's slope wherever the cells around
// a point are of unequal size, and a node projected onto a face then takes that face's value,
// jumping at every edge.
#pragma once

#include <vtkDataArray.h>
#include <vtkDataSet.h>
#include <vtkDoubleArray.h>
#include <vtkSmartPointer.h>

namespace fieldferry_core {

// A point array of the same name as `cell_values` (one component): the fitted value at each
// point; a field equal in every cell around a point keeps that value bit for bit, a point no
// cell uses gets NaN (no value).
vtkSmartPointer<vtkDoubleArray> reconstructed_at_points(vtkDataSet* source,
                                                        vtkDataArray* cell_values);

}  // namespace fieldferry_core
