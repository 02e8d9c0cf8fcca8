// The module `fieldferry`: maps a scalar field from a source dataset onto every body of the model
// multiblock; the six interpolation methods, distances to the source and dataset export.
// Module attributes read and set here: diagnostics_dir (folder of the two diagnostic files of the
// distance step, None for none) and last_unmapped_counts (per body, the points of the last mapping
// that got no value from the source).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <vtkLinearTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkPythonUtil.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "distance_field.h"
#include "export_file.h"
#include "face_average.h"
#include "facing.h"
#include "interpolation.h"
#include "linear_fit.h"
#include "map_field.h"
#include "source_copies.h"
#include "source_stage.h"
#include "surface_projection.h"

namespace py = pybind11;
namespace core = fieldferry_core;

namespace {

using kelm::bind::flag_argument;
using kelm::bind::path_argument;
using kelm::bind::real_argument;
using kelm::bind::text_argument;
using kelm::bind::vtk_argument;

// The unit converter is outside the system; it is created only when a factor is needed.
double gaugeshift_length_factor(const std::string& from, const std::string& to) {
  py::object factor;
  try {
    py::object converter = py::module_::import("gaugeshift").attr("gaugeshift_factor")();
    factor = converter.attr("get_gaugeshift_factor")("Length", from, to)[py::int_(0)];
  } catch (py::error_already_set& error) {
    // The converter's own text says what it lacks; the prefix says which call and which labels.
    if (!error.matches(PyExc_Exception)) throw;
    const std::string detail = py::str(error.value());
    PyErr_SetString(error.type().ptr(),
                    kelm::message("fieldferry.map_scalar_field_to_mesh: cannot convert lengths "
                                  "from '",
                                  from, "' to '", to,
                                  "' (the source's \"current_units_length\" "
                                  "to the model's length unit): ",
                                  detail)
                        .c_str());
    throw py::error_already_set();
  }
  if (!py::isinstance(factor, py::module_::import("numbers").attr("Real"))) {
    kelm::raise_type_error(
        "fieldferry.map_scalar_field_to_mesh: gaugeshift gave a length factor "
        "from '",
        from, "' to '", to, "' that is not a number: ", kelm::bind::utf8_text(py::repr(factor)));
  }
  return PyFloat_AsDouble(factor.ptr());
}

std::optional<std::string> diagnostics_dir(py::module_ m) {
  py::object folder = py::getattr(m, "diagnostics_dir", py::none());
  if (folder.is_none()) return std::nullopt;
  return path_argument(folder, "fieldferry.map_scalar_field_to_mesh", "fieldferry.diagnostics_dir");
}

// None, or a distance of 0 or more: anything else would fail only later, in the load that reads
// it.
std::optional<double> tolerance_argument(py::object tolerance, const char* op) {
  if (tolerance.is_none()) return std::nullopt;
  const double value = real_argument(tolerance, op, "tolerance");
  if (!(value >= 0)) {
    kelm::raise_value_error(op, ": tolerance must be None or a distance of 0 or more, not ", value);
  }
  return value;
}

// None, a vtkLinearTransform or vtkMatrix4x4, or 4 rows of 4 finite numbers, affine (last row
// 0 0 0 1): a projective matrix would bend the source, not move it.
std::optional<std::array<double, 16>> transform_argument(py::object value, const char* op) {
  if (value.is_none()) return std::nullopt;
  std::array<double, 16> m{};
  vtkObjectBase* object = vtkPythonUtil::GetPointerFromObject(value.ptr(), "vtkObjectBase");
  PyErr_Clear();
  if (auto* linear = vtkLinearTransform::SafeDownCast(object)) {
    vtkMatrix4x4::DeepCopy(m.data(), linear->GetMatrix());
  } else if (auto* matrix = vtkMatrix4x4::SafeDownCast(object)) {
    vtkMatrix4x4::DeepCopy(m.data(), matrix);
  } else {
    const char* expected = "a 4x4 matrix (rows of numbers), a vtkTransform or None";
    if (object || !PySequence_Check(value.ptr()) || py::isinstance<py::str>(value) ||
        py::len(value) != 4) {
      kelm::raise_type_error(op, ": transform must be ", expected, ", not ",
                             kelm::bind::type_name(value));
    }
    for (int r = 0; r < 4; ++r) {
      py::object row = value[py::int_(r)];
      if (!PySequence_Check(row.ptr()) || py::isinstance<py::str>(row) || py::len(row) != 4) {
        kelm::raise_type_error(op, ": transform must be ", expected, "; row ", r, " is ",
                               kelm::bind::utf8_text(py::repr(row)));
      }
      for (int c = 0; c < 4; ++c) m[4 * r + c] = real_argument(row[py::int_(c)], op, "transform");
    }
  }
  for (double v : m) {
    if (!std::isfinite(v)) kelm::raise_value_error(op, ": transform has a non-finite entry ", v);
  }
  if (m[12] != 0 || m[13] != 0 || m[14] != 0 || m[15] != 1) {
    kelm::raise_value_error(op, ": transform's last row is (", m[12], ", ", m[13], ", ", m[14],
                            ", ", m[15], "); a rigid or affine move has (0, 0, 0, 1)");
  }
  return m;
}

// The numbers of a sequence of one of the lengths in `sizes`, each finite; `form` names
// the expected shape in messages.
std::vector<double> numbers_argument(py::object value, const char* op, const char* parameter,
                                     std::initializer_list<size_t> sizes, const char* form) {
  const bool sequence = PySequence_Check(value.ptr()) && !py::isinstance<py::str>(value);
  const size_t size = sequence ? py::len(value) : 0;
  if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) {
    kelm::raise_type_error(op, ": ", parameter, " must be None or ", form, ", not ",
                           kelm::bind::utf8_text(py::repr(value)));
  }
  std::vector<double> numbers;
  for (size_t k = 0; k < size; ++k) {
    numbers.push_back(real_argument(value[py::int_(k)], op, parameter));
    if (!std::isfinite(numbers.back())) {
      kelm::raise_value_error(op, ": ", parameter, " has a non-finite entry ", numbers.back());
    }
  }
  return numbers;
}

