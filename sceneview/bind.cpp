// The module `sceneview`: the viewer window of the toolkit (class `sceneview`) and the dataset
// export. The class holds every VTK object of the scene (scene_objects.h) and hands each out as
// VTK's own Python object under its attribute name; the pipelines, the assembly and the pictures
// are plain C++ operations. The pick style comes from the module `clickmode`.
#include <pybind11/pybind11.h>

#include <string>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "dataset_export.h"
#include "display_check.h"
#include "display_pipelines.h"
#include "scene_assembly.h"
#include "screenshot.h"
#include "viewer_bind.h"

namespace py = pybind11;
namespace core = sceneview_core;

namespace {

using sceneview_bind::Viewer;
constexpr long long kMaxPictureSide = 16384;
constexpr long long kMaxScreenshotNumber = 999999999999LL;

using kelm::bind::integer_argument;
using kelm::bind::optional_text_argument;
using kelm::bind::real_argument;
using kelm::bind::text_argument;
using kelm::bind::type_name;
using kelm::bind::vtk_argument;

// "res/kelm_dark_background.jpg" in the directory of this module's file, links resolved.
std::string background_path() {
  py::module_ os_path = py::module_::import("os.path");
  py::object file = py::module_::import("sceneview").attr("__file__");
  py::object directory = os_path.attr("dirname")(os_path.attr("realpath")(file));
  return os_path.attr("join")(directory, "res", core::kBackgroundFile).cast<std::string>();
}

void display_mesh(Viewer& v, py::object dataset, py::object field_topology, py::object field_name) {
  const char* op = "sceneview.display_mesh";
  auto topology = optional_text_argument(field_topology, op, "field_topology");
  auto name = optional_text_argument(field_name, op, "field_name");
  if (dataset.is_none()) return;
  auto* data = vtk_argument<vtkDataObject>(dataset, op, "dataset", "VTK data object or None");
  if (auto* mbds = vtkMultiBlockDataSet::SafeDownCast(data)) {
    if (topology && name) {
      core::build_mbds_pipeline_with_field(v.objects, mbds, *topology, *name, v.units());
    } else {
      core::build_mbds_pipeline_nofield(v.objects, mbds);
    }
  } else if (auto* poly = vtkPolyData::SafeDownCast(data)) {
    if (topology && name) core::build_polydata_pipeline(v.objects, poly, topology, name, v.units());
  }
  // Any other dataset type is not shown, as documented.
}

std::string create_png_file(Viewer& v, py::handle scale_object) {
  const char* op = "sceneview.CreatePngFile";
  const long long scale = integer_argument(scale_object, op, "scale", 1, core::kMaxScreenshotScale);
  vtkRenderWindow* window = v.objects.render_window_interactor->GetRenderWindow();
  if (!window) {
    throw std::runtime_error(kelm::message(
        op,
        ": the interactor has no window yet; call render() first (or render_offscreen() for "
        "a picture without a window)"));
  }
  core::require_display(window, op);
  std::string directory = py::module_::import("tempfile").attr("gettempdir")().cast<std::string>();
  const long long index = v.pindex++;
  try {
    return core::write_screenshot(window, directory, index, int(scale));
  } catch (const kelm::os_error& e) {
    kelm::raise_os_error(op, ": ", e.what());
  }
}

void my_keypress(py::object self, py::handle obj, py::handle /*event*/) {
  auto* interactor = vtk_argument<vtkRenderWindowInteractor>(obj, "sceneview.MyKeypress", "obj",
                                                             "vtkRenderWindowInteractor");
  const char* key = interactor->GetKeySym();
  const std::string symbol = key ? key : "";
  if (symbol == "p") {
    self.attr("CreatePngFile")();
  } else if (symbol == "h") {
    self.attr("CreatePngFile")(3);
  }
}

void render(py::object self) {
  Viewer& v = self.cast<Viewer&>();
  core::SceneObjects& o = v.objects;
  core::require_display(o.render_window, "sceneview.render");
  const bool was_initialized = o.render_window_interactor->GetInitialized();
  core::assemble_scene(o, background_path());
  // The interactor gets its window before the window is first drawn: VTK 9.1's X event loop
  // crashes when the loop ends (window closed) for a window that was drawn before it had one.
  core::connect_interactor(o, v.key_observer(self));
  core::show_in_window(o);
  core::setup_triad(o);
  py::object style = py::module_::import("clickmode").attr("InteractorStyle")();
  style.attr("SetTarget")(v.dataset);
  auto* pick_style = kelm::bind::vtk_pointer_from_python<vtkInteractorObserver>(style);
  pick_style->SetDefaultRenderer(o.scene_renderer);
  o.render_window->SetWindowName(core::kWindowName);
  o.render_window_interactor->SetInteractorStyle(pick_style);
  core::run_event_loop(o, was_initialized);
}

py::str render_offscreen(Viewer& v, py::object filename, py::object width_object,
                         py::object height_object, py::object view_object) {
  const char* op = "sceneview.render_offscreen";
  const std::string given = kelm::bind::path_argument(filename, op, "filename");
  const long long width = integer_argument(width_object, op, "width", 1, kMaxPictureSide);
  const long long height = integer_argument(height_object, op, "height", 1, kMaxPictureSide);
  const core::PictureView view =
      core::picture_view_from_name(text_argument(view_object, op, "view"), op);
  core::require_display(v.objects.render_window, op);
  const std::string path = core::absolute_path(given);
  core::assemble_scene(v.objects, background_path());
  try {
    core::render_offscreen_png(v.objects, path, int(width), int(height), view);
  } catch (const kelm::os_error& e) {
    kelm::raise_os_error(op, ": ", e.what());
  }
  return kelm::bind::path_text(path);
}

py::object export_vtk_file(py::handle dataset, py::object filename, py::object binary_object) {
  const char* op = "sceneview.export_vtk_file";
  const bool binary = kelm::bind::flag_argument(binary_object, op, "binary");
  const std::string base = kelm::bind::path_argument(filename, op, "filename");
  auto* data = kelm::bind::vtk_pointer_from_python<vtkDataObject>(dataset);
  if (!data) {  // not a VTK dataset at all: no writer, as for any other unsupported type
    kelm::print_line("No writer configure for " + type_name(dataset));
    return py::none();
  }
  const std::string path = core::export_vtk_file(data, base, binary);
  if (path.empty()) return py::none();
  return kelm::bind::path_text(path);
}

}  // namespace

