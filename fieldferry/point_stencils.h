// Sampling by stencils: each target point's value is a weighted sum of a few source point values.
// "Surface projection" (the closest cell's interpolation weights) and "Linear fit" (the
// coefficients of a local least-squares fit) both end here, so that every source point array is
// carried over the same way and the output is built once.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <cstdint>
#include <string>
#include <vector>

namespace fieldferry_core {

// Up to `width` (source point id, weight) pairs per target point; count 0 marks a point that got
// no value (mask 0, every sampled array 0 there).
class PointStencils {
 public:
  PointStencils(vtkIdType points, int width);

  int width() const { return width_; }
  vtkIdType size() const { return static_cast<vtkIdType>(count_.size()); }
  int count(vtkIdType point) const { return count_[point]; }
  const vtkIdType* ids(vtkIdType point) const { return &ids_[point * width_]; }
  const double* weights(vtkIdType point) const { return &weights_[point * width_]; }

  // Replaces the stencil of `point`; n <= width. Distinct points may be set from distinct threads.
  void set(vtkIdType point, int n, const vtkIdType* ids, const double* weights);

  // The source cell a point's stencil lies in, for methods that find one: a field held per cell
  // (face values) is taken from it as it is. -1: none recorded.
  void set_cell(vtkIdType point, vtkIdType cell) { cell_[point] = cell; }
  vtkIdType cell(vtkIdType point) const { return cell_[point]; }

 private:
  int width_;
  std::vector<int> count_;
  std::vector<vtkIdType> ids_;
  std::vector<double> weights_;
  std::vector<vtkIdType> cell_;
};

// The point ids of `target` in Morton order of their coordinates (ties by id). Searching the
// source for the points in this order reads the same stretch of the source's arrays from one point
// to the next: the searches are bound by memory reads more than by their arithmetic.
std::vector<vtkIdType> spatial_order(vtkDataSet* target);

// A new dataset like `target` (its geometry and its own arrays, less an earlier `field_name` and
// mask) carrying every named point array of `source` sampled through the stencils and, where the
// stencils recorded cells, every named cell array the source has no point array of, taken from
// the recorded cell; `field_name` as active scalars and "vtkValidPointMask".
vtkSmartPointer<vtkDataSet> sample_through_stencils(const std::string& field_name,
                                                    vtkDataSet* source, vtkDataSet* target,
                                                    const PointStencils& stencils);

}  // namespace fieldferry_core