core::Vector3 nonzero_direction(const std::vector<double>& n, size_t first, const char* op,
                                const char* parameter) {
  const core::Vector3 direction{n[first], n[first + 1], n[first + 2]};
  if (direction == core::Vector3{0, 0, 0}) {
    kelm::raise_value_error(op, ": ", parameter, "'s direction is (0, 0, 0); it needs one");
  }
  return direction;
}

core::Vector3 centre_from(const std::vector<double>& n, size_t first) {
  if (n.size() < first + 3) return {0, 0, 0};
  return {n[first], n[first + 1], n[first + 2]};
}

// mirror=(nx, ny, nz[, cx, cy, cz]) and sector=(count, ax, ay, az[, cx, cy, cz]): the plane's
// normal and the sector's axis through a centre (default the origin), in source coordinates.
core::SourceCopies copies_argument(py::object mirror, py::object sector, const char* op) {
  core::SourceCopies copies;
  if (!mirror.is_none()) {
    const auto n = numbers_argument(mirror, op, "mirror", {3, 6}, "(nx, ny, nz[, cx, cy, cz])");
    copies.mirror = core::MirrorPlane{nonzero_direction(n, 0, op, "mirror"), centre_from(n, 3)};
  }
  if (!sector.is_none()) {
    const auto n =
        numbers_argument(sector, op, "sector", {4, 7}, "(count, ax, ay, az[, cx, cy, cz])");
    if (n[0] != std::floor(n[0]) || n[0] < 2 || n[0] > core::kMostSectors) {
      kelm::raise_value_error(op, ": sector's count is ", n[0], "; it must be a whole number of ",
                              "sectors from 2 to ", core::kMostSectors);
    }
    copies.sector =
        core::SectorCopies{int(n[0]), nonzero_direction(n, 1, op, "sector"), centre_from(n, 4)};
  }
  return copies;
}

