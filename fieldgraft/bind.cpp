// The module `fieldgraft`: FE field dictionaries -> surface polydata of the model's bodies carrying
// the field. Reads the dictionary format (value key chosen by the field name) and hands plain
// arrays to the builders of the core.
#include <pybind11/pybind11.h>
#include <vtkPolyData.h>
#include <vtkUnstructuredGrid.h>

#include "common/bind_support.h"
#include "field_bind.h"

namespace py = pybind11;
using namespace fieldgraft_bind;
using fieldgraft_core::Attachment;

namespace {

// "Pressure" reads "pressures", "Temperature" "temperatures"; anything else is refused before
// the values are read.
std::string value_key(py::handle field_name, const Target& target) {
  if (!PyUnicode_Check(field_name.ptr())) {
    kelm::raise_type_error(target.operation, ": scalar_field_name for body '", target.body,
                           "' must be a string, got ", text_of(field_name));
  }
  const std::string name = utf8_text(field_name);
  fieldgraft_core::require_field_name(name, target);
  return name == "Pressure" ? "pressures" : "temperatures";
}

using Prepare = FinishBuild (*)(py::handle grid, py::handle body_field, py::handle field_name,
                                const Target& target);

// `target` naming the keys of this body field's lists in messages.
Target with_keys(const Target& target, const char* ids, const char* faces, py::handle field_name) {
  Target out = target;
  out.keys.ids = ids;
  out.keys.faces = faces;
  if (PyUnicode_Check(field_name.ptr())) {
    const std::string name = utf8_text(field_name);
    out.keys.values = name == "Pressure" ? "pressures" : "temperatures";
  }
  return out;
}

// Node fields and shell-element fields differ only in where their IDs are found and what the IDs
// name.
template <Attachment where>
FinishBuild prepare_by_ids(py::handle grid, py::handle body_field, py::handle field_name,
                           const Target& target) {
  const char* id_key = where == Attachment::points ? "node_ids" : "element_ids";
  const Target t = with_keys(target, id_key, "face_identifiers", field_name);
  auto* dataset = require_vtk<vtkDataSet>(grid, "unstructured_grid", "VTK dataset", t);
  py::object ids = field_key(body_field, id_key, t);
  const std::string key = value_key(field_name, t);
  py::object values = field_key(body_field, key.c_str(), t);
  return fieldgraft_core::prepare_id_field(dataset, where, read_ids(ids, id_key, t),
                                           read_values(values, key.c_str(), t),
                                           utf8_text(field_name), t);
}

FinishBuild prepare_element_nodal(py::handle grid, py::handle body_field, py::handle field_name,
                                  const Target& target) {
  const Target t = with_keys(target, "element_ids", "face_identifiers", field_name);
  auto* ug = require_vtk<vtkUnstructuredGrid>(grid, "unstructured_grid", "vtkUnstructuredGrid", t);
  field_key(body_field, "element_ids", t);
  field_key(body_field, "identifier_type", t);
  py::object faces = field_key(body_field, "face_identifiers", t);
  const std::string key = value_key(field_name, t);
  py::object values = field_key(body_field, key.c_str(), t);
  return fieldgraft_core::prepare_face_node_field(
      ug, read_rows<uint32_t>(faces, "face_identifiers", t, 0, kMaxId),
      read_rows<float>(values, key.c_str(), t), utf8_text(field_name), t);
}

FinishBuild prepare_face_id(py::handle grid, py::handle body_field, py::handle field_name,
                            const Target& target) {
  const Target t = with_keys(target, "element_ids", "face_identifiers", field_name);
  auto* ug = require_vtk<vtkUnstructuredGrid>(grid, "unstructured_grid", "vtkUnstructuredGrid", t);
  py::object elements = field_key(body_field, "element_ids", t);
  py::object faces = field_key(body_field, "face_identifiers", t);
  const std::string key = value_key(field_name, t);
  py::object values = field_key(body_field, key.c_str(), t);
  return fieldgraft_core::prepare_face_index_field(
      ug, read_ids(elements, "element_ids", t), read_face_numbers(faces, "face_identifiers", t),
      read_values(values, key.c_str(), t), utf8_text(field_name), t);
}

FinishBuild prepare_face_node(py::handle grid, py::handle body_field, py::handle field_name,
                              const Target& target) {
  const Target t = with_keys(target, "face_identifiers", "face_identifiers", field_name);
  auto* dataset = require_vtk<vtkDataSet>(grid, "unstructured_grid", "VTK dataset", t);
  field_key(body_field, "element_ids", t);
  field_key(body_field, "face_ids", t);
  py::object nodes = field_key(body_field, "face_identifiers", t);
  const std::string key = value_key(field_name, t);
  py::object values = field_key(body_field, key.c_str(), t);
  return fieldgraft_core::prepare_id_field(
      dataset, Attachment::points, read_ids(nodes, "face_identifiers", t),
      read_values(values, key.c_str(), t), utf8_text(field_name), t);
}

struct Builder {
  const char* identifier_type;
  const char* topology;
  const char* name;
  const char* field_param;
  Prepare prepare;
  const char* doc;
};

// In the order the driver compares identifier types.
const Builder kBuilders[] = {
    {"NODE_ID", "Point", "poly_from_ug_and_nodal_fem_data", "scalar_fem_field_dict",
     prepare_by_ids<Attachment::points>,
     "\"NODE_ID\" field: one value per node ID on the grid's points. Adds the array to the grid's "
     "point data and returns the grid's outer surface (vtkPolyData) carrying it."},
    {"ELEMENT_ID", "Cell", "poly_from_ug_and_element2d_fem_data",
     "scalar_element_2d_fem_field_dict", prepare_by_ids<Attachment::cells>,
     "\"ELEMENT_ID\" field: one value per shell element ID on the grid's cells. Adds the array to "
     "the grid's cell data and returns the grid's outer surface (vtkPolyData) carrying it."},
    {"ELEMENT_ID_FACE_NODE_ID", "Point", "poly_from_ug_and_element_nodal_fem_data",
     "face_data_dict", prepare_element_nodal,
     "\"ELEMENT_ID_FACE_NODE_ID\" field: faces as node-ID lists with one value per face node. "
     "Returns the body's free surface with the values on its points (a shared node keeps its "
     "first value, faces taken by ascending node count, then in field order). The grid is not "
     "changed."},
    {"ELEMENT_ID_FACE_INDEX", "Cell", "poly_from_ug_and_element3d_face_id_data", "face_data_dict",
     prepare_face_id,
     "\"ELEMENT_ID_FACE_INDEX\" field: (element ID, host face number) per face, one value per "
     "face. Returns the loaded faces in field order followed by the other free faces, values (NaN "
     "on the free faces) and \"Element ID\" on the cells. The grid is not changed. Raises "
     "FaceNumberError for a face number outside its element's table."},
    {"FACE_NODE", "Point", "poly_from_ug_and_element3d_nodal_face_data", "scalar_fem_field_dict",
     prepare_face_node,
     "\"FACE_NODE\" field: (node ID, value) pairs, a repeated node keeps its later value. Adds the "
     "array to the grid's point data and returns the grid's outer surface carrying it."},
};

const char* kDriver = "fieldgraft.add_fem_field_to_mbds";

py::tuple add_fem_field_to_mbds(py::object mbds, py::object field, py::object field_name) {
  require_given(mbds, "mbds", kDriver);
  require_given(field, "field", kDriver);
  require_given(field_name, "field_name", kDriver);
  auto* model = kelm::bind::vtk_pointer_from_python<vtkMultiBlockDataSet>(mbds);
  if (!model) {
    kelm::raise_type_error(kDriver, ": mbds must be the model vtkMultiBlockDataSet, got ",
                           Py_TYPE(mbds.ptr())->tp_name);
  }
  auto dispatch = [&field_name](py::handle dataset, py::handle body_field, const Target& t) {
    py::object type = field_key(body_field, "identifier_type", t);
    Dispatched out;
    for (const Builder& b : kBuilders) {
      if (PyUnicode_Check(type.ptr()) && utf8_text(type) == b.identifier_type) {
        if (!dataset) raise_missing_body(t);
        const Target target{std::string("fieldgraft.") + b.name, t.body};
        out.build = b.prepare(dataset, body_field, field_name, target);
        out.topology = py::str(b.topology);
        return out;
      }
    }
    print_unsupported(type);
    return out;
  };
  auto [blocks, topology] = run_driver(model, field, kDriver, dispatch, BodyLookup::when_built);
  return py::make_tuple(py::reinterpret_steal<py::object>(kelm::bind::vtk_object_to_python(blocks)),
                        topology);
}

}  // namespace

