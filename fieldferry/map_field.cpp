#include "map_field.h"

#include <vtkCellData.h>
#include <vtkDataObjectTreeIterator.h>
#include <vtkFieldData.h>
#include <vtkImageData.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkStringArray.h>
#include <vtkTransform.h>
#include <vtkTransformPolyDataFilter.h>
#include <vtkUnsignedDistance.h>

#include <cmath>
#include <iterator>
#include <memory>
#include <sstream>

#include "checks.h"
#include "common/errors.h"
#include "common/mapped_leaf.h"
#include "common/tag_arrays.h"
#include "distance_field.h"
#include "export_file.h"
#include "interpolation.h"
#include "linear_fit.h"
#include "outer_surface.h"
#include "sparse_distance.h"
#include "surface_projection.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "fieldferry.map_scalar_field_to_mesh";
constexpr char kSourceLengthArray[] = "current_units_length";
using kelm::kPressureField;
constexpr char kToMeshDiagnostic[] = "to_mesh_with_distances";
constexpr char kFromMeshDiagnostic[] = "from_mesh_with_unisgned_distances";
// Kernel radius of "Coarse to fine" and radius of a point cloud's unsigned distance volume, both
// in metres (converted into the model's length unit), so that the same source gives the same
// distances and values whatever unit it comes in.
constexpr double kCoarseToFineRadiusMetres = 0.01;
constexpr double kDistanceVolumeRadiusMetres = 0.05;

// In the order of MappingAlgorithm.
const char* const kAlgorithmNames[] = {"Point cloud or mesh", "Mesh only", "Coarse to fine",
                                       "Surface projection", "Linear fit"};

const std::string& required_string(vtkDataObject* object, const char* array, const char* whose) {
  const std::string* value = kelm::string_field(object, array);
  if (!value) {
    kelm::raise_key_error(kOperation, ": ", whose, " has no field data string array \"", array,
                          "\" (its field data arrays: ", array_names(object->GetFieldData()), ")");
  }
  return *value;
}

double checked_factor(const LengthFactor& factor, const std::string& from, const std::string& to) {
  const double f = factor(from, to);
  if (!std::isfinite(f) || !(f > 0)) {
    kelm::raise_value_error(kOperation, ": the length factor from '", from, "' to '", to, "' is ",
                            f, "; it must be a positive finite number");
  }
  return f;
}

vtkSmartPointer<vtkDataSet> scaled_source(vtkDataSet* source, double factor) {
  auto* poly = vtkPolyData::SafeDownCast(source);
  if (!poly) {
    kelm::raise_type_error(kOperation, ": the source (from_mesh) is a ", source->GetClassName(),
                           " but its length unit differs from the model's; only a vtkPolyData "
                           "source can be converted (factor ",
                           factor, ")");
  }
  auto transform = vtkSmartPointer<vtkTransform>::New();
  transform->Scale(factor, factor, factor);
  auto filter = vtkSmartPointer<vtkTransformPolyDataFilter>::New();
  filter->SetInputData(poly);
  filter->SetTransform(transform);
  filter->Update();
  vtkSmartPointer<vtkDataSet> scaled = filter->GetOutput();
  scaled->GetFieldData()->PassData(poly->GetFieldData());
  return scaled;
}

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

std::string leaf_name(vtkDataObject* leaf, unsigned flat_index) {
  const std::string* body = kelm::string_field(leaf, kelm::kBodyPathArray);
  return body ? *body : kelm::message("block ", flat_index);
}

vtkSmartPointer<vtkDataSet> interpolate(const MappingRequest& request, vtkDataSet* source,
                                        vtkDataSet* target, double coarse_radius) {
  switch (request.algorithm) {
    case MappingAlgorithm::point_cloud_or_mesh:
      return interpolate_scalar_field_using_point_interpolator(request.field_name, source, target);
    case MappingAlgorithm::mesh_only:
      return interpolate_scalar_field_using_probe_filter(request.field_name, source, target);
    case MappingAlgorithm::surface_projection:
      return interpolate_scalar_field_using_surface_projection(request.field_name, source, target);
    case MappingAlgorithm::linear_fit:
      return interpolate_scalar_field_using_linear_fit(request.field_name, source, target);
    case MappingAlgorithm::coarse_to_fine:
      break;
  }
  CoarseToFineOptions options;
  options.radius = coarse_radius;
  return interpolate_coarse_field_onto_fine_field(request.field_name, source, target, options);
}

void write_diagnostics(const std::string& folder, vtkDataSet* leaf, vtkDataSet* source) {
  // Not checked: a folder that cannot be written does not stop the mapping.
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  export_vtk_file(leaf, base + kToMeshDiagnostic, true);
  export_vtk_file(source, base + kFromMeshDiagnostic, true);
}

}  // namespace

std::optional<MappingAlgorithm> mapping_algorithm_named(const std::string& name) {
  for (size_t i = 0; i < std::size(kAlgorithmNames); ++i) {
    if (name == kAlgorithmNames[i]) return static_cast<MappingAlgorithm>(i);
  }
  return std::nullopt;
}

std::string mapping_algorithm_names() {
  std::string names;
  for (const char* name : kAlgorithmNames) {
    names += names.empty() ? "'" : ", '";
    names += name;
    names += "'";
  }
  return names;
}

