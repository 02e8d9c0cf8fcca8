// The module `skinfield`: the earlier field format (each body field names its array in
// "scalar_name" and holds its values in "scalars") over the same builders as fieldgraft.
#include <pybind11/pybind11.h>
#include <vtkAlgorithm.h>
#include <vtkPolyData.h>
#include <vtkUnstructuredGrid.h>

#include "common/bind_support.h"
#include "fieldgraft/field_bind.h"
#include "scalar_name.h"

namespace py = pybind11;
using namespace fieldgraft_bind;
using fieldgraft_core::Attachment;

namespace {

// "scalar_name" and "scalars", read after the identifier keys as the format lists them.
struct NamedValues {
  std::string name;
  std::vector<float> values;
};

NamedValues named_values(py::handle body_field, const Target& t) {
  py::object name = field_key(body_field, "scalar_name", t);
  py::object values = field_key(body_field, "scalars", t);
  NamedValues out{read_text(name, "scalar_name", t), {}};
  skinfield_core::require_scalar_name(out.name, t);
  out.values = read_values(values, "scalars", t);
  return out;
}

using Prepare = FinishBuild (*)(py::handle grid, py::handle body_field, const Target& target);

// `target` naming the keys of this body field's lists in messages.
Target with_keys(const Target& target, const char* ids, const char* faces) {
  Target out = target;
  out.keys.ids = ids;
  out.keys.faces = faces;
  out.keys.values = "scalars";
  return out;
}

// Node fields and shell-element fields differ only in where their IDs are found and what the IDs
// name.
template <Attachment where>
FinishBuild prepare_by_ids(py::handle grid, py::handle body_field, const Target& target) {
  const char* id_key = where == Attachment::points ? "identifier" : "element_ids";
  const Target t = with_keys(target, id_key, "identifiers");
  auto* dataset = require_vtk<vtkDataSet>(grid, "unstructured_grid", "VTK dataset", t);
  py::object ids = field_key(body_field, id_key, t);
  NamedValues v = named_values(body_field, t);
  return fieldgraft_core::prepare_id_field(dataset, where, read_ids(ids, id_key, t), v.values,
                                           v.name, t);
}

FinishBuild prepare_face_nodal(py::handle grid, py::handle body_field, const Target& target) {
  const Target t = with_keys(target, "face_node_ids", "face_node_ids");
  auto* dataset = require_vtk<vtkDataSet>(grid, "unstructured_grid", "VTK dataset", t);
  field_key(body_field, "element_ids", t);
  field_key(body_field, "face_ids", t);
  py::object nodes = field_key(body_field, "face_node_ids", t);
  NamedValues v = named_values(body_field, t);
  return fieldgraft_core::prepare_id_field(
      dataset, Attachment::points, read_ids(nodes, "face_node_ids", t), v.values, v.name, t);
}

FinishBuild prepare_face_index(py::handle grid, py::handle body_field, const Target& target) {
  const Target t = with_keys(target, "element_ids", "identifiers");
  auto* ug = require_vtk<vtkUnstructuredGrid>(grid, "unstructured_grid", "vtkUnstructuredGrid", t);
  py::object elements = field_key(body_field, "element_ids", t);
  py::object faces = field_key(body_field, "identifiers", t);
  NamedValues v = named_values(body_field, t);
  return fieldgraft_core::prepare_face_index_field(ug, read_ids(elements, "element_ids", t),
                                                   read_face_numbers(faces, "identifiers", t),
                                                   v.values, v.name, t);
}

FinishBuild prepare_nodal_faces(py::handle grid, py::handle body_field, const Target& target) {
  const Target t = with_keys(target, "element_ids", "identifiers");
  auto* ug = require_vtk<vtkUnstructuredGrid>(grid, "unstructured_grid", "vtkUnstructuredGrid", t);
  py::object elements = field_key(body_field, "element_ids", t);
  field_key(body_field, "identifier_type", t);
  py::object faces = field_key(body_field, "identifiers", t);
  NamedValues v = named_values(body_field, t);
  return fieldgraft_core::prepare_node_list_faces(
      ug, read_ids(elements, "element_ids", t),
      read_rows<uint32_t>(faces, "identifiers", t, 0, kMaxId), v.values, v.name, t);
}

struct Builder {
  const char* identifier_type;
  const char* name;
  const char* field_param;
  Prepare prepare;
  const char* doc;
};

// In the order poly_from_ug_and_scalar_fem_field compares identifier types.
const Builder kBuilders[] = {
    {"NODE_ID", "poly_from_ug_and_nodal_data", "scalar_fem_field_dict",
     prepare_by_ids<Attachment::points>,
     "\"NODE_ID\" body field (\"identifier\": node IDs, \"scalar_name\", \"scalars\"): adds the "
     "array to the grid's point data and returns the grid's outer surface carrying it."},
    {"ELEMENT_NODAL", "poly_from_ug_and_element_nodal_face_data", "face_data_dict",
     prepare_nodal_faces,
     "\"ELEMENT_NODAL\" body field (\"element_ids\", \"identifier_type\", \"identifiers\": node-ID "
     "list per face, all of one node count, \"scalar_name\", \"scalars\": one per face). Returns "
     "the loaded faces in field order followed by the free faces no loaded face covers, with "
     "\"Element ID\" and the values (NaN on free faces) on the cells. The grid is not changed."},
    {"ELEMENT_FACE_INDEX", "poly_from_ug_and_element_face_index_data", "face_data_dict",
     prepare_face_index,
     "\"ELEMENT_FACE_INDEX\" body field (\"element_ids\", \"identifiers\": host face numbers, "
     "\"scalar_name\", \"scalars\"): the loaded faces in field order followed by the other free "
     "faces, values on the cells. Raises FaceNumberError for a face number outside its table."},
    {"ELEMENT", "poly_from_ug_and_element2d_data", "scalar_fem_field_dict",
     prepare_by_ids<Attachment::cells>,
     "\"ELEMENT\" body field (\"element_ids\", \"scalar_name\", \"scalars\"): adds the array to "
     "the grid's cell data and returns the grid's outer surface carrying it."},
    {"FACE_NODE", "poly_from_ug_and_element_face_nodal_data", "scalar_fem_field_dict",
     prepare_face_nodal,
     "\"FACE_NODE\" body field (\"element_ids\", \"face_ids\", \"face_node_ids\", \"scalar_name\", "
     "\"scalars\"): (node ID, value) pairs, a repeated node keeps its later value; adds the array "
     "to the grid's point data and returns the grid's outer surface carrying it."},
};

// The build for one body field, or none (the unsupported line printed) for another type.
FinishBuild dispatch(py::handle grid, py::handle body_field, const Target& t) {
  py::object type = field_key(body_field, "identifier_type", t);
  for (const Builder& b : kBuilders) {
    if (PyUnicode_Check(type.ptr()) && utf8_text(type) == b.identifier_type) {
      return b.prepare(grid, body_field, Target{std::string("skinfield.") + b.name, t.body});
    }
  }
  print_unsupported(type);
  return {};
}

// The model multiblock from the pipeline object (brought up to date) or a multiblock itself.
vtkMultiBlockDataSet* model_of(py::handle source, const char* param, const std::string& op) {
  require_given(source, param, op);
  if (auto* model = kelm::bind::vtk_pointer_from_python<vtkMultiBlockDataSet>(source)) return model;
  auto* algorithm = kelm::bind::vtk_pointer_from_python<vtkAlgorithm>(source);
  if (!algorithm) {
    kelm::raise_type_error(op, ": ", param, " must be a VTK pipeline object whose output is the ",
                           "model multiblock, got ", Py_TYPE(source.ptr())->tp_name);
  }
  algorithm->Update();
  auto* model = vtkMultiBlockDataSet::SafeDownCast(algorithm->GetOutputDataObject(0));
  if (!model) {
    kelm::raise_type_error(op, ": the output of ", param, " (a ", algorithm->GetClassName(),
                           ") is not a vtkMultiBlockDataSet");
  }
  return model;
}

py::object add_field(py::object source, py::object field, const char* param, const char* op) {
  vtkMultiBlockDataSet* model = model_of(source, param, op);
  require_given(field, "field", op);
  auto [blocks, topology] = run_driver(
      model, field, op,
      [](py::handle grid, py::handle body_field, const Target& t) {
        Dispatched out;
        out.build = dispatch(grid, body_field, t);
        return out;
      },
      BodyLookup::up_front);
  return py::reinterpret_steal<py::object>(kelm::bind::vtk_object_to_python(blocks));
}

}  // namespace

