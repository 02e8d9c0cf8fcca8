// The unsigned distance from each point of a target to a source: the point array "Distance"
// (and, measured from the cell centres, a cell array "Distance" when the location is not "Point").
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <string>

#include "common/mapped_leaf.h"

namespace fieldferry_core {

using kelm::kDistanceArray;
inline constexpr char kImageScalarsArray[] = "ImageScalars";

// `to_mesh` itself when it already has a point array "Distance"; otherwise a new dataset: the
// target resampled on a distance volume (`from_mesh` a vtkImageData carrying "ImageScalars",
// renamed "Distance") or the target with its distances to a surface. A target that is not
// polydata, or a source without polygons (a point cloud), is measured point by point with the
// same distance function instead of being handed to the polydata-only filter, which would return
// an empty dataset in place of the body.
vtkSmartPointer<vtkDataSet> generate_distance_field(vtkDataSet* to_mesh, vtkDataSet* from_mesh,
                                                    const std::string& distance_field_location);

}  // namespace fieldferry_core
