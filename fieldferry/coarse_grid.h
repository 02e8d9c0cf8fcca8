// The regular grid of the "Coarse to fine" method: 101 points per axis over a target's bounds,
// and which of its points the resampling of a target reads.
#pragma once

#include <vtkDataSet.h>
#include <vtkImageData.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <vector>

namespace fieldferry_core {

inline constexpr int kGridPoints = 101;  // per axis

// Grid over `bounds` (xmin, xmax, ymin, ymax, zmin, zmax): origin at the minima, spacing the
// extent / 100 per axis. An axis of zero extent (a plate lying in a coordinate plane) takes the
// spacing of the largest extent / 100 so the grid stays a volume that holds the target; when every
// extent is zero the spacing is `fallback_spacing`.
vtkSmartPointer<vtkImageData> coarse_grid(const double bounds[6], double fallback_spacing);

// Flags (one byte per grid point, 1 = read) of the grid corners that weigh in on some point of
// `target`: the corners of the cell holding the point whose trilinear weight there exceeds 1e-9.
// The resampling reads no other corner with a weight that could show in a float field.
std::vector<std::uint8_t> corners_read_by(vtkImageData* grid, vtkDataSet* target);

// Per target point: 1 when every grid corner weighing in on the point (as above) has
// `valid_corner` set, else 0. `valid_corner` holds one byte per grid point.
std::vector<std::uint8_t> point_validity(vtkImageData* grid, vtkDataSet* target,
                                         const std::vector<std::uint8_t>& valid_corner);

}  // namespace fieldferry_core
