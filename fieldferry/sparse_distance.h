// The unsigned distance volume of a point cloud, evaluated only where it is read.
//
// The mapping resamples the volume of vtkUnsignedDistance (default settings, the mapping's radius)
// at the points of each target leaf, which reads the eight corners of one voxel per point: a few
// ten thousand of the volume's 16.7 million values. SparseDistanceVolume has the filter's exact
// geometry (dimensions, bounds grown by the adjust distance, spacing) and its values (distance to
// the nearest cloud point within the radius, the cap value beyond it and on the outer faces), but
// computes them only at the corners a target's resampling reads, so resampling it gives the same
// "Distance" as resampling the full volume.
#pragma once

#include <vtkDataSet.h>
#include <vtkImageData.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkStaticPointLocator.h>

#include <array>
#include <memory>
#include <vector>

namespace fieldferry_core {

// Where vtkUnsignedDistance puts its voxels for a cloud with `cloud_bounds` and what it stores
// there, read from a default-constructed filter so that both stay tied to the library's defaults.
struct DistanceVolumeGeometry {
  std::array<int, 3> dimensions{};
  std::array<double, 3> origin{};   // the grown bounds' minima
  std::array<double, 3> spacing{};  // grown extent / (dimensions - 1) per axis
  bool capping = true;              // the outer faces hold cap_value
  double cap_value = 0.0;           // also the value of voxels with no cloud point within radius
};
// `dimensions`: voxels per axis; the filter's default (256 each) when not given.
DistanceVolumeGeometry distance_volume_geometry(const double cloud_bounds[6],
                                                const int* dimensions = nullptr);

// The volume's value at a position: the distance to the nearest cloud point if it is within
// `radius`, else the cap value. One locator over the cloud, built once.
class CappedCloudDistance {
 public:
  CappedCloudDistance(vtkPolyData* cloud, double radius, double cap_value);
  float operator()(const double x[3]) const;

 private:
  vtkSmartPointer<vtkStaticPointLocator> locator_;
  double radius_;
  double cap_value_;
};

class SparseDistanceVolume {
 public:
  // Nothing when the cloud has no extent (all its points in one place): the filter's volume then
  // has a spacing of 0, which only the filter itself reproduces.
  // `dimensions` as for distance_volume_geometry.
  static std::unique_ptr<SparseDistanceVolume> over(vtkPolyData* cloud, double radius,
                                                    const int* dimensions = nullptr);

  // Computes the corners that resampling `target` reads and no earlier target had computed.
  void cover(vtkDataSet* target);

  // The volume: the filter's geometry and "ImageScalars" (float); corners never covered hold 0
  // and cost no memory until written.
  vtkImageData* volume() const { return volume_; }
  const CappedCloudDistance& distance() const { return distance_; }

  // Number of corners computed so far.
  long long computed() const { return computed_count_; }

 private:
  SparseDistanceVolume(vtkPolyData* cloud, double radius, const DistanceVolumeGeometry& geometry);

  DistanceVolumeGeometry geometry_;
  CappedCloudDistance distance_;
  vtkSmartPointer<vtkImageData> volume_;
  float* values_ = nullptr;     // owned by the volume's scalars
  std::vector<bool> computed_;  // per voxel corner
  long long computed_count_ = 0;
};

// After `resampled` (a target resampled on a cloud's distance volume) has its "Distance": its
// points outside the volume, where the resampling found no voxel ("vtkValidPointMask" 0) and left
// 0, get the value the volume would hold there, the capped distance to the cloud. A 0 would put
// them within every tolerance however far the cloud is.
void distances_outside_volume(vtkDataSet* resampled, const CappedCloudDistance& distance);

}  // namespace fieldferry_core
