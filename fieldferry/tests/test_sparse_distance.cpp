// A point cloud's distance volume evaluated only at the corners a target reads gives the same
// "Distance" as the full volume of vtkUnsignedDistance.
#include <gtest/gtest.h>
#include <vtkDataSetSurfaceFilter.h>
#include <vtkFloatArray.h>
#include <vtkImageData.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedDistance.h>
#include <vtkUnstructuredGrid.h>

#include <cmath>
#include <random>

#include "common/tag_arrays.h"
#include "distance_field.h"
#include "map_field.h"
#include "sparse_distance.h"

namespace {

using namespace fieldferry_core;

constexpr float kCap = 1.0e38f;

vtkSmartPointer<vtkPolyData> cloud(int n, const double lo[3], const double hi[3], unsigned seed,
                                   bool float_points = false) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataType(float_points ? VTK_FLOAT : VTK_DOUBLE);
  points->SetNumberOfPoints(n);
  for (int i = 0; i < n; ++i) {
    double x[3];
    for (int a = 0; a < 3; ++a) x[a] = lo[a] + (hi[a] - lo[a]) * u(rng);
    points->SetPoint(i, x);
  }
  auto data = vtkSmartPointer<vtkPolyData>::New();
  data->SetPoints(points);
  return data;
}

// The surface of an n^3 hexahedral box from `lo` to `hi`.
vtkSmartPointer<vtkPolyData> box_surface(int n, const double lo[3], const double hi[3]) {
  auto points = vtkSmartPointer<vtkPoints>::New();
  for (int k = 0; k <= n; ++k)
    for (int j = 0; j <= n; ++j)
      for (int i = 0; i <= n; ++i)
        points->InsertNextPoint(lo[0] + (hi[0] - lo[0]) * i / n, lo[1] + (hi[1] - lo[1]) * j / n,
                                lo[2] + (hi[2] - lo[2]) * k / n);
  auto grid = vtkSmartPointer<vtkUnstructuredGrid>::New();
  grid->SetPoints(points);
  auto id = [n](int i, int j, int k) -> vtkIdType { return i + (n + 1) * (j + (n + 1) * k); };
  for (int k = 0; k < n; ++k)
    for (int j = 0; j < n; ++j)
      for (int i = 0; i < n; ++i) {
        vtkIdType hex[8] = {
            id(i, j, k),     id(i + 1, j, k),     id(i + 1, j + 1, k),     id(i, j + 1, k),
            id(i, j, k + 1), id(i + 1, j, k + 1), id(i + 1, j + 1, k + 1), id(i, j + 1, k + 1)};
        grid->InsertNextCell(VTK_HEXAHEDRON, 8, hex);
      }
  auto surface = vtkSmartPointer<vtkDataSetSurfaceFilter>::New();
  surface->SetInputData(grid);
  surface->Update();
  return surface->GetOutput();
}

// A coarser volume than the filter's default 256^3 keeps the tests quick; the mapping test below
// runs at the default.
constexpr int kDims[3] = {64, 48, 40};

vtkSmartPointer<vtkImageData> full_volume(vtkPolyData* points, double radius) {
  auto filter = vtkSmartPointer<vtkUnsignedDistance>::New();
  filter->SetInputData(points);
  filter->SetRadius(radius);
  filter->SetDimensions(kDims);
  filter->Update();
  return filter->GetOutput();
}

vtkFloatArray* distances(vtkDataSet* data) {
  return vtkFloatArray::SafeDownCast(data->GetPointData()->GetArray(kDistanceArray));
}

// Compares the two "Distance" arrays: equal to float round-off, capped in the same places.
// Returns how many points are capped.
int expect_same_distances(vtkDataSet* full, vtkDataSet* fast) {
  vtkFloatArray* a = distances(full);
  vtkFloatArray* b = distances(fast);
  EXPECT_TRUE(a && b);
  if (!a || !b) return 0;
  EXPECT_EQ(a->GetNumberOfTuples(), b->GetNumberOfTuples());
  int capped = 0;
  for (vtkIdType i = 0; i < a->GetNumberOfTuples(); ++i) {
    const float x = a->GetValue(i), y = b->GetValue(i);
    EXPECT_NEAR(x, y, 1e-6f * std::max(1.0f, std::fabs(x))) << "point " << i;
    capped += x >= kCap * 1e-3f;
  }
  return capped;
}

