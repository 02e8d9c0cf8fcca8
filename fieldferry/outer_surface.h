// The outer surface of one body, as boundary mapping samples the field onto it.
#pragma once

#include <vtkDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

namespace fieldferry_core {

// The surface of `body` from vtkDataSetSurfaceFilter at nonlinear subdivision level 0: every
// boundary face as one linear polygon on its corner nodes, which is what the host's element faces
// are matched against when a pressure is loaded. Two things are added to the filter's output:
// - the mid-side nodes of the quadratic faces (and of quadratic edges and shells), one vertex cell
//   each, carrying the cell data of the element they belong to, so that every surface node of a
//   quadratic body gets a value, a mask entry and a place in a temperature load;
// - a fixed order: points in the body's point order, cells (vertices, lines, polygons) in the
//   body's cell order, as the threaded filter orders them differently from run to run.
vtkSmartPointer<vtkPolyData> outer_surface(vtkDataSet* body);

}  // namespace fieldferry_core
