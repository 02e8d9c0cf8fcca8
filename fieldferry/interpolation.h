// The ways of sampling a scalar point field of a source dataset onto one target dataset.
// Each returns a new dataset of the target's kind carrying the sampled source point arrays and a
// point array "vtkValidPointMask" (unsigned char, 1 where the point got a value from the source).
// Each marks `field_name` as the active scalars of the source's point data (a change that stays on
// the caller's source). The source is expected in the target's length unit.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <string>

#include "common/mapped_leaf.h"
#include "source_index.h"

namespace fieldferry_core {

using kelm::kValidMaskArray;

// Every method takes the mapping call's index of the source (`shared`, source_index.h): handed one,
// it searches the source through it and leaves the checks to the mapping; without, it checks its
// arguments and indexes the source for this call alone.

// "Point cloud or mesh": each target point takes its nearest source point's values (the lowest id
// among equally near ones).
vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_point_interpolator(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared = nullptr);

// "Mesh only": each target point is located in a source cell; 0 and mask 0 where it is in none.
vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_probe_filter(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared = nullptr);

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
    const CoarseToFineOptions& options = {}, SourceIndex* shared = nullptr);

// Number of points whose "vtkValidPointMask" is 0 (all points when the array is missing).
vtkIdType count_unmapped_points(vtkDataSet* mapped);

// What every method called alone checks first: a source with points and a numeric point array
// `field_name`, a target with finite coordinates. `operation` is the function name without
// "fieldferry.". Nothing when `shared` is given: the mapping call checked them already.
void check_method_arguments(const char* operation, const std::string& field_name,
                            vtkDataSet* from_mesh, vtkDataSet* to_mesh,
                            const SourceIndex* shared = nullptr);

// Sets the point array "vtkValidPointMask" of `data` to `valid` (one byte per point, 1 = got a
// value), replacing any earlier mask.
void set_valid_mask(vtkDataSet* data, const std::uint8_t* valid);

// The source as a method samples it for `target`: `from_mesh` itself, or a shallow copy without the
// point and cell arrays that must not reach the mapped leaf. The leaf's identity ("Node ID",
// "Element ID"), its mask and its "Distance" are the body's and this mapping's, and every array
// the target carries stays the target's: a source array of such a name (a thermal result exported
// from another FE model carries its own "Node ID") is not sampled. `field_name` is always sampled.
vtkSmartPointer<vtkDataSet> source_for(vtkDataSet* target, vtkDataSet* from_mesh,
                                       const std::string& field_name);

// `target` itself, or a shallow copy of it without the point arrays `name` and
// "vtkValidPointMask" when it has either (an earlier mapping's field must not shadow the new one).
vtkSmartPointer<vtkDataSet> without_point_array(vtkDataSet* target, const std::string& name);

}  // namespace fieldferry_core