// Resamples `target` on the full volume and on the sparse one covered for it.
int compare_on(vtkPolyData* points, double radius, vtkDataSet* target) {
  auto full = generate_distance_field(target, full_volume(points, radius), "Point");
  auto sparse = SparseDistanceVolume::over(points, radius, kDims);
  EXPECT_TRUE(sparse);
  if (!sparse) return 0;
  sparse->cover(target);
  auto fast = generate_distance_field(target, sparse->volume(), "Point");
  EXPECT_LT(sparse->computed(), kDims[0] * kDims[1] * kDims[2] / 5) << "most corners computed";
  return expect_same_distances(full, fast);
}

TEST(DistanceVolumeGeometry, IsTheFiltersToTheBit) {
  const double lo[3] = {-0.3, 1.0, 0.25}, hi[3] = {0.7, 3.0, 0.5};
  for (bool float_points : {false, true}) {
    auto points = cloud(200, lo, hi, 3, float_points);
    double bounds[6];
    points->GetBounds(bounds);
    const DistanceVolumeGeometry g = distance_volume_geometry(bounds, kDims);
    auto volume = full_volume(points, 0.05);
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(g.dimensions[a], volume->GetDimensions()[a]);
      EXPECT_EQ(g.origin[a], volume->GetOrigin()[a]);
      EXPECT_EQ(g.spacing[a], volume->GetSpacing()[a]);
    }
    EXPECT_TRUE(g.capping);
    EXPECT_EQ(static_cast<float>(g.cap_value), kCap);
  }
}

TEST(SparseDistanceVolume, BoxInsideADenseCloudMatchesTheFullVolume) {
  const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  const double blo[3] = {0.2, 0.3, 0.1}, bhi[3] = {0.8, 0.6, 0.9};
  auto points = cloud(20000, lo, hi, 1);
  EXPECT_EQ(compare_on(points, 0.05, box_surface(12, blo, bhi)), 0);
}

TEST(SparseDistanceVolume, PointsBeyondTheRadiusAreCappedAlike) {
  // A sparse cloud with a small radius: most of the box's points have no cloud point in reach.
  const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  const double blo[3] = {0.1, 0.1, 0.1}, bhi[3] = {0.9, 0.9, 0.9};
  auto points = cloud(300, lo, hi, 2);
  auto target = box_surface(10, blo, bhi);
  const int capped = compare_on(points, 0.05, target);
  EXPECT_GT(capped, target->GetNumberOfPoints() / 4);
  EXPECT_LT(capped, target->GetNumberOfPoints());
}

TEST(SparseDistanceVolume, PointsOnVoxelPlanesAndOuterFacesMatchTheFullVolume) {
  // Bare points where the resampling's cell choice is closest to a tie: on voxel planes (within
  // round-off either way), in the capped outermost voxel layer, on the volume's faces and a hair
  // inside and outside them.
  const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  auto points = cloud(3000, lo, hi, 6);
  double bounds[6];
  points->GetBounds(bounds);
  const DistanceVolumeGeometry g = distance_volume_geometry(bounds, kDims);
  auto corner = [&g](int a, double index) { return g.origin[a] + index * g.spacing[a]; };
  auto xs = vtkSmartPointer<vtkPoints>::New();
  // Every voxel plane along x, on the planes next to the capped faces along y and z: a cell
  // choice off by one there reads a capped corner.
  for (int i = 0; i < kDims[0]; ++i) {
    for (int j : {1, 7, kDims[1] - 2}) {
      for (int k : {1, kDims[2] - 2}) xs->InsertNextPoint(corner(0, i), corner(1, j), corner(2, k));
    }
  }
  const double top = corner(0, kDims[0] - 1);
  for (double x : {g.origin[0], g.origin[0] + 1e-13, corner(0, 0.5), top - 0.5 * g.spacing[0],
                   top - 1e-13, top, top + 1e-13, top + 0.5 * g.spacing[0]}) {
    for (int j : {0, 7, kDims[1] - 1}) xs->InsertNextPoint(x, corner(1, j), corner(2, 9.5));
  }
  auto target = vtkSmartPointer<vtkPolyData>::New();
  target->SetPoints(xs);
  EXPECT_GT(compare_on(points, 0.2, target), 0);
}

TEST(SparseDistanceVolume, CloudWithoutExtentIsLeftToTheFilter) {
  const double at[3] = {0.5, 0.5, 0.5};
  EXPECT_FALSE(SparseDistanceVolume::over(cloud(3, at, at, 1), 0.05));
}

