// The module `clickmode`: the viewer's pick interaction style.
//
// `InteractorStyle` must be an interactor style that VTK's own Python wrapping accepts
// (`interactor.SetInteractorStyle(style)`) and that keeps Python attributes (`pickingEnabled`,
// `SelectedMapper`, ...) which scripts read and set. VTK's wrapping only knows the classes it
// wrapped: a C++ subclass would come out as a plain vtkInteractorStyleRubberBandPick without those
// attributes or methods. So the class is a Python subclass of vtkInteractorStyleRubberBandPick,
// created here at import, whose methods are C++ functions. The C++ object is VTK's stock
// rubber-band style, so all of its key and mouse handling stays in force; the two handlers are
// observers on the style, as VTK's style dispatch expects (an observer of an event replaces the
// style's own handler, which is why the release handler calls OnLeftButtonUp first).
//
// The observers are C++ commands that look the Python object up from the C++ pointer at each
// event instead of holding a bound method: a bound method held by the C++ object would keep the
// style alive forever (a reference cycle through C++ that Python cannot collect). VTK keeps a
// Python subclass's class and attributes while its C++ object lives, so the lookup finds the
// same style with its attributes, and a subclass that overrides a handler is honoured.
#include <pybind11/pybind11.h>
#include <vtkAreaPicker.h>
#include <vtkCommand.h>
#include <vtkInteractorStyleRubberBandPick.h>
#include <vtkPlanes.h>
#include <vtkRenderWindow.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>

#include <string>

#include "common/arguments.h"
#include "common/bind_support.h"
#include "common/dataset_checks.h"
#include "point_selection.h"

namespace py = pybind11;

namespace {

constexpr const char* kOp = "clickmode.InteractorStyle";

using kelm::bind::type_name;
using kelm::bind::vtk_argument;

std::string operation(const char* method) { return kelm::message(kOp, ".", method); }

vtkInteractorStyleRubberBandPick* style_of(py::handle self, const char* method) {
  return vtk_argument<vtkInteractorStyleRubberBandPick>(self, operation(method), "self",
                                                        "InteractorStyle");
}

// The truth of attribute `pickingEnabled`; anything without a plain truth value (an array of
// several elements, say) is named instead of surfacing as NumPy's own message.
bool picking_enabled(py::handle self, const char* method) {
  py::object value = self.attr("pickingEnabled");
  try {
    return py::bool_(value);
  } catch (py::error_already_set&) {
    kelm::raise_type_error(operation(method),
                           ": attribute 'pickingEnabled' must be True or False, not ",
                           type_name(value));
  }
}

template <typename T>
T* attribute_as(py::handle self, const char* name, const char* vtk_class) {
  const std::string attribute = kelm::message("attribute '", name, "'");
  return vtk_argument<T>(self.attr(name), operation("OnLeftButtonUpEvent"), attribute.c_str(),
                         vtk_class);
}

// Calls the Python method `method(obj, event)` of the style that fired the event.
class StyleMethodCommand : public vtkCommand {
 public:
  static StyleMethodCommand* New() { return new StyleMethodCommand; }
  std::string method;

