"""Tests of the pick interaction style, driven by events on an off-screen window."""
import gc
import subprocess
import sys

import numpy as np
import pytest
import vtk
from vtkmodules.util import numpy_support

import clickmode


def _plane(x0, x1):
    source = vtk.vtkPlaneSource()
    source.SetOrigin(x0, -1, 0)
    source.SetPoint1(x1, -1, 0)
    source.SetPoint2(x0, 1, 0)
    source.SetResolution(8, 8)
    source.Update()
    return source.GetOutput()


class Scene:
    """Two squares side by side (x < 0 and x > 0) seen from +z in a 400 x 400 off-screen window,
    with the pick style installed the way the viewer installs it."""

    def __init__(self):
        self.model = vtk.vtkMultiBlockDataSet()
        self.model.SetBlock(0, _plane(-1.0, -0.05))
        self.model.SetBlock(1, _plane(0.05, 1.0))
        mapper = vtk.vtkCompositePolyDataMapper2()
        mapper.SetInputDataObject(self.model)
        actor = vtk.vtkActor()
        actor.SetMapper(mapper)
        self.renderer = vtk.vtkRenderer()
        self.renderer.AddActor(actor)
        self.window = vtk.vtkRenderWindow()
        self.window.SetOffScreenRendering(1)
        self.window.SetSize(400, 400)
        self.window.AddRenderer(self.renderer)
        self.interactor = vtk.vtkRenderWindowInteractor()
        self.interactor.SetRenderWindow(self.window)
        self.interactor.SetPicker(vtk.vtkRenderedAreaPicker())
        self.style = clickmode.InteractorStyle()
        self.style.SetTarget(self.model)
        self.style.SetDefaultRenderer(self.renderer)
        self.interactor.SetInteractorStyle(self.style)
        self.renderer.ResetCamera()
        self.window.Render()

    def key(self, symbol):
        self.interactor.SetKeySym(symbol)
        self.interactor.SetKeyCode(symbol)
        self.interactor.InvokeEvent("KeyPressEvent")
        self.interactor.InvokeEvent("CharEvent")

    def drag(self, start, end):
        self.interactor.SetEventInformation(start[0], start[1], 0, 0)
        self.interactor.InvokeEvent("LeftButtonPressEvent")
        self.interactor.SetEventInformation(end[0], end[1], 0, 0)
        self.interactor.InvokeEvent("MouseMoveEvent")
        self.interactor.InvokeEvent("LeftButtonReleaseEvent")

    def selected_x(self):
        """x of every selected point, over all leaves."""
        selection = self.style.SelectedMapper.GetInputDataObject(0, 0)
        if selection is None:
            return np.empty(0)
        xs = []
        it = selection.NewIterator()
        it.InitTraversal()
        while not it.IsDoneWithTraversal():
            leaf = it.GetCurrentDataObject()
            if leaf.GetNumberOfPoints():
                xs.append(numpy_support.vtk_to_numpy(leaf.GetPoints().GetData())[:, 0])
            it.GoToNextItem()
        return np.concatenate(xs) if xs else np.empty(0)


@pytest.fixture
def scene():
    return Scene()


class TestStyleObject:
    def test_is_a_vtk_rubber_band_style_that_vtk_accepts(self, scene):
        assert isinstance(scene.style, vtk.vtkInteractorStyleRubberBandPick)
        assert scene.interactor.GetInteractorStyle() is scene.style

    def test_initial_attributes(self):
        style = clickmode.InteractorStyle(parent="ignored")
        assert style.pickingEnabled is False
        assert isinstance(style.SelectedMapper, vtk.vtkCompositePolyDataMapper2)
        assert isinstance(style.SelectedActor, vtk.vtkActor)
        assert style.SelectedActor.GetMapper() is style.SelectedMapper
        assert style.mbds is None

    def test_handlers_observe_the_style_itself(self):
        style = clickmode.InteractorStyle()
        assert style.HasObserver("LeftButtonReleaseEvent")
        assert style.HasObserver("KeyPressEvent")

    def test_attributes_survive_when_only_vtk_holds_the_style(self, scene):
        scene.style.pickingEnabled = True
        scene.style.marker = "kept"
        del scene.style
        gc.collect()
        style = scene.interactor.GetInteractorStyle()
        assert isinstance(style, clickmode.InteractorStyle)
        assert style.pickingEnabled is True and style.marker == "kept"


