// The distance from a point to the surface a point cloud samples. A CFD result exported as face
// centres a few millimetres apart has nothing but its points; measured to the nearest of them, a
// node on the wall itself is up to half a spacing away, so a tolerance small enough to drop the
// far side of a thin wall drops the wall too. Near a point, the cloud's nearest points span a
// plane (a wall); the distance is measured to that plane, and past the neighbours' reach along
// it, so a point beside the cloud is not taken for a point on it.
#pragma once

#include <vtkDataSet.h>

#include "point_tree.h"

namespace fieldferry_core {

inline constexpr int kCloudSurfaceNeighbours = 10;

class CloudSurfaceDistance {
 public:
  // `points`: the tree of the cloud's points, kept by the caller while this is used.
  CloudSurfaceDistance(vtkDataSet* cloud, const PointTree& points)
      : cloud_(cloud), points_(points) {}

  // The distance from x to the plane of its nearest cloud points (their least-squares plane,
  // where their spread across it is below a tenth of their spread along it), combined with how
  // far x lies beyond them along that plane. Where they span no plane because they sample two or
  // more walls (an edge or a corner), the distance to the nearest of those walls; where they span
  // none at all (a line, a lump, a few coincident points), the distance to the nearest of them.
  double operator()(const double x[3]) const;

 private:
  vtkDataSet* cloud_;
  const PointTree& points_;
};

}  // namespace fieldferry_core
