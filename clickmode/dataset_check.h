// Checks of a dataset before a pipeline reads it: the pick extraction here and the viewer's display
// pipelines (sceneview). VTK's filters and mappers trust their input: a multiblock leaf that is
// not a dataset (a vtkTable, say), an attribute array shorter than the points or cells it
// describes, or a cell naming a point that does not exist make them read memory that is not
// there. Such input is refused up front, before anything is rewired.
#pragma once

#include <vtkDataObject.h>
#include <vtkDataSet.h>

#include <string>

namespace clickmode_core {

// Raises std::invalid_argument (ValueError) naming `operation`, the body, the array and
// the counts when an array of the point or cell data is shorter than the points or cells, or a
// cell of a polydata or unstructured grid names a point outside 0..points-1.
void require_consistent(vtkDataSet* data, const std::string& operation);

// The same for every non-empty leaf of a multiblock (or `data` itself when it is a dataset);
// raises kelm::type_error naming the leaf's flat index and class when a leaf is not a vtkDataSet.
void require_drawable_leaves(vtkDataObject* data, const std::string& operation);

}  // namespace clickmode_core
