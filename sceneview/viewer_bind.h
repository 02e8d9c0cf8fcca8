// Binding helpers of sceneview (included by bind.cpp only; pybind11 stays out of the core): the
// Python-side viewer object, which owns the scene's VTK objects, and the table of its attributes,
// each handing out VTK's own Python object for one of them.
#pragma once

#include <pybind11/pybind11.h>
#include <vtkCommand.h>
#include <vtkPythonUtil.h>
#include <vtkSmartPointer.h>

#include <memory>
#include <optional>
#include <string>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "scene_objects.h"

namespace sceneview_bind {

namespace py = pybind11;
namespace core = sceneview_core;
using kelm::bind::type_name;
using kelm::bind::vtk_argument;

inline bool is_mapping(py::handle value) {
  return py::isinstance(value, py::module_::import("collections.abc").attr("Mapping"));
}

inline void require_config_mapping(py::handle config) {
  if (!config.is_none() && !is_mapping(config)) {
    kelm::raise_type_error("sceneview: config must be a mapping (such as {\"units\": \"MPa\"}), ",
                           "not ", type_name(config));
  }
}

// Calls `MyKeypress(interactor, "KeyPressEvent")` of the viewer through a weak reference: a strong
// one held by the interactor would keep the viewer and its window alive forever.
class ViewerKeyCommand : public vtkCommand {
 public:
  static ViewerKeyCommand* New() { return new ViewerKeyCommand; }
  py::object viewer;  // a weakref

  ~ViewerKeyCommand() override {
    if (Py_IsInitialized()) {
      py::gil_scoped_acquire gil;
      viewer = py::object();
    } else {
      viewer.release();
    }
  }

  void Execute(vtkObject* caller, unsigned long event, void*) override {
    py::gil_scoped_acquire gil;
    try {
      py::object self = viewer();
      if (self.is_none()) return;
      self.attr("MyKeypress")(
          py::reinterpret_steal<py::object>(vtkPythonUtil::GetObjectFromPointer(caller)),
          vtkCommand::GetStringFromEventId(event));
    } catch (py::error_already_set& error) {
      // Nobody to raise to inside VTK's event loop: report it and keep the window open.
      error.restore();
      PyErr_Print();
    }
  }
};

struct Viewer {
  core::SceneObjects objects;
  py::object config;
  py::object dataset = py::none();
  py::object model_map = py::none();
  long long pindex = 1;
  vtkSmartPointer<ViewerKeyCommand> key_command;

  std::optional<std::string> units() const {
    if (config.is_none()) return std::nullopt;
    require_config_mapping(config);
    if (!config.contains("units")) return std::nullopt;
    return kelm::bind::utf8_text(py::str(config["units"]));
  }