py::object map_scalar_field_to_mesh(py::object field_name, py::object mapping_algorithm,
                                    py::object from_mesh, py::object to_mesh,
                                    py::object boundary_only, py::object tolerance,
                                    py::object full_distance_volume, py::object require_overlap,
                                    py::object more_fields, py::object transform, py::object radius,
                                    py::object cloud_distance, py::object mirror,
                                    py::object sector) {
  constexpr const char* op = "fieldferry.map_scalar_field_to_mesh";
  py::module_ m = py::module_::import("fieldferry");
  core::MappingRequest request;
  request.field_name = text_argument(field_name, op, "field_name");
  request.full_distance_volume = flag_argument(full_distance_volume, op, "full_distance_volume");
  const std::string algorithm = text_argument(mapping_algorithm, op, "mapping_algorithm");
  auto chosen = core::mapping_algorithm_named(algorithm);
  if (!chosen) {
    kelm::raise_value_error(op, ": unknown mapping_algorithm '", algorithm,
                            "'; valid names: ", core::mapping_algorithm_names());
  }
  request.algorithm = *chosen;
  request.from_mesh = vtk_argument<vtkDataSet>(from_mesh, op, "from_mesh", "VTK dataset");
  request.to_mesh =
      vtk_argument<vtkMultiBlockDataSet>(to_mesh, op, "to_mesh", "vtkMultiBlockDataSet");
  request.boundary_only = flag_argument(boundary_only, op, "boundary_only");
  const std::optional<double> reach = tolerance_argument(tolerance, op);
  request.with_distance = reach.has_value();
  request.tolerance = reach.value_or(0);
  request.require_overlap = flag_argument(require_overlap, op, "require_overlap");
  request.more_fields =
      kelm::bind::text_list_argument(more_fields, op, "more_fields", "a list of field names");
  request.transform = transform_argument(transform, op);
  request.copies = copies_argument(mirror, sector, op);
  const std::string cloud = text_argument(cloud_distance, op, "cloud_distance");
  if (cloud != "surface" && cloud != "nearest") {
    kelm::raise_value_error(op, ": cloud_distance must be 'surface' or 'nearest', not '", cloud,
                            "'");
  }
  request.cloud_nearest = cloud == "nearest";
  if (!radius.is_none()) {
    const double r = real_argument(radius, op, "radius");
    if (!(r > 0) || !std::isfinite(r)) {
      kelm::raise_value_error(op, ": radius must be None or a positive finite length, not ", r);
    }
    request.coarse_radius = r;
  }
  request.length_factor = gaugeshift_length_factor;
  request.diagnostics_dir = diagnostics_dir(m);

  std::vector<core::MappedLeaf> mapped;
  auto publish_counts = [&] {
    py::dict counts;
    for (const auto& leaf : mapped) counts[py::str(leaf.body)] = leaf.unmapped;
    m.attr("last_unmapped_counts") = counts;
  };
  try {
    core::map_scalar_field_to_mesh(request, mapped);
  } catch (...) {
    publish_counts();
    throw;
  }
  publish_counts();
  return to_mesh;
}

