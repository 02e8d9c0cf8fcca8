// The outer surface of one body, as boundary mapping samples the field onto it.
#pragma once

#include <vtkDataSet.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

namespace fieldferry_core {

// The surface of `body` as vtkDataSetSurfaceFilter makes it at nonlinear subdivision level 0: every
// boundary face as one linear polygon on its corner nodes, which is what the host's element faces
// are matched against when a pressure is loaded, and the body's 0D, 1D and 2D cells as they are.
// Two things are added to the filter's output:
// - the mid-side nodes of the quadratic faces (and of quadratic edges and shells), one vertex cell
//   each, carrying the cell data of the element they belong to, so that every surface node of a
//   quadratic body gets a value, a mask entry and a place in a temperature load;
// - a fixed order: points in the body's point order, cells (vertices, lines, polygons) in the
//   body's cell order, as the threaded filter orders them differently from run to run.
//
// The filter keeps a record of every face of the volume until it ends (2 GB for ten million
// hexahedra, for a surface of 20 MB), so an unstructured grid of linear cells (vertices, lines,
// triangles, quadrilaterals, pixels, polygons, strips; tetrahedra, voxels, hexahedra, wedges,
// pyramids) is not given to it: its cells are walked in body order, each solid face is inserted
// into a hash of small fixed-size keys when first met and removed when met again, and what remains
// is the boundary. That needs memory for the faces alive at a time (a cross-section plus the
// boundary in the locality order of FE exports) and two bits per body point, and gives the filter's
// result exactly, corner order included (smallest corner ID first). Everything else goes through
// the filter: quadratic and other nonlinear cells (which mid-side node belongs to which element
// follows the order the filter's internal face table puts its faces out in), polyhedra, other
// prisms, ghosts, collapsed elements, grids without cells, polydata and other datasets. Unlike the
// filter, the walk keeps a face that three or more solids share (overlapping elements).
vtkSmartPointer<vtkPolyData> outer_surface(vtkDataSet* body);

// The same surface by the walk over the cells, or nullptr for a body the walk leaves to the filter.
vtkSmartPointer<vtkPolyData> walked_outer_surface(vtkDataSet* body);

// The same surface, always through vtkDataSetSurfaceFilter: the path outer_surface takes where it
// does not walk the cells itself, and the reference that the walk is held to.
vtkSmartPointer<vtkPolyData> filtered_outer_surface(vtkDataSet* body);

}  // namespace fieldferry_core
