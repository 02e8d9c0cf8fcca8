// The distance from a point to the surface a point cloud samples. A CFD result exported as face
// centres a few millimetres apart has nothing but its points; measured to the nearest of them, a
// node on the wall itself is up to half a spacing away, so a tolerance small enough to drop the
// far side of a thin wall drops the wall too. Near a point, the cloud's nearest points span a
// plane (a wall); the distance is measured to that plane, and past the neighbours' reach along
// it, so a point beside the cloud is not taken for a point on it.
#pragma once

#include <vtkDataSet.h>
#include <vtkSmartPointer.h>
#include <vtkStaticPointLocator.h>

namespace fieldferry_core {

inline constexpr int kCloudSurfaceNeighbours = 10;

class CloudSurfaceDistance {
 public:
  explicit CloudSurfaceDistance(vtkDataSet* cloud);

  // The distance from x to the plane of its nearest cloud points (their least-squares plane,
  // where their spread across it is below a tenth of their spread along it), combined with how
  // far x lies beyond them along that plane; where they span no plane (a line, a lump, a few
  // coincident points), the distance to the nearest of them.
  double operator()(const double x[3]) const;

 private:
  vtkSmartPointer<vtkDataSet> cloud_;
  vtkSmartPointer<vtkStaticPointLocator> locator_;
};

}  // namespace fieldferry_core
