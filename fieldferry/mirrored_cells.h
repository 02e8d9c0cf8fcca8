// A mirror (a placement whose 3x3 part has a negative determinant) moves the points but leaves
// each cell's point order as it was, so every polygon's winding, and with it the normal the
// facing test and the force balance take from it, turns into the fluid, and every volume cell
// turns inside out. These put the order right again after such a move.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

namespace fieldferry_core {

// `mirrored` (a dataset just mirrored, which may share its cells with the caller's dataset) with
// the point order of its cells turned so that each keeps the orientation it had: polygons and
// strips of polydata, and the linear and quadratic 2-D and 3-D cells of an unstructured grid.
// Cell types without a known mirror order (polyhedra, higher-order cells) and the implicit cells
// of structured datasets keep theirs. Its point and cell data are not changed.
vtkSmartPointer<vtkDataSet> with_cells_turned(vtkDataSet* mirrored);

}  // namespace fieldferry_core
