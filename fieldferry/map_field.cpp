#include "map_field.h"

#include <vtkCellData.h>
#include <vtkDataObjectTreeIterator.h>
#include <vtkFieldData.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <vtkStringArray.h>

#include <iterator>
#include <memory>

#include "checks.h"
#include "common/errors.h"
#include "common/mapped_leaf.h"
#include "common/print_sink.h"
#include "common/tag_arrays.h"
#include "export_file.h"
#include "face_average.h"
#include "facing.h"
#include "interpolation.h"
#include "linear_fit.h"
#include "shell_sides.h"
#include "source_distance.h"
#include "source_fields.h"
#include "source_index.h"
#include "source_stage.h"
#include "surface_projection.h"
#include "target_stage.h"

namespace fieldferry_core {

namespace {

constexpr char kOperation[] = "fieldferry.map_scalar_field_to_mesh";
constexpr char kSourceLengthArray[] = "current_units_length";
constexpr char kToMeshDiagnostic[] = "to_mesh_with_distances";
constexpr char kFromMeshDiagnostic[] = "from_mesh_with_unisgned_distances";
// Radius of a point cloud's unsigned distance volume in metres (converted into the model's length
// unit, as kCoarseToFineRadiusMetres is), so that the same source gives the same distances
// whatever unit it comes in.
constexpr double kDistanceVolumeRadiusMetres = 0.05;

// In the order of MappingAlgorithm.
const char* const kAlgorithmNames[] = {"Point cloud or mesh", "Mesh only",  "Coarse to fine",
                                       "Surface projection",  "Linear fit", "Face average"};

const std::string& required_string(vtkDataObject* object, const char* array, const char* whose) {
  const std::string* value = kelm::string_field(object, array);
  if (!value) {
    kelm::raise_key_error(kOperation, ": ", whose, " has no field data string array \"", array,
                          "\" (its field data arrays: ", array_names(object->GetFieldData()), ")");
  }
  return *value;
}

std::string leaf_name(vtkDataObject* leaf, unsigned flat_index) {
  const std::string* body = kelm::string_field(leaf, kelm::kBodyPathArray);
  return body ? *body : kelm::message("block ", flat_index);
}

// One field of the mapping and the unit array it carries ("units_pressure" / "units_temperature").
struct Field {
  std::string name;
  const char* unit_array = nullptr;
  std::optional<std::string> units;
};

// What the inputs say, read and checked before the first leaf is touched.
struct Inputs {
  std::string source_length;
  std::string model_length;
  std::vector<Field> fields;  // field_name first, then the further fields
  double factor = 1.0;        // source lengths -> model lengths
  double metre = 1.0;         // one metre in model lengths, asked for only when it is needed

