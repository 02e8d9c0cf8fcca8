// The module `treewalk`: walks picked host entities into the model multiblock (through gridforge
// and blockbook, as Python modules) and sets up load regions for the viewer. Its state lives in
// module attributes that host scripts read and assign: generate_pstats, blockbook, model_root,
// converter (and profiler when generate_pstats is on).
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "load_regions.h"

namespace py = pybind11;

namespace {

py::module_ self_module() { return py::module_::import("treewalk"); }
py::module_ kelm_module() { return py::module_::import("kelm"); }

// A module global as the walkers see it: missing before the first export, as in any script.
py::object global(const char* name) {
  py::module_ m = self_module();
  if (!py::hasattr(m, name)) {
    PyErr_Format(PyExc_NameError,
                 "name '%s' is not defined: call treewalk.create_vtk_dataset_from_kelm_entities "
                 "first",
                 name);
    throw py::error_already_set();
  }
  return m.attr(name);
}

bool is_instance(py::handle entity, py::handle owner, const char* class_name) {
  return py::isinstance(entity, owner.attr(class_name));
}

void file_body(py::handle part_block, py::handle grid, py::handle name) {
  global("blockbook").attr("add_body_to_part")(part_block, grid, name);
}

void process_body(py::handle body, py::handle parent, py::handle /*transfer_options*/) {
  py::module_ k = kelm_module();
  py::object part_block = global("blockbook").attr("create_part")(parent, "Part 1");
  if (is_instance(body, k.attr("mesh"), "PointMesh")) {
    kelm::print_line("Skipping PointMesh");
  } else if (is_instance(body, k.attr("mesh"), "MeshBody")) {
    file_body(part_block, global("converter").attr("ugrid_from_mesh")(body), body.attr("pathName"));
  } else if (is_instance(body, k.attr("geometry"), "GeometryBody")) {
    file_body(part_block, global("converter").attr("ugrid_from_geombody")(body),
              body.attr("pathName"));
  }
}

void process_part(py::handle part, py::handle parent, const std::string& options) {
  py::module_ k = kelm_module();
  py::object part_block = global("blockbook").attr("create_part")(parent, part.attr("pathName"));
  if (options == "Both" || options == "Mesh") {
    for (py::handle mesh : part.attr("meshes")) {
      if (is_instance(mesh, k.attr("mesh"), "PointMesh")) {
        kelm::print_line("Skipping PointMesh");
        continue;
      }
      file_body(part_block, global("converter").attr("ugrid_from_mesh")(mesh),
                mesh.attr("pathName"));
    }
  }
  if (options == "Both" || options == "Geometry") {
    for (py::handle body : part.attr("geometryBodies")) {
      file_body(part_block, global("converter").attr("ugrid_from_geombody")(body),
                body.attr("name"));
    }
  }
}

void process_assembly(py::handle assembly, py::handle parent, const std::string& options) {
  py::object block = global("blockbook").attr("create_assembly")(parent, assembly.attr("pathName"));
  for (py::handle part : assembly.attr("parts")) process_part(part, block, options);
  for (py::handle sub : assembly.attr("assemblies")) process_assembly(sub, block, options);
}

py::tuple process_target(py::handle target, py::handle parent, const std::string& options) {
  py::module_ k = kelm_module();
  if (is_instance(target, k, "Model") || is_instance(target, k, "Assembly")) {
    self_module().attr("process_assembly")(py::arg("kelm_assembly") = target,
                                           py::arg("mblk_parent") = parent,
                                           py::arg("transfer_options") = options);
  } else if (is_instance(target, k, "Part")) {
    process_part(target, parent, options);
  } else if (is_instance(target, k.attr("geometry"), "GeometryBody") ||
             is_instance(target, k.attr("mesh"), "MeshBody")) {
    process_body(target, parent, py::str(options));
  } else {
    kelm::print_line("Not a valid selection....exiting");
  }
  py::object book = global("blockbook");
  return py::make_tuple(book.attr("get_model_root")(), book.attr("get_model_map_with_block_id")());
}

py::object create_vtk_dataset_from_kelm_entities(py::handle entities) {
  py::module_ m = self_module();
  py::module_ k = kelm_module();
  k.attr("setScriptUnitSystem")(k.attr("getApplicationUnitSystemLabel")());
  if (py::bool_(m.attr("generate_pstats"))) {
    py::object profiler = py::module_::import("cProfile").attr("Profile")();
    profiler.attr("enable")();
    m.attr("profiler") = profiler;
  }
  py::object book = m.attr("mblk").attr("blockbook")();
  book.attr("set_model_units")(k.attr("getApplicationUnitSystemLabel")());
  m.attr("blockbook") = book;
  m.attr("model_root") = book.attr("get_model_root")();
  m.attr("converter") = m.attr("forgemod").attr("gridforge")();
  for (py::handle entity : entities) process_target(entity, m.attr("model_root"), "Both");
  return global("blockbook").attr("get_model_root")();
}

// Flat index (item 1 of a model map value) as an unsigned block index.
unsigned flat_index_of(py::handle value, py::handle key) {
  constexpr const char* op = "treewalk.extract_load_and_nonload_regions_from_model";
  const std::string body = kelm::bind::utf8_text(py::str(key));
  if (!PySequence_Check(value.ptr()) || PyUnicode_Check(value.ptr()) || py::len(value) < 2) {
    kelm::raise_type_error(op, ": the model map value of body '", body,
                           "' must be a (grid, flat index) pair, not ",
                           kelm::bind::type_name(value));
  }
  py::object index = py::reinterpret_borrow<py::object>(value)[py::int_(1)];
  if (PyBool_Check(index.ptr()) || !PyIndex_Check(index.ptr())) {
    kelm::raise_type_error(op, ": the flat index of body '", body, "' must be an integer, not ",
                           kelm::bind::type_name(index));
  }
  py::int_ number = py::reinterpret_steal<py::int_>(PyNumber_Index(index.ptr()));
  if (!number) throw py::error_already_set();
  int overflow = 0;
  const long long flat = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
  if (overflow || flat < 0 || flat > 0xFFFFFFFFll) {
    kelm::raise_value_error(op, ": flat index ", kelm::bind::utf8_text(py::str(number)),
                            " of body '", body, "' is not a block index");
  }
  return unsigned(flat);
}

py::tuple extract_load_and_nonload_regions(vtkMultiBlockDataSet* model, py::dict model_map,
                                           py::handle load) {
  std::vector<unsigned> all, omitted;
  for (auto item : model_map) all.push_back(flat_index_of(item.second, item.first));
  for (py::handle key : load) {
    if (!model_map.contains(key)) {
      kelm::raise_key_error("treewalk.extract_load_and_nonload_regions_from_model: load body '",
                            kelm::bind::utf8_text(py::str(key)), "' is not in the model map");
    }
    omitted.push_back(flat_index_of(model_map[key], key));
  }
  py::object load_blocks = py::cast(treewalk_core::extract_blocks(model, omitted));
  if (omitted.size() < all.size()) {
    auto rest = treewalk_core::extract_blocks(model, treewalk_core::retained_blocks(all, omitted));
    return py::make_tuple(load_blocks, py::cast(rest));
  }
  return py::make_tuple(load_blocks, py::none());
}

void add_current_model_meshes() {
  self_module().attr("process_target")(py::arg("target") = kelm_module().attr("currentModel")(),
                                       py::arg("mblk_parent") = global("model_root"),
                                       py::arg("transfer_options") = "Mesh");
}

void output_pstats(py::handle profiler) {
  py::object stats = py::module_::import("pstats").attr("Stats")(profiler);
  stats.attr("sort_stats")("tottime");
  stats.attr("print_stats")();
  for (const char* pattern :
       {"gridforge|blockbook|display_kelm_model_in_vtk_window", "sceneview", "vtkC",
        "numpy_support", "mesh", "extensions", "leaf", "enum", "site_packages/numpy"}) {
    stats.attr("print_stats")(pattern);
  }
}

}  // namespace