void map_scalar_field_to_mesh(const MappingRequest& request, std::vector<MappedLeaf>& mapped) {
  const std::string& field_name = request.field_name;
  vtkDataSet* source = request.from_mesh;
  vtkMultiBlockDataSet* model = request.to_mesh;
  const bool boundary_only = request.boundary_only || field_name == kPressureField;

  // Everything that can be wrong with the inputs is found before the first leaf is touched.
  const std::string source_length = required_string(source, kSourceLengthArray, "the source");
  const std::string& system = required_string(model, kelm::kUnitLabelArray, "the model (to_mesh)");
  const std::string model_length = system.substr(0, system.find('-'));
  const char* unit_array = kelm::unit_array_for(field_name);
  std::optional<std::string> field_units;
  if (unit_array) field_units = required_string(source, unit_array, "the source");
  require_source_field(source, field_name, kOperation);
  require_points(source, kOperation, "the source (from_mesh)");

  double factor = 1.0;
  if (model_length != source_length) {
    factor = checked_factor(request.length_factor, source_length, model_length);
  }
  const bool volume_needed = request.with_distance && source->GetNumberOfCells() == 0 &&
                             !source->GetPointData()->GetAbstractArray(kImageScalarsArray);
  double metre = 1.0;  // one metre in model length units, asked for only when it is needed
  if ((request.algorithm == MappingAlgorithm::coarse_to_fine || volume_needed) &&
      model_length != "m") {
    metre = checked_factor(request.length_factor, "m", model_length);
  }
  const double coarse_radius = kCoarseToFineRadiusMetres * metre;
  vtkSmartPointer<vtkDataSet> from_mesh = source;
  if (factor != 1.0) from_mesh = scaled_source(source, factor);

  vtkSmartPointer<vtkDataSet> unsigned_distances;
  const double rval = kDistanceVolumeRadiusMetres * metre;
  std::unique_ptr<SparseDistanceVolume> sparse;
  std::optional<CappedCloudDistance> outside_distance;
  if (volume_needed) {
    vtkSmartPointer<vtkPolyData> cloud = as_point_cloud(from_mesh);
    if (!request.full_distance_volume) sparse = SparseDistanceVolume::over(cloud, rval);
    if (sparse) {
      unsigned_distances = sparse->volume();
    } else {
      auto volume = vtkSmartPointer<vtkUnsignedDistance>::New();
      volume->SetInputData(cloud);
      volume->SetRadius(rval);
      volume->Update();
      unsigned_distances = volume->GetOutput();
      outside_distance.emplace(cloud, rval, volume->GetCapValue());
    }
  }
  const char* field_location = field_name == kPressureField ? "Cell" : "Point";

  vtkSmartPointer<vtkDataObjectTreeIterator> leaves;
  leaves.TakeReference(model->NewTreeIterator());
  leaves->VisitOnlyLeavesOn();
  leaves->SkipEmptyNodesOn();
  for (leaves->InitTraversal(); !leaves->IsDoneWithTraversal(); leaves->GoToNextItem()) {
    auto* leaf = vtkDataSet::SafeDownCast(leaves->GetCurrentDataObject());
    if (!leaf) {
      kelm::raise_type_error(kOperation, ": block ", leaves->GetCurrentFlatIndex(),
                             " of the model is a ", leaves->GetCurrentDataObject()->GetClassName(),
                             ", not a dataset that a field can be mapped onto");
    }
    const unsigned index = leaves->GetCurrentFlatIndex();
    require_finite_points(leaf, kOperation,
                          kelm::string_field(leaf, kelm::kBodyPathArray)
                              ? "body '" + leaf_name(leaf, index) + "'"
                              : kelm::message("block ", index, " of the model"));
  }

  for (leaves->InitTraversal(); !leaves->IsDoneWithTraversal(); leaves->GoToNextItem()) {
    vtkSmartPointer<vtkDataSet> leaf = vtkDataSet::SafeDownCast(leaves->GetCurrentDataObject());
    vtkSmartPointer<vtkDataSet> dataset = leaf;
    const std::string body = leaf_name(leaf, leaves->GetCurrentFlatIndex());
    if (boundary_only) dataset = outer_surface(leaf);
    if (request.with_distance) {
      vtkDataSet* to = unsigned_distances ? unsigned_distances.Get() : from_mesh.Get();
      const bool had_distance = dataset->GetPointData()->GetAbstractArray(kDistanceArray);
      if (sparse && !had_distance) sparse->cover(dataset);
      dataset = generate_distance_field(dataset, to, field_location);
      if (unsigned_distances && !had_distance) {
        distances_outside_volume(dataset, sparse ? sparse->distance() : *outside_distance);
      }
      if (request.diagnostics_dir) write_diagnostics(*request.diagnostics_dir, dataset, from_mesh);
    }
    vtkSmartPointer<vtkDataSet> mapped_dataset =
        interpolate(request, from_mesh, dataset, coarse_radius);
    for (const char* name : {kelm::kBodyPathArray, kelm::kMeshTypeArray, kelm::kMeshOrderArray}) {
      vtkAbstractArray* tag = dataset->GetFieldData()->GetAbstractArray(name);
      if (!tag) tag = leaf->GetFieldData()->GetAbstractArray(name);
      if (tag) mapped_dataset->GetFieldData()->AddArray(tag);
    }
    if (unit_array) kelm::add_string_field(mapped_dataset, unit_array, *field_units);
    model->SetDataSet(leaves, mapped_dataset);
    mapped.push_back({body, static_cast<long long>(mapped_dataset->GetNumberOfPoints()),
                      static_cast<long long>(count_unmapped_points(mapped_dataset))});
  }
}

}  // namespace fieldferry_core
