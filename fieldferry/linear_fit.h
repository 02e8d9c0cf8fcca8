// "Linear fit": each target point takes the value at that point of a linear function fitted by
// weighted least squares to its nearest source points. Meant for point clouds (it uses a source's
// points only, never its cells); exact for a field that is linear over the neighbourhood, where
// nearest-point sampling is off by the field's change over the gap to the nearest point.
//
// The fit: the kLinearFitNeighbours nearest source points, weights 1 / (d^2 + (d_far / 10)^2)
// with d the distance to the target point and d_far that of the farthest of them (near points
// count most; a point on the target counts about a hundred times a far one, never infinitely).
// The neighbourhood's weighted spread decides which directions the fit resolves: a direction
// whose spread is below kLinearFitFlatness times the largest carries no slope (a cloud on a
// surface is flat across it; neighbours on a line resolve only that line), so the value is
// constant along it; a neighbourhood of coincident points (or a single one) gives the nearest
// point's value. Neighbours on a curved surface spread a little across it too, in its curvature
// alone: a slope taken from that is noise, which a target off the surface multiplies by its gap.
// Where the smallest spread is below kLinearFitSurface times the middle one, the neighbours lie
// on a surface: the fit is evaluated at the target's foot on it (a height over their plane,
// quadratic in the plane's coordinates, fitted to them), not across the gap. A cloud that fills a
// volume spreads about as much every way and is evaluated at the target itself.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <string>

#include "source_index.h"
#include "weighted_fit.h"

namespace fieldferry_core {

inline constexpr int kLinearFitNeighbours = 10;

// A new dataset like to_mesh with every source point array fitted at each point and
// "vtkValidPointMask" 1 everywhere. Raises as every method does for an empty source, a missing
// field or non-finite coordinates.
vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_linear_fit(const std::string& field_name,
                                                                      vtkDataSet* from_mesh,
                                                                      vtkDataSet* to_mesh,
                                                                      SourceIndex* shared = nullptr);

}  // namespace fieldferry_core
