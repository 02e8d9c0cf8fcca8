// The searches of one source, built once per mapping call, each when first asked for, and shared
// by the distance stage, the facing test and the method of every leaf. Indexing a ten-million-point
// source costs about what mapping a body onto it does; a model of many bodies paid it per body and
// per stage.
//
// A method handed the call's index was called by the mapping, which checked the source and every
// body before the first: it does not check them again.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <memory>
#include <utility>
#include <vector>

#include "closest_cell.h"
#include "point_tree.h"

namespace fieldferry_core {

class SourceIndex {
 public:
  explicit SourceIndex(vtkDataSet* source) : source_(source) {}

  vtkDataSet* source() const { return source_; }

  // The tree of the points of `data`: the source's, when `data` shares its points (a shallow copy
  // that leaves out some arrays), else one of its own, kept for the call.
  const PointTree& points_of(vtkDataSet* data);

  // The closest-cell search over the cells of `data` (its tree built when a caller first needs
  // it): one per distinct set of cells for the call, so the source and a dataset of the same
  // points and cells (its polygons alone, when it has nothing else) share one.
  ClosestCells& cells_of(vtkDataSet* data);

 private:
  vtkSmartPointer<vtkDataSet> source_;
  std::vector<std::pair<vtkSmartPointer<vtkDataSet>, std::unique_ptr<PointTree>>> trees_;
  std::vector<std::pair<vtkSmartPointer<vtkDataSet>, std::unique_ptr<ClosestCells>>> cells_;
};

}  // namespace fieldferry_core
