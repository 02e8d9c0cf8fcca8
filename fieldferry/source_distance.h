// The distance stage of a mapping with a tolerance: what each leaf's "Distance" is measured to,
// prepared once per call. A point cloud is measured to the surface it samples (the plane of its
// nearest points, cloud_surface.h), or, asked for, to its nearest point through its unsigned
// distance volume (evaluated only at the voxel corners the leaves read, or whole); a distance
// volume (an image carrying "ImageScalars") is resampled, and any other source is measured to its
// cells (0 inside a volume cell). Every leaf is measured afresh: a "Distance" left by an earlier
// mapping, from another source, is never taken for this one's.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "closest_cell.h"
#include "cloud_surface.h"
#include "source_index.h"
#include "sparse_distance.h"

namespace fieldferry_core {

class SourceDistance {
 public:
  // The source of `index` in the model's length unit (its searches are shared with the method);
  // `radius` of a point cloud's distance volume in the same unit; `full_volume`: compute that
  // volume whole (the reference) instead of where it is read. `cloud_nearest`: a point cloud is
  // measured to its nearest point (through the volume) instead of to the surface it samples.
  SourceDistance(SourceIndex& index, double radius, bool full_volume, bool cloud_nearest);

  // The closest-cell search the distances are measured with, when it is the search over the
  // source's own cells: a method searching the same cells can give the distances itself.
  bool measures_source_cells() const { return closest_ && cells_ == source_; }

  // Whether a source needs the distance volume: a point cloud (no cells) that is no volume itself.
  static bool needs_volume(vtkDataSet* source);

  // `target` (without a "Distance" of its own) with the point array "Distance", and for
  // `cell_centres` the cell array too: a new dataset. `point_distances`, when the distances are
  // measured to the source's cells: the points' distances found already by a search of them.
  vtkSmartPointer<vtkDataSet> measure(vtkDataSet* target, bool cell_centres,
                                      const std::vector<double>* point_distances = nullptr);

 private:
  vtkSmartPointer<vtkDataSet> source_;
  vtkSmartPointer<vtkDataSet> volume_;  // a point cloud's distance volume, or a distance volume
  std::unique_ptr<SparseDistanceVolume> sparse_;
  std::optional<CappedCloudDistance> outside_;  // beyond a full volume's bounds
  std::unique_ptr<CloudSurfaceDistance> surface_;
  vtkSmartPointer<vtkDataSet> cells_;  // what any other source is measured to
  const ClosestCells* closest_ = nullptr;  // its cells, indexed once for every leaf
  bool cloud_ = false;
};

}  // namespace fieldferry_core
