// "Surface projection": each target point takes the source field at its closest point on the
// source's cells, interpolated with that cell's own weights there. A point a little off a faceted
// source (a node on the true curve of a wall the source facets cut inside, a coarse target over a
// fine source) still gets the value of the nearest facet instead of nothing ("Mesh only") or the
// nearest vertex's ("Point cloud or mesh"). Exact for a field linear on each source cell.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <string>
#include <vector>

#include "closest_cell.h"
#include "source_index.h"

namespace fieldferry_core {

// A new dataset like to_mesh with every source point array sampled at the closest points and
// "vtkValidPointMask" 1 wherever a closest cell was found (everywhere, unless every cell near the
// point is degenerate). Raises ValueError for a source without cells, and as every method does
// for an empty source, a missing field or non-finite coordinates.
// `distances`, if given, receives each point's distance to its closest point on the source (0
// inside a volume cell, infinity where no cell was found): the "Distance" a mapping with a
// tolerance needs, from the same search.
vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_surface_projection(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared = nullptr, std::vector<double>* distances = nullptr);

// The distance from each point of `target` to its closest point on the cells of `source` (0
// inside a volume cell), found by the same search: one entry per target point, infinity where no
// cell is found (a source without cells, or only degenerate ones). `closest`, if given, gets each
// point's closest cell (-1 where none).
std::vector<double> closest_cell_distances(vtkDataSet* source, vtkDataSet* target,
                                           std::vector<vtkIdType>* closest = nullptr);

// The same from an index of a source with cells built once (its tree built), for a caller that
// measures several targets against one source.
std::vector<double> closest_cell_distances(const ClosestCells& index, vtkDataSet* target,
                                           std::vector<vtkIdType>* closest = nullptr);

}  // namespace fieldferry_core