// The source as a mapping places it, always a new dataset: the caller may relabel it.
vtkSmartPointer<vtkDataSet> place_source(py::object source, py::object length_factor,
                                         py::object transform, py::object mirror, py::object sector,
                                         py::object tolerance) {
  constexpr const char* op = "fieldferry.place_source";
  auto* from = vtk_argument<vtkDataSet>(source, op, "source", "VTK dataset");
  const double factor = core::checked_length_factor(
      real_argument(length_factor, op, "length_factor"), op, "the source's unit", "the model's");
  const std::optional<double> reach = tolerance_argument(tolerance, op);
  vtkSmartPointer<vtkDataSet> whole =
      core::with_copies(from, copies_argument(mirror, sector, op),
                        reach ? std::optional<double>(*reach / factor) : std::nullopt);
  vtkSmartPointer<vtkDataSet> placed =
      core::placed_source(whole, factor, transform_argument(transform, op));
  if (placed.Get() != from) return placed;
  vtkSmartPointer<vtkDataSet> copy;
  copy.TakeReference(from->NewInstance());
  copy->ShallowCopy(from);
  return copy;
}

// Binds one interpolation method: (field_name, from_mesh, to_mesh) -> a new dataset.
using Method = vtkSmartPointer<vtkDataSet> (*)(const std::string&, vtkDataSet*, vtkDataSet*,
                                               core::SourceIndex*);
void def_method(py::module_& m, const char* name, Method method, const char* doc) {
  const std::string op = std::string("fieldferry.") + name;
  m.def(
      name,
      [op, method](py::object field_name, py::object from_mesh, py::object to_mesh) {
        return method(text_argument(field_name, op.c_str(), "field_name"),
                      vtk_argument<vtkDataSet>(from_mesh, op.c_str(), "from_mesh", "VTK dataset"),
                      vtk_argument<vtkDataSet>(to_mesh, op.c_str(), "to_mesh", "VTK dataset"),
                      nullptr);
      },
      py::arg("field_name"), py::arg("from_mesh"), py::arg("to_mesh"), doc);
}

}  // namespace

