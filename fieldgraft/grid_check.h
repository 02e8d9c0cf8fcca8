// A body grid's cells checked before any VTK filter or cell accessor reads them. A grid a host
// script builds by hand can list a hexahedron with three points, a point index outside the points
// or a polyhedron without its faces; VTK reads such cells out of bounds.
#pragma once

#include <vtkDataSet.h>

#include "body_tags.h"

namespace fieldgraft_core {

// Raises ValueError naming the first malformed cell of `grid` (an unstructured grid or polydata;
// other datasets have implicit cells and always pass): a point index outside the points, a point
// count its type does not have, a type VTK does not know, a polyhedron without a sound face list.
void require_sound_cells(vtkDataSet* grid, const Target& target);

}  // namespace fieldgraft_core