class TestPickingSwitch:
    def test_r_toggles_picking_and_the_rubber_band_mode_together(self, scene):
        scene.key("r")
        assert scene.style.pickingEnabled is True
        scene.key("r")
        assert scene.style.pickingEnabled is False

    def test_other_keys_leave_picking_alone(self, scene):
        scene.key("x")
        assert scene.style.pickingEnabled is False

    def test_a_subclass_handler_is_the_one_called(self, scene):
        calls = []

        class Counting(clickmode.InteractorStyle):
            def OnKeyPress(self, obj, event):
                calls.append(event)

        style = Counting()
        scene.interactor.SetInteractorStyle(style)
        scene.key("r")
        assert calls == ["KeyPressEvent"]


class TestRubberBandPick:
    def test_release_with_picking_off_adds_no_selection(self, scene):
        scene.drag((10, 10), (390, 390))
        assert not scene.renderer.HasViewProp(scene.style.SelectedActor)
        assert scene.style.SelectedMapper.GetInputDataObject(0, 0) is None

    def test_pick_over_left_half_draws_red_points_of_the_left_square(self, scene):
        scene.key("r")
        scene.drag((5, 5), (195, 395))
        xs = scene.selected_x()
        assert len(xs) > 0 and np.all(xs < 0)
        assert scene.renderer.HasViewProp(scene.style.SelectedActor)
        prop = scene.style.SelectedActor.GetProperty()
        assert prop.GetColor() == (1.0, 0.0, 0.0) and prop.GetPointSize() == 3
        assert not scene.style.SelectedMapper.GetScalarVisibility()

    def test_second_pick_replaces_the_first(self, scene):
        scene.key("r")
        scene.drag((5, 5), (195, 395))
        scene.drag((205, 5), (395, 395))
        xs = scene.selected_x()
        assert len(xs) > 0 and np.all(xs > 0)
        assert clickmode.selection_point_count(
            scene.style.SelectedMapper.GetInputDataObject(0, 0)) == len(xs)

    def test_rectangle_without_model_points_selects_nothing(self, scene):
        scene.key("r")
        scene.drag((196, 2), (204, 8))  # the gap between the squares, at the bottom edge
        assert len(scene.selected_x()) == 0

    def test_a_point_without_a_position_is_never_picked(self, scene):
        # A NaN coordinate compares false with every plane of the frustum, which used to put the
        # point inside any rectangle, even one over empty background.
        scene.model.GetBlock(1).GetPoints().SetPoint(0, np.nan, np.nan, np.nan)
        scene.key("r")
        scene.drag((196, 2), (204, 8))
        assert len(scene.selected_x()) == 0
        scene.drag((5, 5), (395, 395))
        xs = scene.selected_x()
        assert len(xs) > 0 and np.all(np.isfinite(xs))

    def test_pick_without_target_draws_nothing(self, scene):
        scene.style.SetTarget(None)
        scene.key("r")
        scene.drag((5, 5), (395, 395))
        assert scene.style.SelectedMapper.GetInputDataObject(0, 0) is None


