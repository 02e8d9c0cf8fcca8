// The unsigned distance from each point of a target to a source: the point array "Distance"
// (and, measured from the cell centres, a cell array "Distance" when the location is not "Point").
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <functional>
#include <string>
#include <vector>

#include "closest_cell.h"
#include "common/mapped_leaf.h"

namespace fieldferry_core {

using kelm::kDistanceArray;
inline constexpr char kImageScalarsArray[] = "ImageScalars";

// `to_mesh` itself when it already has a point array "Distance"; otherwise a new dataset: the
// target resampled on a distance volume (`from_mesh` a vtkImageData carrying "ImageScalars",
// renamed "Distance") or the target with its distances to a surface. A target that is not
// polydata, or a source without polygons (a point cloud), is measured point by point with the
// same distance function instead of being handed to the polydata-only filter, which would return
// an empty dataset in place of the body. A point inside a volume cell of the source is at 0.
vtkSmartPointer<vtkDataSet> generate_distance_field(vtkDataSet* to_mesh, vtkDataSet* from_mesh,
                                                    const std::string& distance_field_location);

// The distance of every point (and, with `cell_centres`, every cell centre) of `to_mesh` to the
// source `from_mesh`, measured afresh whatever "Distance" the target carries: to its polygons, to
// its points when it has none (a point cloud), and 0 for a point inside one of its volume cells.
// A new dataset; `from_mesh` is never taken for a distance volume.
vtkSmartPointer<vtkDataSet> measure_distance(vtkDataSet* to_mesh, vtkDataSet* from_mesh,
                                             bool cell_centres);

// What a source's distance is measured to: its volume cells (a point inside one is at 0), else its
// polygons (of its surface, for a grid); nothing for a source with neither (a cloud of points).
vtkSmartPointer<vtkDataSet> distance_cells(vtkDataSet* from_mesh);

// `to_mesh` measured as measure_distance does, against the index of distance_cells(source) built
// once (its tree built) for all the targets of a call; the points' distances taken from
// `point_distances` when given (found by the same search already).
vtkSmartPointer<vtkDataSet> measure_to_cells(vtkDataSet* to_mesh, const ClosestCells& cells,
                                             bool cell_centres,
                                             const std::vector<double>* point_distances = nullptr);

// Adds to `target` the point array "Distance" (and with `cell_centres` the cell array, from each
// cell's parametric centre) holding `distance_to` of each point, replacing any it had. `distance_to`
// is called from several threads at once.
void add_distances(vtkDataSet* target, bool cell_centres,
                   const std::function<double(double*)>& distance_to);

}  // namespace fieldferry_core
