#include "sparse_distance.h"

#include <vtkDataArray.h>
#include <vtkFloatArray.h>
#include <vtkPointData.h>
#include <vtkUnsignedDistance.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#include "distance_field.h"
#include "interpolation.h"

namespace fieldferry_core {

namespace {

// Continuous voxel indices closer than this to a voxel plane count as lying on it. The image's
// cell search and this code compute the index from the same doubles in a different order; their
// results differ by round-off (~1e-13), far below this margin. A point on a plane may then be
// resampled in the cell on either side, so the corners of both are computed.
constexpr double kOnPlane = 1e-6;
// Points farther outside the volume than this (in voxels) are not found by the resampling at all;
// nearer ones may be snapped onto its outer face.
constexpr double kOutsideMargin = 1.0;

}  // namespace

DistanceVolumeGeometry distance_volume_geometry(const double cloud_bounds[6],
                                                const int* dimensions) {
  auto defaults = vtkSmartPointer<vtkUnsignedDistance>::New();
  DistanceVolumeGeometry g;
  const int* dims = dimensions ? dimensions : defaults->GetDimensions();
  double bounds[6];
  std::copy(cloud_bounds, cloud_bounds + 6, bounds);
  if (defaults->GetAdjustBounds()) {
    double largest = 0.0;
    for (int a = 0; a < 3; ++a) largest = std::max(largest, bounds[2 * a + 1] - bounds[2 * a]);
    const double grow = largest * defaults->GetAdjustDistance();
    for (int a = 0; a < 3; ++a) {
      bounds[2 * a] -= grow;
      bounds[2 * a + 1] += grow;
    }
  }
  for (int a = 0; a < 3; ++a) {
    g.dimensions[a] = dims[a];
    g.origin[a] = bounds[2 * a];
    g.spacing[a] = (bounds[2 * a + 1] - bounds[2 * a]) / (dims[a] - 1);
  }
  g.capping = defaults->GetCapping() != 0;
  g.cap_value = defaults->GetCapValue();
  return g;
}

CappedCloudDistance::CappedCloudDistance(vtkPolyData* cloud, double radius, double cap_value)
    : locator_(vtkSmartPointer<vtkStaticPointLocator>::New()),
      radius_(radius),
      cap_value_(cap_value) {
  locator_->SetDataSet(cloud);
  locator_->BuildLocator();
}

float CappedCloudDistance::operator()(const double x[3]) const {
  double dist2 = 0.0;
  if (locator_->FindClosestPointWithinRadius(radius_, x, dist2) < 0) {
    return static_cast<float>(cap_value_);
  }
  return static_cast<float>(std::sqrt(dist2));
}

std::unique_ptr<SparseDistanceVolume> SparseDistanceVolume::over(vtkPolyData* cloud, double radius,
                                                                 const int* dimensions) {
  double bounds[6];
  cloud->GetBounds(bounds);
  const DistanceVolumeGeometry geometry = distance_volume_geometry(bounds, dimensions);
  for (int a = 0; a < 3; ++a) {
    if (geometry.dimensions[a] < 2) return nullptr;
    if (!(geometry.spacing[a] > 0) || !std::isfinite(geometry.spacing[a])) return nullptr;
  }
  return std::unique_ptr<SparseDistanceVolume>(new SparseDistanceVolume(cloud, radius, geometry));
}

SparseDistanceVolume::SparseDistanceVolume(vtkPolyData* cloud, double radius,
                                           const DistanceVolumeGeometry& geometry)
    : geometry_(geometry),
      distance_(cloud, radius, geometry.cap_value),
      volume_(vtkSmartPointer<vtkImageData>::New()) {
  volume_->SetDimensions(geometry.dimensions.data());
  volume_->SetOrigin(geometry.origin.data());
  volume_->SetSpacing(geometry.spacing.data());
  const size_t n = static_cast<size_t>(volume_->GetNumberOfPoints());
  // calloc: the pages of corners never written are never touched, so a volume of which a few
  // thousand corners are read costs a few pages, not 64 MiB.
  values_ = static_cast<float*>(std::calloc(n, sizeof(float)));
  if (!values_) throw std::bad_alloc();
  auto scalars = vtkSmartPointer<vtkFloatArray>::New();
  scalars->SetName(kImageScalarsArray);
  scalars->SetArray(values_, static_cast<vtkIdType>(n), 0, vtkAbstractArray::VTK_DATA_ARRAY_FREE);
  volume_->GetPointData()->SetScalars(scalars);
  computed_.assign(n, false);
}

void SparseDistanceVolume::cover(vtkDataSet* target) {
  const auto& dims = geometry_.dimensions;
  double x[3], corner[3];
  for (vtkIdType p = 0, n = target->GetNumberOfPoints(); p < n; ++p) {
    target->GetPoint(p, x);
    int lo[3], hi[3];
    bool outside = false;
    for (int a = 0; a < 3; ++a) {
      const double last = dims[a] - 1;
      double t = (x[a] - geometry_.origin[a]) / geometry_.spacing[a];
      if (t < -kOutsideMargin || t > last + kOutsideMargin) outside = true;
      t = std::clamp(t, 0.0, last);
      lo[a] = std::max(0, static_cast<int>(std::floor(t - kOnPlane)));
      hi[a] = std::min(dims[a] - 1, static_cast<int>(std::floor(t + kOnPlane)) + 1);
    }
    if (outside) continue;
    for (int k = lo[2]; k <= hi[2]; ++k) {
      for (int j = lo[1]; j <= hi[1]; ++j) {
        for (int i = lo[0]; i <= hi[0]; ++i) {
          const size_t id = static_cast<size_t>(i) +
                            static_cast<size_t>(dims[0]) *
                                (static_cast<size_t>(j) + static_cast<size_t>(dims[1]) * k);
          if (computed_[id]) continue;
          computed_[id] = true;
          ++computed_count_;
          const bool face = i == 0 || j == 0 || k == 0 || i == dims[0] - 1 || j == dims[1] - 1 ||
                            k == dims[2] - 1;
          if (geometry_.capping && face) {
            values_[id] = static_cast<float>(geometry_.cap_value);
            continue;
          }
          const int ijk[3] = {i, j, k};
          for (int a = 0; a < 3; ++a)
            corner[a] = geometry_.origin[a] + ijk[a] * geometry_.spacing[a];
          values_[id] = distance_(corner);
        }
      }
    }
  }
  volume_->GetPointData()->GetScalars()->Modified();
}

void distances_outside_volume(vtkDataSet* resampled, const CappedCloudDistance& distance) {
  vtkPointData* pd = resampled->GetPointData();
  vtkDataArray* found = pd->GetArray(kValidMaskArray);
  vtkDataArray* values = pd->GetArray(kDistanceArray);
  if (!found || !values) return;
  double x[3];
  for (vtkIdType p = 0, n = resampled->GetNumberOfPoints(); p < n; ++p) {
    if (found->GetComponent(p, 0) != 0) continue;
    resampled->GetPoint(p, x);
    values->SetComponent(p, 0, distance(x));
  }
}

}  // namespace fieldferry_core
