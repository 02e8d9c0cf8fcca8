// The three ways of sampling a scalar point field of a source dataset onto one target dataset.
// Each returns a new dataset of the target's kind carrying the sampled source point arrays and a
// point array "vtkValidPointMask" (unsigned char, 1 where the point got a value from the source).
// Each marks `field_name` as the active scalars of the source's point data (a change that stays on
// the caller's source). The source is expected in the target's length unit.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <string>

namespace fieldferry_core {

inline constexpr char kValidMaskArray[] = "vtkValidPointMask";

// "Point cloud or mesh": Voronoi kernel, each target point takes its nearest source point's value.
vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_point_interpolator(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh);

// "Mesh only": each target point is located in a source cell; 0 and mask 0 where it is in none.
vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_probe_filter(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh);

struct CoarseToFineOptions {
  // Gaussian kernel radius in the source's (= model's) length unit: 0.01 metre in a model in m.
  double radius = 0.01;
  // Evaluate the kernel at all 101^3 grid points (the reference pipeline) instead of only at the
  // corners of the grid cells that hold target points. Both give the same values.
  bool full_grid = false;
};

// "Coarse to fine": Gaussian splat onto a 101^3 grid over the target's bounds, resampled at the
// target. Mask 0 where a grid corner weighing in on the point had no source point within radius.
vtkSmartPointer<vtkDataSet> interpolate_coarse_field_onto_fine_field(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    const CoarseToFineOptions& options = {});

// Number of points whose "vtkValidPointMask" is 0 (all points when the array is missing).
vtkIdType count_unmapped_points(vtkDataSet* mapped);

}  // namespace fieldferry_core
