// Points a mapping could not give a value (their "vtkValidPointMask" entry is 0) keep the value 0
// in the data, indistinguishable from a mapped 0 when coloured. For display they are turned into
// NaN, which the lookup table draws in its NaN colour and which stays out of the colour range.
#pragma once

#include <vtkDataObject.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <string>

#include "common/mapped_leaf.h"

namespace sceneview_core {

using kelm::kValidMaskArray;

// `data` (a dataset or a multiblock) as it is to be shown coloured by the point field
// `field_name`: leaves whose mask has zeros are replaced by shallow copies whose field is NaN
// there. Returns `data` itself when no leaf needs that; the caller's datasets are never changed.
vtkSmartPointer<vtkDataObject> with_unmapped_as_nan(vtkDataObject* data,
                                                    const std::string& field_name);

// The points of every leaf of `data` whose mask entry is 0, as one cloud of vertices (empty when
// there are none). The NaN colour of a surface is lost on a bar, at a few nodes or in a small
// picture; these points are drawn on top as dots of a fixed size on the screen.
vtkSmartPointer<vtkPolyData> unmapped_point_cloud(vtkDataObject* data);

}  // namespace sceneview_core