  void Execute(vtkObject* caller, unsigned long event, void*) override {
    py::gil_scoped_acquire gil;
    try {
      auto self = py::reinterpret_steal<py::object>(vtkPythonUtil::GetObjectFromPointer(caller));
      if (!self || self.is_none()) return;
      self.attr(method.c_str())(self, vtkCommand::GetStringFromEventId(event));
    } catch (py::error_already_set& error) {
      // Inside VTK's event loop there is no caller to raise to: report like VTK's own Python
      // observers do and keep the window alive.
      error.restore();
      PyErr_Print();
    }
  }
};

void observe(vtkInteractorStyleRubberBandPick* style, unsigned long event, const char* method) {
  style->RemoveObservers(event);  // a repeated __init__ must not double the handlers
  auto command = vtkSmartPointer<StyleMethodCommand>::New();
  command->method = method;
  style->AddObserver(event, command);
}

void construct(py::object self, py::object /*parent: accepted, not used*/) {
  auto* style = style_of(self, "__init__");
  observe(style, vtkCommand::LeftButtonReleaseEvent, "OnLeftButtonUpEvent");
  observe(style, vtkCommand::KeyPressEvent, "OnKeyPress");
  auto mapper = vtkSmartPointer<vtkCompositePolyDataMapper2>::New();
  auto actor = vtkSmartPointer<vtkActor>::New();
  actor->SetMapper(mapper);
  self.attr("pickingEnabled") = false;
  self.attr("SelectedMapper") = py::cast(mapper);
  self.attr("SelectedActor") = py::cast(actor);
  self.attr("mbds") = py::none();
}

void set_target(py::object self, py::object mbds) {
  style_of(self, "SetTarget");
  if (!mbds.is_none()) {
    vtk_argument<vtkDataObject>(mbds, operation("SetTarget"), "mbds", "VTK data object or None");
  }
  self.attr("mbds") = mbds;
}

void on_key_press(py::object self, py::object, py::object) {
  vtkRenderWindowInteractor* interactor = style_of(self, "OnKeyPress")->GetInteractor();
  if (!interactor) return;
  const char* key = interactor->GetKeySym();
  if (key && std::string(key) == "r") {
    self.attr("pickingEnabled") = !picking_enabled(self, "OnKeyPress");
  }
}

void on_left_button_up(py::object self, py::object, py::object) {
  auto* style = style_of(self, "OnLeftButtonUpEvent");
  style->OnLeftButtonUp();  // ends the rubber band and lets the area picker pick the rectangle
  if (!picking_enabled(self, "OnLeftButtonUpEvent")) return;

  vtkRenderWindowInteractor* interactor = style->GetInteractor();
  if (!interactor) return;
  auto* picker = vtkAreaPicker::SafeDownCast(interactor->GetPicker());
  if (!picker) {
    kelm::raise_type_error(
        kOp, ".OnLeftButtonUpEvent: the interactor's picker must be an area picker ",
        "(vtkRenderedAreaPicker), not ",
        interactor->GetPicker() ? interactor->GetPicker()->GetClassName() : "None");
  }
  py::object target = self.attr("mbds");
  if (target.is_none()) return;  // no target set: there is nothing to pick from
  auto* data = attribute_as<vtkDataObject>(self, "mbds", "VTK data object");
  // VTK's extraction reads a malformed target (a non-dataset leaf, short arrays, cells naming
  // missing points) out of bounds: it is refused with a message instead.
  kelm::require_sound_leaves(data, "clickmode.InteractorStyle.OnLeftButtonUpEvent",
                             kelm::Depth::shapes);
  auto* mapper = attribute_as<vtkCompositePolyDataMapper2>(self, "SelectedMapper",
                                                           "vtkCompositePolyDataMapper2");
  auto* actor = attribute_as<vtkActor>(self, "SelectedActor", "vtkActor");

  auto selection = clickmode_core::points_inside_frustum(data, picker->GetFrustum());
  clickmode_core::show_selection(selection, mapper, actor);
  if (vtkRenderer* renderer = style->GetCurrentRenderer()) renderer->AddActor(actor);
  if (interactor->GetRenderWindow()) interactor->GetRenderWindow()->Render();
}

void add_method(py::object cls, const char* name, py::cpp_function function) {
  py::setattr(cls, name, function);
}

}  // namespace

PYBIND11_MODULE(clickmode, m) {
  kelm::bind::init_module(m, {"vtkmodules.vtkCommonCore", "vtkmodules.vtkCommonDataModel",
                              "vtkmodules.vtkCommonExecutionModel", "vtkmodules.vtkRenderingCore",
                              "vtkmodules.vtkRenderingOpenGL2", "vtkmodules.vtkInteractionStyle"});
  m.doc() = "The viewer's pick interaction style: camera interaction plus rubber-band picking.";

  py::object base = py::module_::import("vtkmodules.vtkInteractionStyle")
                        .attr("vtkInteractorStyleRubberBandPick");
  py::dict namespace_;
  namespace_["__module__"] = "clickmode";
  namespace_["__doc__"] =
      "InteractorStyle(parent=None): vtkInteractorStyleRubberBandPick that draws the target's "
      "points inside a dragged rectangle as red dots. \"r\" switches picking (and the base "
      "style's rubber-band mode) on and off. Attributes: pickingEnabled, SelectedMapper, "
      "SelectedActor, mbds.";
  py::object cls = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type))(
      "InteractorStyle", py::make_tuple(base), namespace_);

  // Named apart from "__init__": pybind11 treats a function of that name as a constructor of a
  // pybind11 class, which this class is not.
  add_method(cls, "__init__",
             py::cpp_function(&construct, py::name("_init_style"), py::is_method(cls),
                              py::arg("parent") = py::none(),
                              "Registers the two handlers as observers of the style and creates "
                              "the selection mapper and actor; parent is not used."));
  add_method(
      cls, "SetTarget",
      py::cpp_function(&set_target, py::name("SetTarget"), py::is_method(cls), py::arg("mbds"),
                       "Sets the dataset to pick from (the model multiblock), or None. "
                       "Raises TypeError for anything else."));
  add_method(
      cls, "OnKeyPress",
      py::cpp_function(&on_key_press, py::name("OnKeyPress"), py::is_method(cls), py::arg("obj"),
                       py::arg("event"), "KeyPressEvent handler: \"r\" inverts pickingEnabled."));
  add_method(cls, "OnLeftButtonUpEvent",
             py::cpp_function(&on_left_button_up, py::name("OnLeftButtonUpEvent"),
                              py::is_method(cls), py::arg("obj"), py::arg("event"),
                              "LeftButtonReleaseEvent handler: the base style's release "
                              "handling, then, with picking on, the target's points inside the "
                              "picked frustum drawn red in the current renderer."));
  m.attr("InteractorStyle") = cls;

  m.def(
      "selection_point_count",
      [](py::handle selection) {
        auto* data = vtk_argument<vtkDataObject>(selection, "clickmode.selection_point_count",
                                                 "selection", "VTK data object");
        return clickmode_core::selection_point_count(data);
      },
      py::arg("selection"),
      "Number of points of a selection (a polydata or a multiblock of them), over all leaves.");
}