  bool has(const char* name) const {
    for (const Field& f : fields) {
      if (f.name == name) return true;
    }
    return false;
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const Field& f : fields) out.push_back(f.name);
    return out;
  }
};

// A mapping maps one number per point: a field of several components would reach the load as
// its first component only, or fail there.
void require_scalar_field(vtkDataSet* source, const std::string& field_name) {
  vtkAbstractArray* array = source->GetPointData()->GetAbstractArray(field_name.c_str());
  if (!array) array = source->GetCellData()->GetAbstractArray(field_name.c_str());
  if (array && array->GetNumberOfComponents() != 1) {
    kelm::raise_value_error(kOperation, ": the source's array '", field_name, "' has ",
                            array->GetNumberOfComponents(), " components; a scalar field has 1");
  }
}

Inputs read_inputs(const MappingRequest& request) {
  vtkDataSet* source = request.from_mesh;
  Inputs in;
  in.source_length = required_string(source, kSourceLengthArray, "the source");
  const std::string& system =
      required_string(request.to_mesh, kelm::kUnitLabelArray, "the model (to_mesh)");
  in.model_length = system.substr(0, system.find('-'));
  std::vector<std::string> names = {request.field_name};
  names.insert(names.end(), request.more_fields.begin(), request.more_fields.end());
  for (const std::string& name : names) {
    if (in.has(name.c_str())) {
      kelm::raise_value_error(kOperation, ": the field '", name, "' is named twice");
    }
    Field field{name, kelm::unit_array_for(name), std::nullopt};
    if (field.unit_array) field.units = required_string(source, field.unit_array, "the source");
    require_source_field(source, name, kOperation);
    require_scalar_field(source, name);
    in.fields.push_back(field);
  }
  require_points(source, kOperation, "the source (from_mesh)");
  if (in.model_length != in.source_length) {
    in.factor = checked_length_factor(request.length_factor(in.source_length, in.model_length),
                                      kOperation, in.source_length, in.model_length);
  }
  const bool volume_needed =
      request.with_distance && request.cloud_nearest && SourceDistance::needs_volume(source);
  const bool default_radius =
      request.algorithm == MappingAlgorithm::coarse_to_fine && !request.coarse_radius;
  if ((default_radius || volume_needed) && in.model_length != "m") {
    in.metre = checked_length_factor(request.length_factor("m", in.model_length), kOperation, "m",
                                     in.model_length);
  }
  return in;
}

// The methods that give nodes their values get every cell-data field as point values once, for
// all leaves (a node taking the one face it lands in would jump from face to face); "Face
// average" integrates the faces' own values.
bool reads_points(MappingAlgorithm algorithm) {
  return algorithm != MappingAlgorithm::face_average;
}

// "Face average" gives each face of a body's surface its mean over the face; a mapping onto every
// node of the bodies has no faces to average over.
void require_surfaces(const MappingRequest& request, bool boundary_only) {
  if (request.algorithm != MappingAlgorithm::face_average || boundary_only) return;
  kelm::raise_value_error(kOperation,
                          ": \"Face average\" averages over the faces of the bodies' "
                          "surfaces, but '",
                          request.field_name,
                          "' is mapped onto every node (boundary_only=False): pass "
                          "boundary_only=True to map it onto the surfaces, or choose a method "
                          "that maps onto nodes, such as \"Surface projection\"");
}

// Every leaf must be a dataset VTK's locators can work with; checked before the first is mapped.
void check_leaves(vtkMultiBlockDataSet* model, vtkDataObjectTreeIterator* leaves) {
  for (leaves->InitTraversal(); !leaves->IsDoneWithTraversal(); leaves->GoToNextItem()) {
    auto* leaf = vtkDataSet::SafeDownCast(leaves->GetCurrentDataObject());
    const unsigned index = leaves->GetCurrentFlatIndex();
    if (!leaf) {
      kelm::raise_type_error(kOperation, ": block ", index, " of the model is a ",
                             leaves->GetCurrentDataObject()->GetClassName(),
                             ", not a dataset that a field can be mapped onto");
    }
    require_finite_points(leaf, kOperation,
                          kelm::string_field(leaf, kelm::kBodyPathArray)
                              ? "body '" + leaf_name(leaf, index) + "'"
                              : kelm::message("block ", index, " of the model"));
  }
  (void)model;
}

// The source lying elsewhere than the model, or at another scale, is almost always a unit
// mistake that would otherwise map "successfully" to values from the wrong places.
void compare_placement(const MappingRequest& request, vtkDataSet* source, const std::string& unit) {
  double model_box[6], source_box[6];
  if (!model_bounds(request.to_mesh, model_box)) return;
  source->GetBounds(source_box);
  const std::optional<std::string> mismatch =
      bounding_box_mismatch(source_box, model_box, unit, request.tolerance);
  if (!mismatch) return;
  if (request.require_overlap) kelm::raise_value_error(kOperation, ": ", *mismatch);
  kelm::print_line("Warning: " + *mismatch);
}

// "Mesh only" probes the source's cells: from a point cloud it gives no point a value.
void note_method_without_cells(const MappingRequest& request, vtkDataSet* source) {
  if (request.algorithm != MappingAlgorithm::mesh_only || source->GetNumberOfCells() > 0) return;
  kelm::print_line(kelm::message(
      "\"Mesh only\" maps nothing from this source: it has ", source->GetNumberOfPoints(),
      " points and no cells, so no point gets a value; \"Point cloud or mesh\", \"Linear "
      "fit\" and \"Coarse to fine\" map from points"));
}

// A body whose surface faces are faces of solid elements: only its wetted side is to be loaded.
bool is_solid(vtkDataObject* leaf) {
  const std::string* type = kelm::string_field(leaf, kelm::kMeshTypeArray);
  return type && (*type == "tetra" || *type == "hexa");
}

// `distances`: for "Surface projection", each point's distance from the projection itself.
vtkSmartPointer<vtkDataSet> interpolate(const MappingRequest& request, SourceIndex& index,
                                        vtkDataSet* target, double coarse_radius,
                                        std::vector<double>* distances) {
  const std::string& field = request.field_name;
  vtkDataSet* source = index.source();
  switch (request.algorithm) {
    case MappingAlgorithm::point_cloud_or_mesh:
      return interpolate_scalar_field_using_point_interpolator(field, source, target, &index);
    case MappingAlgorithm::mesh_only:
      return interpolate_scalar_field_using_probe_filter(field, source, target, &index);
    case MappingAlgorithm::surface_projection:
      return interpolate_scalar_field_using_surface_projection(field, source, target, &index,
                                                               distances);
    case MappingAlgorithm::linear_fit:
      return interpolate_scalar_field_using_linear_fit(field, source, target, &index);
    case MappingAlgorithm::face_average:
      return interpolate_scalar_field_using_face_average(field, source, target, &index);
    case MappingAlgorithm::coarse_to_fine:
      break;
  }
  CoarseToFineOptions options;
  options.radius = coarse_radius;
  return interpolate_coarse_field_onto_fine_field(field, source, target, options, &index);
}

void write_diagnostics(const std::string& folder, vtkDataSet* leaf, vtkDataSet* source) {
  // Not checked: a folder that cannot be written does not stop the mapping.
  const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  export_raw_vtk_file(leaf, base + kToMeshDiagnostic);
  export_raw_vtk_file(source, base + kFromMeshDiagnostic);
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
  vtkMultiBlockDataSet* model = request.to_mesh;

  // Everything that can be wrong with the inputs is found before the first leaf is touched.
  const Inputs in = read_inputs(request);
  const bool pressure = in.has(kelm::kPressureField);
  const bool boundary_only = request.boundary_only || pressure;
  require_surfaces(request, boundary_only);
  vtkSmartPointer<vtkDataObjectTreeIterator> leaves;
  leaves.TakeReference(model->NewTreeIterator());
  leaves->VisitOnlyLeavesOn();
  leaves->SkipEmptyNodesOn();
  check_leaves(model, leaves);
  // The tolerance is in model units; the copies are cut in the source's.
  const std::optional<double> cut_reach =
      request.with_distance ? std::optional<double>(request.tolerance / in.factor) : std::nullopt;
  vtkSmartPointer<vtkDataSet> source = placed_source(
      with_copies(request.from_mesh, request.copies, cut_reach), in.factor, request.transform);
  compare_placement(request, source, in.model_length);
  note_method_without_cells(request, source);
  if (reads_points(request.algorithm)) source = with_point_values(source, in.names());

  SourceIndex index(source);
  std::optional<SourceDistance> distance;
  std::unique_ptr<SourceFacing> facing;
  // A shell takes the pressure of the side the fluid is on, which only a source with faces tells;
  // the source's faces are read when the first shell needs them.
  std::unique_ptr<ShellSides> sides;
  bool sides_read = false;
  const double coarse_radius = request.coarse_radius.value_or(kCoarseToFineRadiusMetres * in.metre);
  if (request.with_distance) {
    distance.emplace(index, kDistanceVolumeRadiusMetres * in.metre, request.full_distance_volume,
                     request.cloud_nearest);
    if (pressure) facing = SourceFacing::of(index);
  }
  // "Surface projection" finds each point's closest point on the source's cells: the distance
  // stage would search the same cells again.
  const bool projection_measures = distance && distance->measures_source_cells() &&
                                   request.algorithm == MappingAlgorithm::surface_projection;
  std::vector<double> projected;
  // The diagnostic files hold the source and the last leaf measured: written once, after the
  // leaves, since rewriting the whole source for every leaf costs more than the mapping.
  vtkSmartPointer<vtkDataSet> last_measured;
  for (leaves->InitTraversal(); !leaves->IsDoneWithTraversal(); leaves->GoToNextItem()) {
    vtkSmartPointer<vtkDataSet> leaf = vtkDataSet::SafeDownCast(leaves->GetCurrentDataObject());
    const std::string body = leaf_name(leaf, leaves->GetCurrentFlatIndex());
    vtkSmartPointer<vtkDataSet> target = prepare_target(leaf, boundary_only, in.names());
    if (distance && !projection_measures) {
      target = distance->measure(target, pressure);
      last_measured = target;
    }
    vtkSmartPointer<vtkDataSet> mapped_dataset = interpolate(
        request, index, target, coarse_radius, projection_measures ? &projected : nullptr);
    if (projection_measures) {
      mapped_dataset = distance->measure(mapped_dataset, pressure, &projected);
      last_measured = mapped_dataset;
    }
    tag_mapped_leaf(mapped_dataset, target, leaf);
    if (facing && is_solid(leaf)) facing->mark(vtkPolyData::SafeDownCast(target), mapped_dataset);
    const bool shell = pressure && !is_solid(leaf) && vtkPolyData::SafeDownCast(target);
    if (shell && !sides_read) {
      sides = ShellSides::of(source);
      sides_read = true;
    }
    if (shell && sides) {
      sides->load(vtkPolyData::SafeDownCast(target), mapped_dataset, kelm::kPressureField,
                  request.with_distance ? std::optional<double>(request.tolerance) : std::nullopt,
                  [&](SourceIndex& side) {
                    return interpolate(request, side, target, coarse_radius, nullptr);
                  });
    }
    for (const Field& field : in.fields) {
      if (field.unit_array) kelm::add_string_field(mapped_dataset, field.unit_array, *field.units);
    }
    model->SetDataSet(leaves, mapped_dataset);
    mapped.push_back({body, static_cast<long long>(mapped_dataset->GetNumberOfPoints()),
                      static_cast<long long>(count_unmapped_points(mapped_dataset))});
  }
  if (last_measured && request.diagnostics_dir) {
    write_diagnostics(*request.diagnostics_dir, last_measured, source);
  }
}

}  // namespace fieldferry_core