  vtkCommand* key_observer(py::handle self) {
    if (!key_command) {
      key_command = vtkSmartPointer<ViewerKeyCommand>::New();
      key_command->viewer = py::weakref(self);
    }
    return key_command;
  }
};

inline std::unique_ptr<Viewer> make_viewer(py::object config) {
  require_config_mapping(config);
  auto viewer = std::make_unique<Viewer>();
  viewer->config = config.is_none() ? py::dict() : config;
  return viewer;
}

// Binds attribute `name` as a property over the VTK object `member`: reading gives VTK's own
// Python object (None while unset); assigning accepts only the documented class.
template <typename T>
void vtk_attribute(py::class_<Viewer>& cls, const char* name,
                   vtkSmartPointer<T> core::SceneObjects::*member, const char* vtk_class,
                   const char* doc) {
  cls.def_property(
      name, [member](Viewer& v) { return vtkSmartPointer<T>(v.objects.*member); },
      [member, name, vtk_class](Viewer& v, py::object value) {
        std::string where = std::string("sceneview.") + name;
        T* pointer = vtk_argument<T>(value, where.c_str(), "the value", vtk_class);
        v.objects.*member = pointer;
      },
      doc);
}

// The scene's VTK objects as attributes of the class, under their documented names.
inline void bind_scene_objects(py::class_<Viewer>& cls) {
  using O = core::SceneObjects;
// One row per object: the attribute is named as the member, and only its own class is accepted.
#define SCENE_ATTRIBUTE(member, vtk_class, doc) \
  vtk_attribute<vtk_class>(cls, #member, &O::member, #vtk_class, doc)
  SCENE_ATTRIBUTE(vertexFilter, vtkVertexGlyphFilter, "Point-cloud vertices.");
  SCENE_ATTRIBUTE(point_mapper, vtkPolyDataMapper, "Point-cloud mapper.");
  SCENE_ATTRIBUTE(point_actor, vtkActor, "Point-cloud actor.");
  SCENE_ATTRIBUTE(face_poly_filter, vtkGeometryFilter, "Field pipeline: surfaces.");
  SCENE_ATTRIBUTE(faces_normals_generator, vtkPolyDataNormals, "Field pipeline: normals.");
  SCENE_ATTRIBUTE(feature_edge_filter, vtkFeatureEdges, "Field pipeline: feature edges.");
  SCENE_ATTRIBUTE(face_mapper, vtkMapper,
                  "Field pipeline mapper: a vtkCompositePolyDataMapper2, or a vtkDataSetMapper "
                  "after a single surface was shown.");
  SCENE_ATTRIBUTE(feature_edge_mapper, vtkCompositePolyDataMapper2, "Field pipeline: edge mapper.");
  SCENE_ATTRIBUTE(face_actor, vtkActor, "Field surfaces.");
  SCENE_ATTRIBUTE(feature_edge_actor, vtkActor, "Field pipeline edges.");
  SCENE_ATTRIBUTE(lut, vtkLookupTable, "The colour map of every field pipeline.");
  SCENE_ATTRIBUTE(face_filter_nofield, vtkUnstructuredGridGeometryFilter,
                  "Plain-model pipeline: outer faces.");
  SCENE_ATTRIBUTE(face_poly_filter_nofield, vtkGeometryFilter, "Plain-model pipeline: surfaces.");
  SCENE_ATTRIBUTE(faces_normals_generator_nofield, vtkPolyDataNormals,
                  "Plain-model pipeline: normals.");
  SCENE_ATTRIBUTE(feature_edge_filter_nofield, vtkFeatureEdges,
                  "Plain-model pipeline: feature edges.");
  SCENE_ATTRIBUTE(face_mapper_nofield, vtkCompositePolyDataMapper2,
                  "Plain-model mapper, in block colours.");
  SCENE_ATTRIBUTE(feature_edge_mapper_nofield, vtkCompositePolyDataMapper2,
                  "Plain-model edge mapper.");
  SCENE_ATTRIBUTE(face_actor_nofield, vtkActor, "Plain-model surfaces.");
  SCENE_ATTRIBUTE(feature_edge_actor_nofield, vtkActor, "Plain-model edges.");
  SCENE_ATTRIBUTE(scalar_bar_widget, vtkScalarBarWidget, "The scalar bar widget.");
  SCENE_ATTRIBUTE(scalar_bar_actor, vtkScalarBarActor, "The scalar bar.");
  SCENE_ATTRIBUTE(triad_orientation_widget, vtkOrientationMarkerWidget, "The triad widget.");
  SCENE_ATTRIBUTE(triad_actor, vtkAxesActor, "The triad.");
  SCENE_ATTRIBUTE(imageActor, vtkImageActor, "The background picture's actor.");
  SCENE_ATTRIBUTE(background_image_data, vtkImageData, "The background picture; None until read.");
  SCENE_ATTRIBUTE(scene_renderer, vtkRenderer, "Renderer of the model, layer 1.");
  SCENE_ATTRIBUTE(backgroundRenderer, vtkRenderer, "Renderer of the background picture, layer 0.");
  SCENE_ATTRIBUTE(render_window, vtkRenderWindow, "The window, 640 x 480.");
  SCENE_ATTRIBUTE(render_window_interactor, vtkRenderWindowInteractor, "The interactor.");
  SCENE_ATTRIBUTE(area_picker, vtkRenderedAreaPicker, "Picker of the pick style.");
  SCENE_ATTRIBUTE(cdsa, vtkCompositeDataDisplayAttributes,
                  "Display attributes of the field pipeline; None until it is built.");
#undef SCENE_ATTRIBUTE
}

}  // namespace sceneview_bind
