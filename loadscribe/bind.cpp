// The module `loadscribe`: turns a mapped field into one host temperature or pressure load through
// the host module `kelm`, and records the equivalent host-script text in the module attribute
// `macro` (None = off). The leaves are read and checked in C++ first (mapped_leaves), so a
// malformed leaf raises before the host is asked for anything; then the host calls follow in the
// order host scripts make them.
#include <pybind11/pybind11.h>
#include <vtkDataSet.h>
#include <vtkMultiBlockDataSet.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "mapped_leaves.h"
#include "module_state_bind.h"
#include "pressure_fields.h"
#include "python_text.h"
#include "python_values.h"
#include "script_lines.h"
#include "unit_tables.h"

namespace py = pybind11;
namespace core = loadscribe_core;
using kelm::bind::text_argument;
using kelm::bind::vtk_argument;
using kelm::bind::Where;
using loadscribe_bind::float_list;
using loadscribe_bind::int_list;
using loadscribe_bind::read_tolerance;
using loadscribe_bind::Recorder;
using loadscribe_bind::report_left_out;
using loadscribe_bind::self_module;
using loadscribe_bind::unit_system_for;

namespace {

constexpr char kTemperatureOp[] = "loadscribe.create_temperature_load_from_vtk_field";
constexpr char kPressureOp[] = "loadscribe.create_pressure_load_from_vtk_field";
constexpr char kSurfaceOp[] = "loadscribe.build_surface_mesh_pressure_field_dict";
constexpr char kSolidOp[] = "loadscribe.build_solid_mesh_pressure_field_dict";

py::module_ kelm_module() { return py::module_::import("kelm"); }

void create_temperature_load(py::handle mesh_arg, py::handle field_arg, py::handle tolerance_arg) {
  auto* mesh =
      vtk_argument<vtkMultiBlockDataSet>(mesh_arg, kTemperatureOp, "mesh", "vtkMultiBlockDataSet");
  const std::string field_name = text_argument(field_arg, kTemperatureOp, "field_name");
  const auto tolerance = read_tolerance(tolerance_arg, kTemperatureOp, true);
  Recorder record(kTemperatureOp);
  self_module().attr("last_left_out_counts") = py::dict();
  self_module().attr("last_loaded_fields") = py::dict();
  const auto bodies = core::read_temperature_leaves(
      mesh, field_name, tolerance ? &*tolerance : nullptr, kTemperatureOp);
  report_left_out(bodies, "temperature", "nodes");
  if (bodies.empty()) {
    kelm::raise_value_error(
        kTemperatureOp,
        ": the mapped multiblock has no mesh-body leaves; there is nothing to load");
  }
  // All leaves are taken to share one unit: the last one's decides, as in the host scripts.
  const std::string label = unit_system_for("temperature_unit_to_unit_system", bodies.back().unit,
                                            "temperature", kTemperatureOp, bodies.back().path);
  py::module_ k = kelm_module();
  py::object target = k.attr("EntityCollection")();
  py::dict property;
  std::string* text = record.text();
  if (text) core::record_temperature_header(*text, label);
  try {
    for (const core::TemperatureLeaf& body : bodies) {
      std::string ids;
      core::append_id_text(ids, body.node_ids.data(), body.node_ids.size());
      py::object host_mesh = k.attr("getMesh")(body.path);
      target.attr("extend")(host_mesh.attr("getNodes")(py::arg("ids") = ids));
      py::dict field;
      loadscribe_bind::GcPause pause;
      field["node_ids"] = int_list(body.node_ids.data(), body.node_ids.size());
      field["identifier_type"] = "NODE_ID";
      field["temperatures"] = float_list(body.temperatures.data(), body.temperatures.size());
      property[py::str(body.path)] = field;
      if (text) core::record_temperature_body(*text, body.path, body.node_ids, body.temperatures);
    }
    k.attr("setScriptUnitSystem")(label);
    py::object environment = k.attr("environment");
    py::object temperature_property = environment.attr("createTemperaturePropertyStaticVariable")(
        py::arg("temperatureValues") = property);
    environment.attr("createLoadTemperature")(
        py::arg("name") = "Temperature", py::arg("description") = "First mapped temperatures",
        py::arg("target") = target, py::arg("temperatureProperty") = temperature_property);
    // What the host was handed, for the mapping report to take its statistics and forces from
    // rather than repeat the load writer's selection rules.
    self_module().attr("last_loaded_fields") = property;
    if (text) core::record_temperature_footer(*text);
  } catch (...) {
    record.store();
    throw;
  }
  record.store();
  record.print();
}

// ---- pressure field builders ------------------------------------------------------------------

struct BuilderInput {
  std::string path;
  core::ConnectivityArrays rows;
  std::vector<uint32_t> node_ids, element_ids;
  std::vector<double> pressures;
  std::vector<double> face_pressures;    // one per polygon, or none: the nodes' pressures
  std::vector<double> corner_pressures;  // each polygon's own at its nodes (shells), or none
};

// (host elements of the element IDs, pressure field) of a shell body.
py::tuple surface_builder(const BuilderInput& in, std::string* text, const char* operation) {
  core::check_polygon_counts(in.rows, in.element_ids.size(), in.node_ids.size(),
                             in.pressures.size(), operation, in.path);
  core::PressureField field;
  field.element_ids = in.element_ids;
  field.faces = in.rows;
  if (!in.corner_pressures.empty()) {
    field.pressures = core::corner_value_rows(in.rows, in.corner_pressures);
  } else {
    field.pressures =
        in.face_pressures.empty()
            ? core::face_pressures(in.rows, in.node_ids, in.pressures, operation, in.path)
            : core::face_value_rows(in.rows, in.face_pressures);
  }
  core::require_finite_pressures(field, operation, in.path);
  std::string ids;
  core::append_id_text(ids, in.element_ids.data(), in.element_ids.size());
  py::object host_mesh = kelm_module().attr("getMesh")(in.path);
  py::object elements = host_mesh.attr("getElements")(py::arg("ids") = ids);
  py::dict field_dict = loadscribe_bind::pressure_field_dict(field);
  if (text) core::record_surface_field(*text, in.path, field);
  return py::make_tuple(elements, field_dict);
}

// (host element faces, pressure field) of a solid body; rotates in.rows as the host's faces need.
py::tuple solid_builder(BuilderInput& in, std::string* text, const char* operation,
                        bool* rotated = nullptr) {
  core::check_polygon_counts(in.rows, in.element_ids.size(), in.node_ids.size(),
                             in.pressures.size(), operation, in.path);
  py::object host_mesh = kelm_module().attr("getMesh")(in.path);
  const core::HostSolidMesh mesh =
      loadscribe_bind::read_host_solid_mesh(host_mesh, operation, in.path);
  core::SolidPressureField solid = core::solid_pressure_field(
      mesh, in.rows, in.node_ids, in.element_ids, in.pressures, operation, in.path,
      in.face_pressures.empty() ? nullptr : &in.face_pressures);
  core::require_finite_pressures(solid.field, operation, in.path);
  py::object element_faces = host_mesh.attr("getElementFaces")(
      py::arg("target") = loadscribe_bind::target_dict(solid.target));
  py::dict field_dict = loadscribe_bind::pressure_field_dict(solid.field);
  if (text) core::record_solid_field(*text, in.path, solid.field, solid.target);
  if (rotated) *rotated = solid.rotated;
  return py::make_tuple(element_faces, field_dict);
}

BuilderInput read_builder_input(py::handle mesh_pathname, py::handle connectivity_arrays,
                                py::handle node_ids, py::handle element_ids, py::handle pressures,
                                const char* operation) {
  BuilderInput in;
  in.path = text_argument(mesh_pathname, operation, "mesh_pathname");
  in.rows = loadscribe_bind::read_connectivity_arrays(connectivity_arrays, operation, in.path);
  in.node_ids = loadscribe_bind::host_ids(node_ids, {operation, "node_ids", in.path});
  in.element_ids = loadscribe_bind::host_ids(element_ids, {operation, "element_ids", in.path});
  in.pressures = loadscribe_bind::host_reals(pressures, {operation, "pressures", in.path});
  return in;
}

py::tuple build_surface_mesh_pressure_field_dict(py::handle mesh_pathname,
                                                 py::handle connectivity_arrays,
                                                 py::handle node_ids, py::handle element_ids,
                                                 py::handle pressures) {
  Recorder record(kSurfaceOp);
  const BuilderInput in = read_builder_input(mesh_pathname, connectivity_arrays, node_ids,
                                             element_ids, pressures, kSurfaceOp);
  py::tuple result = surface_builder(in, record.text(), kSurfaceOp);
  record.store();
  return result;
}

py::tuple build_solid_mesh_pressure_field_dict(py::handle mesh_pathname, py::handle /*mesh_type*/,
                                               py::handle connectivity_arrays, py::handle node_ids,
                                               py::handle element_ids, py::handle pressures) {
  Recorder record(kSolidOp);
  BuilderInput in = read_builder_input(mesh_pathname, connectivity_arrays, node_ids, element_ids,
                                       pressures, kSolidOp);
  bool rotated = false;
  py::tuple result = solid_builder(in, record.text(), kSolidOp, &rotated);
  if (rotated) loadscribe_bind::write_back_rows(connectivity_arrays, in.rows);
  record.store();
  return result;
}

// ---- pressure load ----------------------------------------------------------------------------

std::vector<std::string> reverse_argument(py::handle reverse, const char* operation) {
  return kelm::bind::text_list_argument(reverse, operation, "reverse", "a list of body path names");
}

void create_pressure_load(py::handle mesh_arg, py::handle field_arg, py::handle tolerance_arg,
                          py::handle reverse_arg) {
  auto* mesh =
      vtk_argument<vtkMultiBlockDataSet>(mesh_arg, kPressureOp, "mesh", "vtkMultiBlockDataSet");
  const std::string field_name = text_argument(field_arg, kPressureOp, "field_name");
  const auto tolerance = read_tolerance(tolerance_arg, kPressureOp, true);
  const std::vector<std::string> reverse = reverse_argument(reverse_arg, kPressureOp);
  Recorder record(kPressureOp);
  self_module().attr("last_left_out_counts") = py::dict();
  self_module().attr("last_loaded_fields") = py::dict();
  auto bodies = core::read_pressure_leaves(mesh, field_name, tolerance ? &*tolerance : nullptr,
                                           kPressureOp, reverse);
  report_left_out(bodies, "pressure", "faces");
  if (bodies.empty()) {
    kelm::raise_value_error(
        kPressureOp, ": the mapped multiblock has no mesh-body leaves; there is nothing to load");
  }
  const std::string label = unit_system_for("pressure_unit_to_unit_system", bodies.back().unit,
                                            "pressure", kPressureOp, bodies.back().path);
  py::module_ k = kelm_module();
  py::object target = k.attr("EntityCollection")();
  py::dict property;
  std::string* text = record.text();
  if (text) core::record_pressure_header(*text, label);
  try {
    for (core::PressureLeaf& body : bodies) {
      BuilderInput in{body.path,
                      std::move(body.polygons),
                      std::move(body.node_ids),
                      std::move(body.element_ids),
                      std::move(body.pressures),
                      std::move(body.face_pressures),
                      std::move(body.corner_pressures)};
      const bool solid = body.solid();
      py::tuple built =
          solid ? solid_builder(in, text, kPressureOp) : surface_builder(in, text, kPressureOp);
      property[py::str(body.path)] = built[1];
      target.attr("extend")(built[0]);
      if (text) core::record_pressure_body(*text, body.path, solid);
    }
    k.attr("setScriptUnitSystem")(label);
    py::object environment = k.attr("environment");
    py::object pressure_property = environment.attr("createPressurePropertyStaticVariable")(
        py::arg("id") = 5, py::arg("pressureValues") = property);
    environment.attr("createLoadPressure")(
        py::arg("name") = "Pressure", py::arg("description") = "First mapped pressure",
        py::arg("target") = target, py::arg("loadPressureProperty") = pressure_property);
    self_module().attr("last_loaded_fields") = property;
    if (text) core::record_pressure_footer(*text);
  } catch (...) {
    record.store();
    throw;
  }
  record.store();
  record.print();
}

template <std::size_t N>
py::dict unit_table(const std::array<core::UnitRow, N>& rows) {
  py::dict table;
  for (const core::UnitRow& row : rows) table[py::str(row.unit)] = py::str(row.label);
  return table;
}

}  // namespace

