#include "interpolation.h"

#include <vtkCellData.h>
#include <vtkCharArray.h>
#include <vtkGaussianKernel.h>
#include <vtkIdList.h>
#include <vtkPointData.h>
#include <vtkPointInterpolator.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkProbeFilter.h>
#include <vtkResampleWithDataSet.h>
#include <vtkStaticCellLocator.h>
#include <vtkStaticPointLocator.h>
#include <vtkUnsignedCharArray.h>
#include <vtkSMPTools.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "checks.h"
#include "coarse_grid.h"
#include "common/errors.h"
#include "common/tag_arrays.h"
#include "distance_field.h"
#include "point_stencils.h"
#include "source_cells.h"
#include "source_fields.h"

namespace fieldferry_core {

namespace {

constexpr double kGaussianSharpness = 2.0;

}  // namespace

void check_method_arguments(const char* operation, const std::string& field_name,
                            vtkDataSet* from_mesh, vtkDataSet* to_mesh,
                            const SourceIndex* shared) {
  if (shared) return;
  const std::string op = std::string("fieldferry.") + operation;
  // An empty source would hand back a target stripped of its points (the Voronoi kernel) or
  // silent zeros; neither is a mapping.
  require_points(from_mesh, op, "the source (from_mesh)");
  // A source without the field would give a dataset without it, reported as a success.
  require_source_field(from_mesh, field_name, op);
  require_finite_points(to_mesh, op, "the target (to_mesh)");
}

// Sets the point array "vtkValidPointMask" of `data` to `valid` (1 = got a value), replacing the
// filter's own char mask so every method hands out the same unsigned char array.
void set_valid_mask(vtkDataSet* data, const std::uint8_t* valid) {
  const vtkIdType n = data->GetNumberOfPoints();
  auto mask = vtkSmartPointer<vtkUnsignedCharArray>::New();
  mask->SetName(kValidMaskArray);
  mask->SetNumberOfTuples(n);
  std::copy(valid, valid + n, mask->GetPointer(0));
  data->GetPointData()->RemoveArray(kValidMaskArray);
  data->GetPointData()->AddArray(mask);
}

namespace {

// The filter's own mask as bytes (all 1 when it made none).
std::vector<std::uint8_t> filter_mask(vtkDataSet* data) {
  std::vector<std::uint8_t> valid(static_cast<size_t>(data->GetNumberOfPoints()), 1);
  vtkDataArray* mask = data->GetPointData()->GetArray(kValidMaskArray);
  if (mask) {
    for (size_t i = 0; i < valid.size(); ++i) valid[i] = mask->GetComponent(i, 0) != 0;
  }
  return valid;
}

vtkSmartPointer<vtkGaussianKernel> gaussian_kernel(double radius) {
  auto kernel = vtkSmartPointer<vtkGaussianKernel>::New();
  kernel->SetSharpness(kGaussianSharpness);
  kernel->SetRadius(radius);
  return kernel;
}

// Grid points (ids) whose coordinates are taken from the grid itself, so that the kernel sees
// exactly the positions it would see on the image.
vtkSmartPointer<vtkPolyData> grid_points(vtkImageData* grid, const std::vector<vtkIdType>& ids) {
  auto points = vtkSmartPointer<vtkPoints>::New();
  points->SetDataTypeToDouble();
  points->SetNumberOfPoints(static_cast<vtkIdType>(ids.size()));
  double x[3];
  for (size_t i = 0; i < ids.size(); ++i) {
    grid->GetPoint(ids[i], x);
    points->SetPoint(static_cast<vtkIdType>(i), x);
  }
  auto cloud = vtkSmartPointer<vtkPolyData>::New();
  cloud->SetPoints(points);
  return cloud;
}

// The grid carrying the interpolated arrays of `sampled` (values at grid points `ids`); the grid
// points the resampling does not read hold 0.
vtkSmartPointer<vtkImageData> scatter_onto_grid(vtkImageData* grid, vtkPolyData* sampled,
                                                const std::vector<vtkIdType>& ids) {
  auto image = vtkSmartPointer<vtkImageData>::New();
  image->CopyStructure(grid);
  const vtkIdType n = image->GetNumberOfPoints();
  vtkPointData* from = sampled->GetPointData();
  for (int a = 0; a < from->GetNumberOfArrays(); ++a) {
    vtkAbstractArray* values = from->GetAbstractArray(a);
    if (!values || std::string(values->GetName() ? values->GetName() : "") == kValidMaskArray) {
      continue;
    }
    vtkSmartPointer<vtkAbstractArray> full;
    full.TakeReference(values->NewInstance());
    full->SetName(values->GetName());
    full->SetNumberOfComponents(values->GetNumberOfComponents());
    full->SetNumberOfTuples(n);
    if (auto* numeric = vtkDataArray::SafeDownCast(full)) numeric->Fill(0.0);
    for (size_t i = 0; i < ids.size(); ++i) {
      full->SetTuple(ids[i], static_cast<vtkIdType>(i), values);
    }
    image->GetPointData()->AddArray(full);
  }
  if (vtkDataArray* scalars = from->GetScalars()) {
    image->GetPointData()->SetActiveScalars(scalars->GetName());
  }
  return image;
}

// 1 for each flagged grid point that has a source point within `radius`, the test the kernel
// makes before it weighs any neighbours.
std::vector<std::uint8_t> corners_with_neighbours(vtkDataSet* source, vtkImageData* grid,
                                                  const std::vector<vtkIdType>& ids,
                                                  double radius) {
  std::vector<std::uint8_t> valid(static_cast<size_t>(grid->GetNumberOfPoints()), 0);
  auto locator = vtkSmartPointer<vtkStaticPointLocator>::New();
  locator->SetDataSet(source);
  locator->BuildLocator();
  auto found = vtkSmartPointer<vtkIdList>::New();
  double x[3];
  for (vtkIdType id : ids) {
    grid->GetPoint(id, x);
    locator->FindPointsWithinRadius(radius, x, found);
    valid[id] = found->GetNumberOfIds() > 0;
  }
  return valid;
}

std::vector<vtkIdType> flagged_ids(const std::vector<std::uint8_t>& flags) {
  std::vector<vtkIdType> ids;
  for (size_t i = 0; i < flags.size(); ++i) {
    if (flags[i]) ids.push_back(static_cast<vtkIdType>(i));
  }
  return ids;
}

}  // namespace

vtkSmartPointer<vtkDataSet> source_for(vtkDataSet* target, vtkDataSet* from_mesh,
                                       const std::string& field_name) {
  std::vector<std::string> names = {kelm::kNodeIdArray, kelm::kElementIdArray, kDistanceArray,
                                    kValidMaskArray};
  vtkPointData* own = target->GetPointData();
  for (int a = 0; a < own->GetNumberOfArrays(); ++a) {
    if (const char* name = own->GetArrayName(a)) names.emplace_back(name);
  }
  auto passes = [&](vtkDataSetAttributes* data) {
    for (const std::string& name : names) {
      if (name != field_name && data->GetAbstractArray(name.c_str())) return false;
    }
    return true;
  };
  if (passes(from_mesh->GetPointData()) && passes(from_mesh->GetCellData())) return from_mesh;
  vtkSmartPointer<vtkDataSet> copy;
  copy.TakeReference(from_mesh->NewInstance());
  copy->ShallowCopy(from_mesh);
  for (const std::string& name : names) {
    if (name == field_name) continue;
    copy->GetPointData()->RemoveArray(name.c_str());
    copy->GetCellData()->RemoveArray(name.c_str());
  }
  return copy;
}

// The target as the filters get it: without an earlier mapping's field and mask, so that the
// arrays the filter passes through from the target cannot shadow the newly sampled ones.
vtkSmartPointer<vtkDataSet> without_point_array(vtkDataSet* target, const std::string& name) {
  vtkPointData* pd = target->GetPointData();
  if (!pd->GetAbstractArray(name.c_str()) && !pd->GetAbstractArray(kValidMaskArray)) return target;
  vtkSmartPointer<vtkDataSet> copy;
  copy.TakeReference(target->NewInstance());
  copy->ShallowCopy(target);
  copy->GetPointData()->RemoveArray(name.c_str());
  copy->GetPointData()->RemoveArray(kValidMaskArray);
  return copy;
}

namespace {

// The source without the cell arrays that a point array of the same name stands for: the probe
// hands on both under one name, and a load would read whichever came first.
vtkSmartPointer<vtkDataSet> without_cell_twins(vtkDataSet* source) {
  vtkSmartPointer<vtkDataSet> out = source;
  vtkPointData* points = source->GetPointData();
  for (int a = 0; a < points->GetNumberOfArrays(); ++a) {
    const char* name = points->GetArrayName(a);
    if (!name || !source->GetCellData()->GetAbstractArray(name)) continue;
    if (out == source) {
      out.TakeReference(source->NewInstance());
      out->ShallowCopy(source);
    }
    out->GetCellData()->RemoveArray(name);
  }
  return out;
}

}  // namespace

vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_point_interpolator(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared) {
  check_method_arguments("interpolate_scalar_field_using_point_interpolator", field_name, from_mesh,
                         to_mesh, shared);
  const vtkSmartPointer<vtkDataSet> points = with_point_values(from_mesh, {field_name});
  from_mesh = points;
  mark_active_scalars(from_mesh, field_name);
  std::optional<SourceIndex> own;
  if (!shared) shared = &own.emplace(from_mesh);
  const PointTree& tree = shared->points_of(from_mesh);
  // The nearest source point always exists: every point is mapped.
  PointStencils stencils(to_mesh->GetNumberOfPoints(), 1);
  const std::vector<vtkIdType> order = spatial_order(to_mesh);
  vtkSMPTools::For(0, to_mesh->GetNumberOfPoints(), [&](vtkIdType begin, vtkIdType end) {
    const double one = 1.0;
    double x[3];
    for (vtkIdType k = begin; k < end; ++k) {
      const vtkIdType i = order[k];
      to_mesh->GetPoint(i, x);
      const vtkIdType nearest = tree.nearest(x);
      stencils.set(i, 1, &nearest, &one);
    }
  });
  return sample_through_stencils(field_name, from_mesh, to_mesh, stencils);
}

vtkSmartPointer<vtkDataSet> interpolate_scalar_field_using_probe_filter(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    SourceIndex* shared) {
  check_method_arguments("interpolate_scalar_field_using_probe_filter", field_name, from_mesh,
                         to_mesh, shared);
  const vtkSmartPointer<vtkDataSet> points = with_point_values(from_mesh, {field_name});
  from_mesh = points;
  mark_active_scalars(from_mesh, field_name);
  auto probe = vtkSmartPointer<vtkProbeFilter>::New();
  vtkSmartPointer<vtkDataSet> target = without_point_array(to_mesh, field_name);
  probe->SetInputData(target);
  probe->SetSourceData(without_cell_twins(source_for(target, from_mesh, field_name)));
  // Among volume cells, a static cell locator's binned search finds the cell holding a point in
  // about half the time the default search through the source's points and their cells takes on
  // a million cells, and the same cell. It takes a point beside a surface cell, which has no
  // thickness, for one outside the cell's box, so surface sources keep the default search.
  if (cell_dimensions(from_mesh) == kVolumeCells) {
    probe->SetCellLocatorPrototype(vtkSmartPointer<vtkStaticCellLocator>::New());
  }
  // The body's own arrays ("Node ID", "Element ID", "Distance") go through, as with the other
  // methods: the load writer reads them from the mapped leaf.
  probe->PassPointArraysOn();
  probe->PassCellArraysOn();
  probe->Update();
  vtkSmartPointer<vtkDataSet> out = probe->GetOutput();
  set_valid_mask(out, filter_mask(out).data());
  return out;
}

vtkSmartPointer<vtkDataSet> interpolate_coarse_field_onto_fine_field(
    const std::string& field_name, vtkDataSet* from_mesh, vtkDataSet* to_mesh,
    const CoarseToFineOptions& options, SourceIndex* shared) {
  check_method_arguments("interpolate_coarse_field_onto_fine_field", field_name, from_mesh,
                         to_mesh, shared);
  const vtkSmartPointer<vtkDataSet> points = with_point_values(from_mesh, {field_name});
  from_mesh = points;
  if (!(options.radius > 0) || !std::isfinite(options.radius)) {
    kelm::raise_value_error("fieldferry.interpolate_coarse_field_onto_fine_field: radius must be a",
                            " positive finite length, not ", options.radius);
  }
  mark_active_scalars(from_mesh, field_name);
  double bounds[6] = {0, 0, 0, 0, 0, 0};
  if (to_mesh->GetNumberOfPoints() > 0) to_mesh->GetBounds(bounds);
  vtkSmartPointer<vtkImageData> box = coarse_grid(bounds, options.radius);
  const std::vector<vtkIdType> read = flagged_ids(corners_read_by(box, to_mesh));

  auto resample = vtkSmartPointer<vtkResampleWithDataSet>::New();
  vtkSmartPointer<vtkDataSet> target = without_point_array(to_mesh, field_name);
  resample->SetInputData(target);
  resample->PassPointArraysOn();  // the body's own arrays, as for the probe above
  resample->PassCellArraysOn();
  keep_resampling_safe(resample, to_mesh);
  std::vector<std::uint8_t> valid_corner;
  auto interpolator = vtkSmartPointer<vtkPointInterpolator>::New();
  interpolator->SetSourceData(source_for(target, from_mesh, field_name));
  interpolator->SetKernel(gaussian_kernel(options.radius));
  if (options.full_grid) {
    interpolator->SetInputData(box);
    interpolator->Update();
    resample->SetSourceConnection(interpolator->GetOutputPort());
    valid_corner = corners_with_neighbours(from_mesh, box, read, options.radius);
  } else {
    // Only the grid points the resampling reads are evaluated. Masking the points without
    // neighbours gives them the same null value as the default strategy and reports them.
    vtkSmartPointer<vtkPolyData> corners = grid_points(box, read);
    interpolator->SetInputData(corners);
    interpolator->SetNullPointsStrategyToMaskPoints();
    interpolator->Update();
    auto* sampled = vtkPolyData::SafeDownCast(interpolator->GetOutput());
    valid_corner.assign(static_cast<size_t>(box->GetNumberOfPoints()), 0);
    const std::vector<std::uint8_t> sampled_valid = filter_mask(sampled);
    for (size_t i = 0; i < read.size(); ++i) valid_corner[read[i]] = sampled_valid[i];
    resample->SetSourceData(scatter_onto_grid(box, sampled, read));
  }
  resample->Update();
  vtkSmartPointer<vtkDataSet> out = vtkDataSet::SafeDownCast(resample->GetOutput());
  std::vector<std::uint8_t> valid = point_validity(box, out, valid_corner);
  const std::vector<std::uint8_t> found = filter_mask(out);
  for (size_t i = 0; i < valid.size(); ++i) valid[i] = valid[i] && found[i];
  set_valid_mask(out, valid.data());
  return out;
}

vtkIdType count_unmapped_points(vtkDataSet* mapped) {
  vtkDataArray* mask = mapped->GetPointData()->GetArray(kValidMaskArray);
  const vtkIdType n = mapped->GetNumberOfPoints();
  if (!mask) return n;
  vtkIdType unmapped = 0;
  for (vtkIdType i = 0; i < n; ++i) unmapped += mask->GetComponent(i, 0) == 0;
  return unmapped;
}

}  // namespace fieldferry_core