PYBIND11_MODULE(fieldgraft, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  register_face_number_error(m);
  m.doc() = "FE field attachment: FE field dictionaries -> surface polydata of the model's bodies.";
  // The module's top level as host scripts find it.
  m.attr("vtk") = py::module_::import("vtk");
  m.attr("numpy_support") = py::module_::import("vtk.util.numpy_support");
  m.attr("np") = py::module_::import("numpy");

  m.def("add_fem_field_to_mbds", &add_fem_field_to_mbds, py::arg("mbds"), py::arg("field"),
        py::arg("field_name"),
        "Attaches an FE field collection {body path name: body field} to the model multiblock "
        "mbds. field_name is \"Pressure\" or \"Temperature\". Returns (vtkMultiBlockDataSet with "
        "one surface polydata per entry, in collection order; field topology \"Point\" or "
        "\"Cell\" of the last entry, None when its identifier type is unsupported). Every entry "
        "is checked before any body grid is changed.");
  m.def(
      "create_body_to_dataset_map",
      [](py::object mbds, py::object /*field*/) {
        require_given(mbds, "mbds", "fieldgraft.create_body_to_dataset_map");
        auto* model = kelm::bind::vtk_argument<vtkMultiBlockDataSet>(
            mbds, "fieldgraft.create_body_to_dataset_map", "mbds", "vtkMultiBlockDataSet");
        return body_map_dict(model, "fieldgraft.create_body_to_dataset_map");
      },
      py::arg("mbds"), py::arg("field") = py::none(),
      "{\"Body pathName\": leaf dataset} of the model multiblock (the model's own datasets; a "
      "later leaf with the same name wins). field is accepted and not used. Raises KeyError when "
      "a non-empty leaf has no \"Body pathName\".");
  for (const Builder& b : kBuilders) {
    const std::string operation = std::string("fieldgraft.") + b.name;
    const Prepare prepare = b.prepare;
    const char* field_param = b.field_param;
    m.def(
        b.name,
        [operation, prepare, field_param](py::object grid, py::object body_field,
                                          py::object field_name) {
          require_given(grid, "unstructured_grid", operation);
          require_given(body_field, field_param, operation);
          require_given(field_name, "scalar_field_name", operation);
          const Target t{operation, body_of(grid)};
          vtkSmartPointer<vtkPolyData> result = prepare(grid, body_field, field_name, t)();
          return result;
        },
        py::arg("unstructured_grid") = py::none(), py::arg(b.field_param) = py::none(),
        py::arg("scalar_field_name") = py::none(), b.doc);
  }
}