class TestBadInput:
    def test_target_must_be_a_vtk_data_object(self):
        with pytest.raises(TypeError, match="SetTarget: mbds must be a VTK data object"):
            clickmode.InteractorStyle().SetTarget("model")

    def test_handler_on_a_foreign_object_raises(self):
        with pytest.raises(TypeError, match="self must be an InteractorStyle"):
            clickmode.InteractorStyle.OnKeyPress(vtk.vtkObject(), None, "KeyPressEvent")

    def test_point_picker_is_reported_not_crashed(self, scene):
        scene.interactor.SetPicker(vtk.vtkPointPicker())
        scene.style.pickingEnabled = True
        with pytest.raises(TypeError, match="area picker"):
            scene.style.OnLeftButtonUpEvent(scene.style, "LeftButtonReleaseEvent")

    def test_error_inside_the_event_loop_is_printed_and_the_process_lives(self):
        code = (
            "import vtk, clickmode\n"
            "i = vtk.vtkRenderWindowInteractor(); i.SetPicker(vtk.vtkPointPicker())\n"
            "s = clickmode.InteractorStyle(); i.SetInteractorStyle(s); s.pickingEnabled = True\n"
            "i.InvokeEvent('LeftButtonReleaseEvent'); print('alive')\n")
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                timeout=60)
        assert result.returncode == 0 and "alive" in result.stdout
        assert "area picker" in result.stderr

    def test_wrong_mapper_attribute_is_named(self, scene):
        scene.style.SelectedMapper = "not a mapper"
        scene.style.pickingEnabled = True
        with pytest.raises(TypeError, match="SelectedMapper"):
            scene.style.OnLeftButtonUpEvent(scene.style, "LeftButtonReleaseEvent")


class TestMessages:
    def test_picking_switch_without_a_truth_value(self, scene):
        scene.style.pickingEnabled = np.array([True, False])
        with pytest.raises(TypeError, match="OnLeftButtonUpEvent: attribute 'pickingEnabled' must "
                                            "be True or False, not ndarray"):
            scene.style.OnLeftButtonUpEvent(scene.style, "LeftButtonReleaseEvent")

    def test_selection_count_of_a_non_vtk_object(self):
        with pytest.raises(TypeError, match="selection_point_count: selection must be a VTK data "
                                            "object, not str"):
            clickmode.selection_point_count("x")

    def test_wrong_actor_names_the_handler(self, scene):
        scene.style.SelectedActor = None
        scene.style.pickingEnabled = True
        with pytest.raises(TypeError, match="OnLeftButtonUpEvent: attribute 'SelectedActor' must "
                                            "be a vtkActor, not NoneType"):
            scene.style.OnLeftButtonUpEvent(scene.style, "LeftButtonReleaseEvent")


class TestMalformedTarget:
    """A target VTK's extraction would read out of bounds is refused with a message; inside the
    event loop it is printed and the window lives on."""

    def test_leaf_that_is_not_a_dataset(self, scene):
        scene.model.SetBlock(2, vtk.vtkTable())
        scene.style.pickingEnabled = True
        with pytest.raises(TypeError, match="OnLeftButtonUpEvent: leaf 3 of the multiblock is a "
                                            "vtkTable"):
            scene.style.OnLeftButtonUpEvent(scene.style, "LeftButtonReleaseEvent")

    def test_array_shorter_than_the_points(self, scene):
        short = vtk.vtkFloatArray()
        short.SetName("Temperature")
        short.SetNumberOfTuples(2)
        scene.model.GetBlock(0).GetPointData().AddArray(short)
        scene.style.pickingEnabled = True
        with pytest.raises(ValueError, match="has a point array 'Temperature' of 2 values for "
                                             "81 points"):
            scene.style.OnLeftButtonUpEvent(scene.style, "LeftButtonReleaseEvent")

    def test_cell_naming_a_missing_point_during_a_drag(self, scene, capfd):
        scene.model.GetBlock(1).GetPolys().InsertNextCell(3, [0, 1, 500])
        scene.key("r")
        scene.drag((5, 5), (395, 395))  # the error is printed, not raised, inside the dispatch
        assert "naming point 500, outside its points 0 to 80" in capfd.readouterr().err
        assert scene.style.SelectedMapper.GetInputDataObject(0, 0) is None