PYBIND11_MODULE(skinfield, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  register_face_number_error(m);
  m.doc() = "Earlier surface field builders: the earlier field format -> surface polydata.";
  m.attr("vtk") = py::module_::import("vtk");
  m.attr("numpy_support") = py::module_::import("vtk.util.numpy_support");
  m.attr("np") = py::module_::import("numpy");

  m.def(
      "add_field",
      [](py::object mbds_blocks_filter, py::object field) {
        return add_field(mbds_blocks_filter, field, "mbds_blocks_filter", "skinfield.add_field");
      },
      py::arg("mbds_blocks_filter"), py::arg("field"),
      "Updates the pipeline object mbds_blocks_filter (a vtkMultiBlockDataSet is taken as it is) "
      "and attaches the earlier-format field collection {body path name: body field} to its "
      "output. Returns a vtkMultiBlockDataSet with one block per body field, in collection order "
      "(an empty block for an unsupported identifier type). Every entry is checked before any "
      "body grid is changed.");
  m.def(
      "add_nodal_field",
      [](py::object mbds_blocks_filter, py::object nodal_scalar_field) {
        return add_field(mbds_blocks_filter, nodal_scalar_field, "mbds_blocks_filter",
                         "skinfield.add_nodal_field");
      },
      py::arg("mbds_blocks_filter"), py::arg("nodal_scalar_field"),
      "The same operation as add_field (it dispatches by identifier type too).");
  m.def(
      "poly_from_ug_and_scalar_fem_field",
      [](py::object block_filter, py::object body_field) -> vtkSmartPointer<vtkPolyData> {
        const char* op = "skinfield.poly_from_ug_and_scalar_fem_field";
        require_given(block_filter, "block_filter", op);
        require_given(body_field, "scalar_fem_field_dict", op);
        FinishBuild build = dispatch(block_filter, body_field, Target{op, body_of(block_filter)});
        if (!build) return nullptr;
        return build();
      },
      py::arg("block_filter") = py::none(), py::arg("scalar_fem_field_dict") = py::none(),
      "Builds the surface polydata of one body grid for one earlier-format body field, chosen by "
      "its \"identifier_type\" (NODE_ID, ELEMENT_NODAL, ELEMENT_FACE_INDEX, ELEMENT, FACE_NODE); "
      "prints the unsupported-type line and returns None for any other type.");
  for (const Builder& b : kBuilders) {
    const std::string operation = std::string("skinfield.") + b.name;
    const Prepare prepare = b.prepare;
    const char* field_param = b.field_param;
    m.def(
        b.name,
        [operation, prepare, field_param](py::object grid,
                                          py::object body_field) -> vtkSmartPointer<vtkPolyData> {
          require_given(grid, "unstructured_grid", operation);
          require_given(body_field, field_param, operation);
          return prepare(grid, body_field, Target{operation, body_of(grid)})();
        },
        py::arg("unstructured_grid") = py::none(), py::arg(b.field_param) = py::none(), b.doc);
  }
}