TEST(DistancesOutsideVolume, AreTheCappedDistanceNotZero) {
  const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 1};
  auto points = cloud(2000, lo, hi, 4);
  auto volume = full_volume(points, 0.1);
  // Just past the grown bounds, one near the cloud (within the radius) and one far from it.
  const double* b = volume->GetBounds();
  auto targets = vtkSmartPointer<vtkPolyData>::New();
  auto xs = vtkSmartPointer<vtkPoints>::New();
  xs->InsertNextPoint(b[1] + 0.01, 0.5, 0.5);
  xs->InsertNextPoint(b[1] + 5.0, 0.5, 0.5);
  xs->InsertNextPoint(0.5, 0.5, 0.5);
  targets->SetPoints(xs);
  auto out = generate_distance_field(targets, volume, "Point");
  const float inside = distances(out)->GetValue(2);
  distances_outside_volume(out, CappedCloudDistance(points, 0.1, kCap));
  vtkFloatArray* d = distances(out);
  EXPECT_GT(d->GetValue(0), 0.0f);
  EXPECT_LT(d->GetValue(0), 0.1f);
  EXPECT_EQ(d->GetValue(1), kCap);
  EXPECT_EQ(d->GetValue(2), inside);
}

// The mapping driver with a tolerance: a model in mm, a cloud in m, two leaves.
vtkSmartPointer<vtkMultiBlockDataSet> mm_model() {
  auto model = vtkSmartPointer<vtkMultiBlockDataSet>::New();
  const double alo[3] = {100, 200, 50}, ahi[3] = {700, 800, 400};
  const double blo[3] = {600, -100, 0}, bhi[3] = {1200, 300, 300};  // reaches past the cloud
  model->SetBlock(0, box_surface(10, alo, ahi));
  model->SetBlock(1, box_surface(8, blo, bhi));
  kelm::add_string_field(model, kelm::kUnitLabelArray, "mm-kg-s-N-K");
  return model;
}

vtkSmartPointer<vtkPolyData> cloud_in_metres() {
  const double lo[3] = {0, 0, 0}, hi[3] = {1, 1, 0.5};
  auto points = cloud(30000, lo, hi, 7);
  auto pressure = vtkSmartPointer<vtkFloatArray>::New();
  pressure->SetName("Pressure");
  pressure->SetNumberOfTuples(points->GetNumberOfPoints());
  for (vtkIdType i = 0; i < points->GetNumberOfPoints(); ++i) pressure->SetValue(i, 1.0f + i);
  points->GetPointData()->AddArray(pressure);
  kelm::add_string_field(points, "current_units_length", "m");
  kelm::add_string_field(points, "units_pressure", "Pa");
  return points;
}

TEST(MappingWithTolerance, SparseVolumeGivesTheFullVolumesDistances) {
  auto source = cloud_in_metres();
  vtkSmartPointer<vtkMultiBlockDataSet> models[2] = {mm_model(), mm_model()};
  for (bool full : {true, false}) {
    MappingRequest request;
    request.field_name = "Pressure";
    request.from_mesh = source;
    request.to_mesh = models[full ? 0 : 1];
    request.with_distance = true;
    request.full_distance_volume = full;
    request.cloud_nearest = true;  // the volume path
    request.length_factor = [](const std::string& from, const std::string& to) {
      EXPECT_EQ(to, "mm");
      return from == "m" ? 1000.0 : 1.0;
    };
    std::vector<MappedLeaf> mapped;
    map_scalar_field_to_mesh(request, mapped);
    ASSERT_EQ(mapped.size(), 2u);
  }
  int capped = 0;
  for (unsigned leaf = 0; leaf < 2; ++leaf) {
    auto* full = vtkDataSet::SafeDownCast(models[0]->GetBlock(leaf));
    auto* fast = vtkDataSet::SafeDownCast(models[1]->GetBlock(leaf));
    capped += expect_same_distances(full, fast);
    // Distances are in mm: the 0.05 m radius is 50 mm, the cloud is dense to a few mm.
    vtkFloatArray* d = distances(fast);
    float nearest = kCap;
    for (vtkIdType i = 0; i < d->GetNumberOfTuples(); ++i)
      nearest = std::min(nearest, d->GetValue(i));
    EXPECT_GT(nearest, 0.0f);
    EXPECT_LT(nearest, 50.0f);
  }
  // The second body reaches 200 mm past the cloud: those points are capped, not 0.
  EXPECT_GT(capped, 0);
}

}  // namespace