PYBIND11_MODULE(fieldferry, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  m.doc() = "Field transfer: maps a scalar field from a source dataset onto every model body.";
  m.attr("diagnostics_dir") = py::module_::import("tempfile").attr("gettempdir")();
  m.attr("last_unmapped_counts") = py::dict();
  // What map_scalar_field_to_mesh takes for radius=None, for callers that report the radius used.
  m.attr("default_coarse_radius_metres") = core::kCoarseToFineRadiusMetres;
  // How squarely a solid's face must face its source face to be wetted, for the force balance.
  m.attr("facing_cosine") = core::kFacingCosine;

  m.def("map_scalar_field_to_mesh", &map_scalar_field_to_mesh, py::arg("field_name"),
        py::arg("mapping_algorithm"), py::arg("from_mesh"), py::arg("to_mesh"),
        py::arg("boundary_only"), py::arg("tolerance"), py::kw_only(),
        py::arg("full_distance_volume") = py::bool_(false),
        py::arg("require_overlap") = py::bool_(false), py::arg("more_fields") = py::tuple(),
        py::arg("transform") = py::none(), py::arg("radius") = py::none(),
        py::arg("cloud_distance") = py::str("surface"), py::arg("mirror") = py::none(),
        py::arg("sector") = py::none(),
        "Maps the source point field `field_name` onto every leaf of the model multiblock "
        "`to_mesh` (changed in place and returned) with mapping_algorithm \"Point cloud or "
        "mesh\", \"Mesh only\", \"Coarse to fine\", \"Surface projection\", \"Linear fit\" or "
        "\"Face average\" (onto body surfaces only: a pressure, or boundary_only=True), after "
        "scaling the source into the model's length unit. \"Pressure\" maps onto body "
        "surfaces; a tolerance other than None adds the \"Distance\" to the source first (for a "
        "point cloud from its distance volume, evaluated only where the leaves read it unless "
        "full_distance_volume is true; same values). Each leaf carries \"vtkValidPointMask\"; "
        "the per-body count of unmapped points is left in fieldferry.last_unmapped_counts. A "
        "source whose bounding box misses the model's or differs from it more than 20 times in "
        "size prints a warning (raises ValueError with require_overlap=True). more_fields: further "
        "source fields mapped with the same geometry onto the same leaves. transform (a 4x4 "
        "matrix or a vtkTransform) moves the source after the length-unit scaling. radius: the "
        "kernel radius of \"Coarse to fine\" in model units (None: 0.01 m). A point cloud's "
        "\"Distance\" is measured to the surface it samples (the plane of its nearest points; "
        "cloud_distance='nearest': to its nearest point, through its distance volume). "
        "mirror=(nx, ny, nz[, cx, cy, cz]) merges a copy of the source mirrored in the plane "
        "through C (default the origin) with normal N; sector=(count, ax, ay, az[, cx, cy, cz]) "
        "merges count - 1 copies turned by 360/count degrees about the axis through C: both in the "
        "source's own coordinates, before the scaling and the transform, so that a half or a "
        "sector of a CFD model loads the whole structure. Source faces lying along the plane or "
        "the sector's cut, within the tolerance of it (None: a millionth of the source's size), "
        "are dropped. A field held "
        "as cell data (face values) is taken from the cell a point lands in by \"Mesh only\", "
        "\"Surface projection\" and \"Face average\", and averaged to the points (size-weighted) "
        "for the others. "
        "Raises KeyError for a missing unit array or field, ValueError for an unknown algorithm, "
        "a field of several components, a negative tolerance or an empty or non-finite source, "
        "TypeError for arguments of the wrong kind.");

  m.def("place_source", &place_source, py::arg("source"), py::arg("length_factor") = 1.0,
        py::arg("transform") = py::none(), py::kw_only(), py::arg("mirror") = py::none(),
        py::arg("sector") = py::none(), py::arg("tolerance") = py::none(),
        "The source as map_scalar_field_to_mesh places it: a new dataset of the same kind (an "
        "image becomes a structured grid) scaled about the origin by length_factor (the source's "
        "length unit into the model's), then moved by transform (a 4x4 affine matrix or a "
        "vtkTransform; None: not moved). A \"Normals\" array turns as normals do, and a "
        "transform that mirrors (negative determinant) turns each cell's point order, so that "
        "face normals keep pointing out of the fluid. Point, cell and field data are kept. mirror, "
        "sector and tolerance (model units) merge copies first as map_scalar_field_to_mesh "
        "does; the field data \"Source copies\" then says how many. "
        "Raises ValueError for a length factor that is not positive and finite or a transform "
        "that is not affine, TypeError for arguments of the wrong kind.");

  def_method(m, "interpolate_scalar_field_using_point_interpolator",
             &core::interpolate_scalar_field_using_point_interpolator,
             "\"Point cloud or mesh\": a new dataset like to_mesh whose points take the source "
             "values of their nearest source point (Voronoi kernel); \"vtkValidPointMask\" is 1 "
             "everywhere.");
  def_method(m, "interpolate_scalar_field_using_probe_filter",
             &core::interpolate_scalar_field_using_probe_filter,
             "\"Mesh only\": a new dataset like to_mesh probed in the source cells; points in no "
             "source cell get 0 and \"vtkValidPointMask\" 0.");
  def_method(
      m, "interpolate_scalar_field_using_surface_projection",
      [](const std::string& field, vtkDataSet* from, vtkDataSet* to, core::SourceIndex* shared) {
        return core::interpolate_scalar_field_using_surface_projection(field, from, to, shared);
      },
      "\"Surface projection\": a new dataset like to_mesh whose points take the source "
      "values at their closest point on the source's cells, interpolated with that cell's "
      "weights; \"vtkValidPointMask\" is 1 wherever a non-degenerate cell was found. "
      "Raises ValueError for a source without cells.");
  def_method(m, "interpolate_scalar_field_using_face_average",
             &core::interpolate_scalar_field_using_face_average,
             "\"Face average\": a new surface like to_mesh (vtkPolyData) whose faces take the area "
             "average of the source over them (sampled points projected onto the source's cells) "
             "as cell arrays, NaN where a face got no value; its points take the area-weighted "
             "mean of the faces around them (a point on no face the value at its closest point). "
             "\"vtkValidPointMask\" is 1 where a point got a value; from a source of polygons "
             "the field data \"Source area covered\" holds the area of the source faces the "
             "samples reached. "
             "Raises ValueError for a source without cells or a target that is not polydata.");
  def_method(m, "interpolate_scalar_field_using_linear_fit",
             &core::interpolate_scalar_field_using_linear_fit,
             "\"Linear fit\": a new dataset like to_mesh whose points take the value of a linear "
             "function fitted by weighted least squares to their 10 nearest source points "
             "(constant across directions the neighbours do not span); \"vtkValidPointMask\" is "
             "1 everywhere.");

  m.def(
      "interpolate_coarse_field_onto_fine_field",
      [](py::object field_name, py::object from_mesh, py::object to_mesh, py::object radius,
         py::object full_grid) {
        constexpr const char* op = "fieldferry.interpolate_coarse_field_onto_fine_field";
        core::CoarseToFineOptions options;
        options.radius = real_argument(radius, op, "radius");
        options.full_grid = flag_argument(full_grid, op, "full_grid");
        return core::interpolate_coarse_field_onto_fine_field(
            text_argument(field_name, op, "field_name"),
            vtk_argument<vtkDataSet>(from_mesh, op, "from_mesh", "VTK dataset"),
            vtk_argument<vtkDataSet>(to_mesh, op, "to_mesh", "VTK dataset"), options);
      },
      py::arg("field_name"), py::arg("from_mesh"), py::arg("to_mesh"), py::kw_only(),
      py::arg("radius") = py::float_(0.01), py::arg("full_grid") = py::bool_(false),
      "\"Coarse to fine\": the source splatted with a Gaussian kernel (sharpness 2, `radius` in "
      "the source's length unit) onto a 101^3 grid over to_mesh's bounds, resampled at to_mesh. "
      "Only the grid points the resampling reads are evaluated unless full_grid is true (same "
      "values). \"vtkValidPointMask\" is 0 where a grid corner weighing in had no source point "
      "within the radius.");

  m.def(
      "generate_distance_field",
      [](py::object to_mesh, py::object from_mesh, py::object distance_field_location) {
        constexpr const char* op = "fieldferry.generate_distance_field";
        return core::generate_distance_field(
            vtk_argument<vtkDataSet>(to_mesh, op, "to_mesh", "VTK dataset"),
            vtk_argument<vtkDataSet>(from_mesh, op, "from_mesh", "VTK dataset"),
            text_argument(distance_field_location, op, "distance_field_location"));
      },
      py::arg("to_mesh"), py::arg("from_mesh"), py::arg("distance_field_location"),
      "to_mesh with the unsigned distance to from_mesh as point array \"Distance\" (and a cell "
      "array from the cell centres unless the location is \"Point\"): to_mesh itself when it has "
      "one already, else a new dataset. A vtkImageData source is a distance volume read from "
      "its \"ImageScalars\".");

  m.def(
      "export_vtk_file",
      [](py::object dataset, py::object filename, py::object binary_object) {
        constexpr const char* op = "fieldferry.export_vtk_file";
        auto* data = vtk_argument<vtkDataObject>(dataset, op, "dataset", "VTK data object");
        const std::string base = path_argument(filename, op, "filename");
        const bool binary = flag_argument(binary_object, op, "binary");
        std::string path;
        if (core::export_vtk_file(data, base, binary, &path) == core::ExportResult::failed) {
          kelm::raise_os_error(op, ": could not write '", path, "'");
        }
      },
      py::arg("dataset"), py::arg("filename"), py::arg("binary") = py::bool_(true),
      "Writes dataset to filename + \".\" + vtm/vtu/vtp/vti by its type (binary or ASCII); other "
      "data types are skipped. Raises OSError when the file cannot be written.");
}