PYBIND11_MODULE(loadscribe, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  m.doc() =
      "Creates host temperature and pressure loads from a mapped field and records the "
      "equivalent host-script text in loadscribe.macro (None: recording off).";

  // The module's top level as host scripts find it: its imports, the unit tables, the recording.
  m.attr("reload") = py::module_::import("importlib").attr("reload");
  m.attr("np") = py::module_::import("numpy");
  m.attr("vtk") = py::module_::import("vtk");
  m.attr("numpy_support") = py::module_::import("vtk.util.numpy_support");
  m.attr("kelm") = py::module_::import("kelm");
  m.attr("pressure_unit_to_unit_system") = unit_table(core::kPressureUnits);
  m.attr("temperature_unit_to_unit_system") = unit_table(core::kTemperatureUnits);
  m.attr("macro") = py::none();
  m.attr("last_left_out_counts") = py::dict();
  m.attr("last_loaded_fields") = py::dict();

  m.def(
      "create_kelm_load_from_vtk_field",
      [](py::handle mesh, py::handle field_name, py::handle tolerance, py::handle reverse) {
        constexpr char op[] = "loadscribe.create_kelm_load_from_vtk_field";
        vtk_argument<vtkMultiBlockDataSet>(mesh, op, "mesh", "vtkMultiBlockDataSet");
        const std::string name = text_argument(field_name, op, "field_name");
        if (name == "Pressure") {
          create_pressure_load(mesh, field_name, tolerance, reverse);
          return;
        }
        // Only a pressure has a direction to turn; a reverse given with another field would
        // silently do nothing.
        if (!reverse_argument(reverse, op).empty()) {
          kelm::raise_value_error(op, ": reverse turns the pressure of shell bodies; field '", name,
                                  "' has no direction to turn");
        }
        if (name == "Temperature") create_temperature_load(mesh, field_name, tolerance);
      },
      py::arg("mesh"), py::arg("field_name"), py::arg("tolerance"), py::kw_only(),
      py::arg("reverse") = py::tuple(),
      "Creates the host load of a mapped field: \"Temperature\" a temperature load on the nodes, "
      "\"Pressure\" a pressure load on shell elements or solid element faces; any other name "
      "does nothing. tolerance (a real or None) keeps only the nodes (temperature) or the faces "
      "with all nodes (pressure) within that distance of the source. reverse: path names of "
      "shell bodies whose pressure is negated (their element normals face away from the fluid); "
      "ValueError for a solid, an unknown body or a field other than \"Pressure\". Returns "
      "None.");
  m.def("create_temperature_load_from_vtk_field", &create_temperature_load, py::arg("mesh"),
        py::arg("field_name"), py::arg("tolerance"),
        "Creates one host temperature load on the nodes of every leaf of the mapped multiblock, "
        "values from the point array field_name, in the unit system of the last leaf's "
        "\"units_temperature\". Records and prints the script text when loadscribe.macro is "
        "text. Raises ValueError for a multiblock without leaves, KeyError for missing arrays or "
        "units.");
  m.def(
      "filter_by_distance",
      [](py::handle mesh, py::handle tolerance, py::handle /*point_or_cell*/) {
        constexpr char op[] = "loadscribe.filter_by_distance";
        auto* leaf = vtk_argument<vtkDataSet>(mesh, op, "mesh", "VTK dataset");
        return core::filter_by_distance(leaf, *read_tolerance(tolerance, op, false), op);
      },
      py::arg("mesh"), py::arg("tolerance"), py::arg("point_or_cell"),
      "The cells of one leaf whose points all have a \"Distance\" of at most tolerance, as "
      "vtkPolyData carrying the leaf's field data. point_or_cell is accepted and not used. "
      "Raises KeyError when the leaf has no point array \"Distance\".");
  m.def("create_pressure_load_from_vtk_field", &create_pressure_load, py::arg("mesh"),
        py::arg("field_name"), py::arg("tolerance"), py::kw_only(),
        py::arg("reverse") = py::tuple(),
        "Creates one host pressure load (property id 5) from the mapped surfaces: shell bodies "
        "load their elements, \"tetra\" and \"hexa\" bodies the matched element faces. "
        "Triangles and quadrilaterals are loaded, other polygons left out. A shell's pressure "
        "pushes against its element normals, a solid face's against its outward normal; "
        "reverse (path names of shell bodies) negates the pressure of shells whose normals face "
        "away from the fluid, ValueError for a solid or a name that is no body. Records and "
        "prints the script text when loadscribe.macro is text.");
  m.def("build_surface_mesh_pressure_field_dict", &build_surface_mesh_pressure_field_dict,
        py::arg("mesh_pathname"), py::arg("connectivity_arrays"), py::arg("node_ids"),
        py::arg("element_ids"), py::arg("pressures"),
        "(host elements of element_ids, pressure field \"ELEMENT_ID_FACE_NODE_ID\") of a shell "
        "body: one face row per polygon, \"tria\" rows then \"quad\" rows in the mapping's order, "
        "pressures looked up by node ID. Appends its script lines to loadscribe.macro when on.");
  m.def("build_solid_mesh_pressure_field_dict", &build_solid_mesh_pressure_field_dict,
        py::arg("mesh_pathname"), py::arg("mesh_type"), py::arg("connectivity_arrays"),
        py::arg("node_ids"), py::arg("element_ids"), py::arg("pressures"),
        "(host element faces, pressure field \"ELEMENT_ID_FACE_NODE_ID\") of a solid body: each "
        "polygon is matched to the face of its element with the same node set, Tetra4 faces 1-3 "
        "and hexahedral face 5 are rotated (also in connectivity_arrays). Raises ValueError for a "
        "polygon that is no face of its element, KeyError for an unknown element ID.");
}
