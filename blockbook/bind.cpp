// Python binding of the class `blockbook`: the model multiblock, its name map, the map from body
// path names to (grid, flat index), the model's unit label and saving.
#include <pybind11/pybind11.h>
#include <vtkMultiBlockDataSet.h>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "model_tree.h"

namespace py = pybind11;
using kelm::bind::text_argument;
using kelm::bind::vtk_argument;

namespace {

struct BlockBook {
  vtkSmartPointer<vtkMultiBlockDataSet> root = vtkSmartPointer<vtkMultiBlockDataSet>::New();
  py::object model = py::cast(root);
  py::dict model_map;
  py::object model_map_with_block_id = py::none();
  // Blocks added through this book since the map with block ids was last built. The flat indices
  // of blocks after an insertion point shift when a block is added, so a map built before then
  // would name the wrong blocks; it is refreshed in place instead.
  bool tree_changed = false;

  vtkMultiBlockDataSet* model_root() const {
    auto* root_block = kelm::bind::vtk_pointer_from_python<vtkMultiBlockDataSet>(model);
    if (!root_block) {
      kelm::raise_type_error("blockbook: the model attribute must be a vtkMultiBlockDataSet, not ",
                             kelm::bind::type_name(model));
    }
    return root_block;
  }

  py::object add(vtkMultiBlockDataSet* parent, py::object child, const std::string& name) {
    auto* data = kelm::bind::vtk_pointer_from_python<vtkDataObject>(child);
    blockbook_core::append_named_block(parent, data, name);
    model_map[py::str(name)] = child;
    tree_changed = true;
    return child;
  }

  py::object map_with_block_id() {
    if (!model_map_with_block_id.is_none() && !tree_changed) return model_map_with_block_id;
    py::dict map = model_map_with_block_id.is_none()
                       ? py::dict()
                       : py::reinterpret_borrow<py::dict>(model_map_with_block_id);
    map.clear();
    for (const auto& entry : blockbook_core::grids_by_path(model_root())) {
      map[py::str(entry.path)] = py::make_tuple(py::cast(entry.grid), entry.flat_index);
    }
    model_map_with_block_id = map;
    tree_changed = false;
    return map;
  }
};

// create_assembly and create_part: a new empty multiblock named `name` under `parent`.
py::object add_new_block(BlockBook& self, py::object parent, py::object name, const char* op,
                         const char* name_parameter) {
  return self.add(vtk_argument<vtkMultiBlockDataSet>(parent, op, "parent", "vtkMultiBlockDataSet"),
                  py::cast(vtkSmartPointer<vtkMultiBlockDataSet>::New()),
                  text_argument(name, op, name_parameter));
}

}  // namespace

PYBIND11_MODULE(blockbook, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  m.doc() = "The model multiblock: assembly, part and body blocks, name maps, units and saving.";

  py::class_<BlockBook>(m, "blockbook", py::dynamic_attr(),
                        "Holds the converted host model as one vtkMultiBlockDataSet.")
      .def(py::init<>(), "An empty model: a new root multiblock and empty maps.")
      .def_readwrite("model", &BlockBook::model, "The root vtkMultiBlockDataSet.")
      .def_readwrite("model_map", &BlockBook::model_map, "Block name -> block.")
      .def_readwrite("model_map_with_block_id", &BlockBook::model_map_with_block_id,
                     "Body path name -> (grid, flat index); None until first built.")
      .def(
          "set_model_units",
          [](BlockBook& self, py::object label) {
            blockbook_core::set_unit_label(
                self.model_root(),
                text_argument(label, "blockbook.set_model_units", "unit_system_label"));
          },
          py::arg("unit_system_label"),
          "Stores the model's unit system label as the root field array \"unit_system_label\".")
      .def(
          "get_model_length_unit",
          [](BlockBook& self) { return blockbook_core::model_length_unit(self.model_root()); },
          "The length unit of the model's unit system label (its text before the first \"-\"). "
          "Raises KeyError before set_model_units.")
      .def(
          "get_model_root", [](BlockBook& self) { return self.model; }, "The root multiblock.")
      .def(
          "get_model_map", [](BlockBook& self) { return self.model_map; },
          "The block name -> block dictionary itself (not a copy).")
      .def("get_model_map_with_block_id", &BlockBook::map_with_block_id,
           "Body path name -> (grid, flat index) for every grid body carrying a \"Body pathName\". "
           "Built on first use and kept; refreshed in place after blocks are added through this "
           "book.")
      .def(
          "create_assembly",
          [](BlockBook& self, py::object parent, py::object name) {
            return add_new_block(self, parent, name, "blockbook.create_assembly", "assembly_name");
          },
          py::arg("parent"), py::arg("assembly_name"),
          "Appends a new named assembly multiblock under parent and returns it.")
      .def(
          "create_part",
          [](BlockBook& self, py::object parent, py::object name) {
            return add_new_block(self, parent, name, "blockbook.create_part", "part_name");
          },
          py::arg("parent"), py::arg("part_name"),
          "Appends a new named part multiblock under parent and returns it.")
      .def(
          "add_body_to_part",
          [](BlockBook& self, py::object parent, py::object body, py::object name) {
            constexpr const char* op = "blockbook.add_body_to_part";
            auto* block =
                vtk_argument<vtkMultiBlockDataSet>(parent, op, "parent", "vtkMultiBlockDataSet");
            vtk_argument<vtkDataObject>(body, op, "body", "VTK data object");
            self.add(block, body, text_argument(name, op, "body_name"));
          },
          py::arg("parent"), py::arg("body"), py::arg("body_name"),
          "Appends the body dataset under parent, named body_name.")
      .def(
          "save",
          [](BlockBook& self, py::object file_name, py::object mode) {
            constexpr const char* op = "blockbook.save";
            blockbook_core::save_multiblock(
                self.model_root(), kelm::bind::path_argument(file_name, op, "multiblockFileName"),
                text_argument(mode, op, "mode"));
          },
          py::arg("multiblockFileName"), py::arg("mode") = py::str("binary"),
          "Writes the tree as a VTK XML multiblock file (mode \"ascii\" or binary). Raises "
          "OSError when the file cannot be written.");
}