PYBIND11_MODULE(sceneview, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel",
                              "vtkmodules.vtkCommonExecutionModel", "vtkmodules.vtkFiltersCore",
                              "vtkmodules.vtkFiltersGeneral", "vtkmodules.vtkFiltersGeometry",
                              "vtkmodules.vtkRenderingCore", "vtkmodules.vtkRenderingOpenGL2",
                              "vtkmodules.vtkRenderingUI", "vtkmodules.vtkRenderingFreeType",
                              "vtkmodules.vtkRenderingAnnotation", "vtkmodules.vtkInteractionStyle",
                              "vtkmodules.vtkInteractionWidgets"});
  m.doc() = "The Kelm spatial load viewer: model and field display, screenshots, dataset export.";
  m.attr("clickmode") = py::module_::import("clickmode");

  py::class_<Viewer> cls(m, "sceneview", py::dynamic_attr(),
                         "sceneview(config): the viewer window with its pipelines, lookup table, "
                         "scalar bar, background picture and triad. config is a mapping; its key "
                         "\"units\" labels the scalar bar.");
  cls.def(py::init(&sceneview_bind::make_viewer), py::arg("config"),
          "Creates every VTK object of the scene; the window is 640 x 480. Raises TypeError when "
          "config is not a mapping (None counts as empty).");
  cls.def_readwrite("config", &Viewer::config, "The options mapping given to the constructor.");
  cls.def_readwrite("dataset", &Viewer::dataset,
                    "The model multiblock of initialize_ (the pick "
                    "target); None before.");
  cls.def_readwrite("model_map", &Viewer::model_map, "The map given to initialize_; not read.");
  cls.def_property(
      "pindex", [](Viewer& v) { return v.pindex; },
      [](Viewer& v, py::object value) {
        v.pindex =
            integer_argument(value, "sceneview.pindex", "the value", 0, kMaxScreenshotNumber);
      },
      "Number of the next screenshot, from 1.");

  sceneview_bind::bind_scene_objects(cls);

  cls.def(
      "initialize_",
      [](Viewer& v, py::object dataset, py::object dataset_map) {
        vtk_argument<vtkMultiBlockDataSet>(dataset, "sceneview.initialize_", "dataset",
                                           "vtkMultiBlockDataSet");
        v.dataset = dataset;
        v.model_map = dataset_map;
      },
      py::arg("dataset"), py::arg("dataset_map"),
      "Stores the model multiblock as `dataset` (the pick target) and the map as `model_map`. "
      "Raises TypeError when dataset is not a vtkMultiBlockDataSet.");
  cls.def("display_mesh", &display_mesh, py::arg("dataset") = py::none(),
          py::arg("field_topology") = py::none(), py::arg("field_name") = py::none(),
          "Builds the pipeline for dataset: a multiblock coloured by the field (both field "
          "arguments given) or in block colours, or a polydata with its field. Other datasets "
          "build nothing. Raises KeyError when the field array is missing.");
  cls.def(
      "build_mbds_pipeline_with_field",
      [](Viewer& v, py::object mbds, py::object topology, py::object name) {
        const char* op = "sceneview.build_mbds_pipeline_with_field";
        auto* data = vtk_argument<vtkMultiBlockDataSet>(mbds, op, "mbds", "vtkMultiBlockDataSet");
        core::build_mbds_pipeline_with_field(v.objects, data,
                                             text_argument(topology, op, "field_topology"),
                                             text_argument(name, op, "field_name"), v.units());
      },
      py::arg("mbds"), py::arg("field_topology"), py::arg("field_name"),
      "The multiblock's surfaces coloured by the field (\"Cell\": cell data, else point data), "
      "with feature edges, lookup table and scalar bar.");
  cls.def(
      "build_mbds_pipeline_nofield",
      [](Viewer& v, py::object mbds) {
        auto* data = vtk_argument<vtkMultiBlockDataSet>(
            mbds, "sceneview.build_mbds_pipeline_nofield", "mbds", "vtkMultiBlockDataSet");
        core::build_mbds_pipeline_nofield(v.objects, data);
      },
      py::arg("mbds"), "The multiblock's surfaces in their block colours, with feature edges.");
  cls.def(
      "build_polydata_pipeline",
      [](Viewer& v, py::object dataset, py::object topology, py::object name) {
        const char* op = "sceneview.build_polydata_pipeline";
        auto* data = vtk_argument<vtkPolyData>(dataset, op, "dataset", "vtkPolyData");
        core::build_polydata_pipeline(v.objects, data,
                                      optional_text_argument(topology, op, "field_topology"),
                                      optional_text_argument(name, op, "field_name"), v.units());
      },
      py::arg("dataset") = py::none(), py::arg("field_topology") = py::none(),
      py::arg("field_name") = py::none(),
      "One polydata: a point cloud (no cells) as yellow spheres, coloured on points by the "
      "field; or a surface with a field on points or cells.");
  cls.def(
      "create_composite_data_set_attributes_from_block_colors",
      [](Viewer&, py::object mbds) {
        return core::block_color_attributes(vtk_argument<vtkMultiBlockDataSet>(
            mbds, "sceneview.create_composite_data_set_attributes_from_block_colors",
            "multi_block_dataset", "vtkMultiBlockDataSet"));
      },
      py::arg("multi_block_dataset"),
      "A vtkCompositeDataDisplayAttributes with each leaf's \"color\" field array as its block "
      "colour; leaves without one keep the mapper's colour.");
  cls.def(
      "get_field_range",
      [](Viewer&, py::object mbds, py::object topology, py::object name) {
        const char* op = "sceneview.get_field_range";
        auto* data = vtk_argument<vtkDataObject>(mbds, op, "mbds", "VTK data object");
        auto location = optional_text_argument(topology, op, "field_topology");
        core::FieldRange range =
            core::field_range(data, location && core::is_cell_topology(*location),
                              text_argument(name, op, "field_name"), op);
        if (!range.valid) return py::make_tuple(py::none(), py::none());
        return py::make_tuple(range.min, range.max);
      },
      py::arg("mbds"), py::arg("field_topology"), py::arg("field_name"),
      "(minimum, maximum) of the field over all leaves ((None, None) when no value is finite). "
      "Raises KeyError when no leaf has the array.");
  cls.def(
      "build_lut",
      [](Viewer& v, py::object lo, py::object hi) {
        const char* op = "sceneview.build_lut";
        core::build_lut(v.objects.lut, real_argument(lo, op, "range_min"),
                        real_argument(hi, op, "range_max"));
      },
      py::arg("range_min"), py::arg("range_max"),
      "Configures `lut`: the range, hue 0.66667 (blue) to 0.0 (red), NaN in opaque yellow.");
  cls.def(
      "build_scalar_bar",
      [](Viewer& v, py::object title) {
        core::build_scalar_bar(
            v.objects, text_argument(title, "sceneview.build_scalar_bar", "title"), v.units());
      },
      py::arg("title"), "Configures and turns on the scalar bar; config's \"units\" is appended.");
  cls.def(
      "build_background_pipeline",
      [](Viewer& v) { core::build_background_pipeline(v.objects, background_path()); },
      "Reads res/kelm_dark_background.jpg beside the module into background_image_data; "
      "without the file the viewer has no picture.");
  cls.def(
      "fit_background_camera", [](Viewer& v) { core::fit_background_camera(v.objects); },
      "Fits the background camera to the picture (parallel scale 0.49 x its height).");
  cls.def(
      "setup_triad", [](Viewer& v) { core::setup_triad(v.objects); },
      "Shows the triad in the lower-left 15 % of the window; needs the interactor's window.");
  cls.def("render", &render,
          "Assembles the scene, opens the window \"Kelm spatial load viewer\" with the pick "
          "style of clickmode and blocks until it is closed. Raises RuntimeError without a "
          "display.");
  cls.def("render_offscreen", &render_offscreen, py::arg("filename"),
          py::arg("width") = py::int_(640), py::arg("height") = py::int_(480),
          py::arg("view") = py::str(core::kDefaultPictureView),
          "Renders the same scene as render() off-screen into a PNG file of width x height "
          "pixels and returns its absolute path; no window opens and nothing blocks. view is "
          "\"iso\" (default), \"x\", \"y\" or \"z\": the direction the model is seen from, "
          "fitted to it, with both sides of faces lit; the window's camera is not moved. Raises "
          "OSError when the file cannot be written, ValueError for another view.");
  cls.def("MyKeypress", &my_keypress, py::arg("obj"), py::arg("event"),
          "Key handler of the interactor: \"p\" writes a screenshot, \"h\" one at three times "
          "the window's size; other keys do nothing.");
  cls.def("CreatePngFile", &create_png_file, py::arg("scale") = 1,
          "Writes the window to screenshot<pindex>.png in the temporary directory (scale 1) or, "
          "magnified by scale, to screenshot<pindex>.jpg as JPEG; returns the path. Raises "
          "OSError when it cannot be written.");

  m.def("export_vtk_file", &export_vtk_file, py::arg("dataset"), py::arg("filename"),
        py::arg("binary") = py::bool_(true),
        "Writes dataset as VTK XML to filename plus the writer's extension (vtm, vtu, vtp, "
        "vti) and returns that name; other types print \"No writer configure for <type>\" and "
        "return None.");
}