PYBIND11_MODULE(treewalk, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel"});
  m.doc() = "Walks picked host entities into the model multiblock; load regions for the viewer.";

  // The module's top level: the imports host scripts find on it, and its flag.
  py::object reload = py::module_::import("importlib").attr("reload");
  m.attr("reload") = reload;
  m.attr("np") = py::module_::import("numpy");
  m.attr("vtk") = py::module_::import("vtk");
  m.attr("numpy_support") = py::module_::import("vtk.util.numpy_support");
  m.attr("timer") = py::module_::import("timeit").attr("default_timer");
  m.attr("cProfile") = py::module_::import("cProfile");
  m.attr("pstats") = py::module_::import("pstats");
  m.attr("forgemod") = reload(py::module_::import("gridforge"));
  m.attr("mblk") = reload(py::module_::import("blockbook"));
  m.attr("kelm") = py::module_::import("kelm");
  m.attr("generate_pstats") = false;

  m.def("create_vtk_dataset_from_kelm_entities", &create_vtk_dataset_from_kelm_entities,
        py::arg("kelm_entities"),
        "Exports the picked host entities (model, assemblies, parts, bodies) into a new model "
        "multiblock and returns its root. Replaces the module's blockbook, model_root and "
        "converter.");
  m.def(
      "process_target",
      [](py::handle target, py::handle parent, py::handle options) {
        return process_target(
            target, parent,
            kelm::bind::text_argument(options, "treewalk.process_target", "transfer_options"));
      },
      py::arg("target"), py::arg("mblk_parent"), py::arg("transfer_options") = py::str("Both"),
      "Files one host entity under mblk_parent; returns (model root, model map with block ids). "
      "An unsupported entity prints 'Not a valid selection....exiting' and is skipped.");
  m.def(
      "process_assembly",
      [](py::handle assembly, py::handle parent, py::handle options) {
        process_assembly(
            assembly, parent,
            kelm::bind::text_argument(options, "treewalk.process_assembly", "transfer_options"));
      },
      py::arg("kelm_assembly"), py::arg("mblk_parent"),
      py::arg("transfer_options") = py::str("Both"),
      "Files an assembly (or the model): its parts, then its sub-assemblies, depth first.");
  m.def(
      "process_part",
      [](py::handle part, py::handle parent, py::handle options) {
        process_part(
            part, parent,
            kelm::bind::text_argument(options, "treewalk.process_part", "transfer_options"));
      },
      py::arg("kelm_part"), py::arg("mblk_parent"), py::arg("transfer_options"),
      "Files a part block and, as transfer_options selects (\"Both\", \"Mesh\", \"Geometry\"), "
      "its mesh bodies then its geometry bodies.");
  m.def(
      "process_body",
      [](py::handle body, py::handle parent, py::handle options) {
        process_body(body, parent, options);
      },
      py::arg("body"), py::arg("mblk_parent"), py::arg("transfer_options"),
      "Files a directly picked body under a new part block named \"Part 1\".");
  m.def("extract_load_and_nonload_regions_from_model", &extract_load_and_nonload_regions,
        py::arg("model"), py::arg("model_map"), py::arg("load"),
        "(multiblock of the blocks of the load's bodies, multiblock of the other blocks or None).");
  m.def(
      "initialize_load_vizualization",
      [](py::handle, py::handle, py::handle scope, py::handle) {
        if (kelm::bind::text_argument(scope, "treewalk.initialize_load_vizualization",
                                      "model_display_scope") == "All") {
          add_current_model_meshes();
        }
      },
      py::arg("vizualization_target_type"), py::arg("vizualization_target"),
      py::arg("model_display_scope"), py::arg("color_options"),
      "With scope \"All\", files the current host model's mesh bodies under model_root.");
  m.def(
      "initialize_model",
      [](py::handle scope_object, py::handle target) {
        const std::string scope = kelm::bind::text_argument(
            scope_object, "treewalk.initialize_model", "model_display_scope");
        if (scope == "All") {
          add_current_model_meshes();
        } else if (scope == "Region" &&
                   py::isinstance(target,
                                  kelm_module().attr("environment").attr("VariablePressure"))) {
          kelm::print_line("Not yet supported");
        }
      },
      py::arg("model_display_scope"), py::arg("visualization_target"),
      "With scope \"All\", files the current host model's mesh bodies under model_root; a "
      "variable pressure region prints 'Not yet supported'.");
  m.def("output_pstats", &output_pstats, py::arg("profiler"),
        "Prints the profiler's statistics by own time, whole and for the toolkit's patterns.");
}
