#include "source_distance.h"

#include <vtkImageData.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkUnsignedDistance.h>

#include "distance_field.h"

namespace fieldferry_core {

namespace {

// The distance volume takes polydata only; a cloud delivered as another dataset type (an
// unstructured grid without cells) would give an empty volume, i.e. no distances at all.
vtkSmartPointer<vtkPolyData> as_point_cloud(vtkDataSet* source) {
  if (auto* poly = vtkPolyData::SafeDownCast(source)) return poly;
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  points->SetNumberOfPoints(source->GetNumberOfPoints());
  double x[3];
  for (vtkIdType i = 0; i < source->GetNumberOfPoints(); ++i) {
    source->GetPoint(i, x);
    points->SetPoint(i, x);
  }
  auto cloud = vtkSmartPointer<vtkPolyData>::New();
  cloud->SetPoints(points);
  return cloud;
}

}  // namespace

bool SourceDistance::needs_volume(vtkDataSet* source) {
  return source->GetNumberOfCells() == 0 &&
         !source->GetPointData()->GetAbstractArray(kImageScalarsArray);
}

SourceDistance::SourceDistance(SourceIndex& index, double radius, bool full_volume,
                               bool cloud_nearest)
    : source_(index.source()) {
  vtkDataSet* source = source_;
  if (needs_volume(source) && !cloud_nearest) {
    surface_ = std::make_unique<CloudSurfaceDistance>(source, index.points_of(source));
    return;
  }
  if (needs_volume(source)) {
    cloud_ = true;
    vtkSmartPointer<vtkPolyData> cloud = as_point_cloud(source);
    if (!full_volume) sparse_ = SparseDistanceVolume::over(cloud, radius);
    if (sparse_) {
      volume_ = sparse_->volume();
      return;
    }
    auto filter = vtkSmartPointer<vtkUnsignedDistance>::New();
    filter->SetInputData(cloud);
    filter->SetRadius(radius);
    filter->Update();
    volume_ = filter->GetOutput();
    outside_.emplace(cloud, radius, filter->GetCapValue());
    return;
  }
  // An image carrying "ImageScalars" is a distance volume already; any other image is a field
  // volume, measured to its cells like a grid.
  auto* image = vtkImageData::SafeDownCast(source);
  if (image && image->GetPointData()->GetAbstractArray(kImageScalarsArray)) {
    volume_ = image;
    return;
  }
  cells_ = distance_cells(source);
  if (cells_) {
    ClosestCells& closest = index.cells_of(cells_);
    closest.build_tree();
    closest_ = &closest;
  }
}

vtkSmartPointer<vtkDataSet> SourceDistance::measure(vtkDataSet* target, bool cell_centres,
                                                    const std::vector<double>* point_distances) {
  if (surface_) {
    vtkSmartPointer<vtkDataSet> measured;
    measured.TakeReference(target->NewInstance());
    measured->ShallowCopy(target);
    add_distances(measured, cell_centres, [this](double* x) { return (*surface_)(x); });
    return measured;
  }
  if (closest_) return measure_to_cells(target, *closest_, cell_centres, point_distances);
  if (!volume_) return measure_distance(target, source_, cell_centres);
  if (sparse_) sparse_->cover(target);
  vtkSmartPointer<vtkDataSet> measured =
      generate_distance_field(target, volume_, cell_centres ? "Cell" : "Point");
  if (cloud_) distances_outside_volume(measured, sparse_ ? sparse_->distance() : *outside_);
  return measured;
}

}  // namespace fieldferry_core
