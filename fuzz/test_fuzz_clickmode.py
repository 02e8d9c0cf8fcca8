"""clickmode driven with generated targets, key presses and rubber-band drags sent as interactor
events to an off-screen window, and with its attributes and arguments broken one at a time."""
import numpy as np
import pytest
import vtk
from hypothesis import given, settings, strategies as st
from vtk.util import numpy_support as ns

import clickmode
from fuzzcase import expect_success_or_error
from test_fuzz_sceneview import JUNK, leaves, multiblocks

pytestmark = pytest.mark.timeout(600)
# The tests that build and draw pipelines run half the profile's examples (several cases each).
HALF = settings(max_examples=max(1, settings.default.max_examples // 2))

SIZE = 200


class Window:
    """One off-screen window with a renderer and an interactor, shared by the cases; each case
    installs a fresh style."""

    def __init__(self):
        self.renderer = vtk.vtkRenderer()
        self.window = vtk.vtkRenderWindow()
        self.window.SetOffScreenRendering(1)
        self.window.SetSize(SIZE, SIZE)
        self.window.AddRenderer(self.renderer)
        self.interactor = vtk.vtkRenderWindowInteractor()
        self.interactor.SetRenderWindow(self.window)

    def install(self, target, picker=None):
        self.renderer.RemoveAllViewProps()
        self.interactor.SetPicker(picker or vtk.vtkRenderedAreaPicker())
        style = clickmode.InteractorStyle()
        expect_success_or_error("clickmode", style.SetTarget, target)
        style.SetDefaultRenderer(self.renderer)
        self.interactor.SetInteractorStyle(style)
        self.renderer.ResetCamera()
        self.window.Render()
        return style

    def key(self, symbol):
        self.interactor.SetKeySym(symbol)
        self.interactor.SetKeyCode(symbol[:1] or "\0")
        self.interactor.InvokeEvent("KeyPressEvent")
        self.interactor.InvokeEvent("CharEvent")

    def drag(self, start, end):
        self.interactor.SetEventInformation(start[0], start[1], 0, 0)
        self.interactor.InvokeEvent("LeftButtonPressEvent")
        self.interactor.SetEventInformation(end[0], end[1], 0, 0)
        self.interactor.InvokeEvent("MouseMoveEvent")
        self.interactor.InvokeEvent("LeftButtonReleaseEvent")


WINDOW = Window()


def _key(xyz):
    """A point's coordinates as a set member: NaN never equals itself, so it is spelled out."""
    return tuple("nan" if v != v else v for v in xyz)


def target_points(data):
    """Every point of the target's dataset leaves, as a set of coordinate tuples."""
    points, stack = set(), [data]
    while stack:
        item = stack.pop()
        if item is None:
            continue
        if item.IsA("vtkMultiBlockDataSet"):
            stack.extend(item.GetBlock(i) for i in range(item.GetNumberOfBlocks()))
        elif item.IsA("vtkPointSet") and item.GetNumberOfPoints():
            xyz = ns.vtk_to_numpy(item.GetPoints().GetData()).astype(np.float32)
            points.update(map(_key, xyz.tolist()))
        elif item.IsA("vtkDataSet"):
            for i in range(item.GetNumberOfPoints()):
                points.add(_key(np.float32(item.GetPoint(i)).tolist()))
    return points


def selected_points(style):
    selection = style.SelectedMapper.GetInputDataObject(0, 0)
    if selection is None:
        return None
    return target_points(selection)


def run(operation, *args):
    """True when the operation ran, False when it raised a Python exception."""
    return expect_success_or_error("clickmode", lambda: operation(*args) or True) is not None


COORD = st.integers(-50, SIZE + 50) | st.sampled_from([-2**31, 2**31 - 1, 0, SIZE - 1])
KEYS = st.sampled_from(["r", "r", "x", "", "R", "3", "Escape", "p"])
ACTIONS = st.lists(st.one_of(st.tuples(st.just("key"), KEYS),
                             st.tuples(st.just("drag"), st.tuples(COORD, COORD),
                                       st.tuples(COORD, COORD))), max_size=5)


@HALF
@given(st.one_of(multiblocks(), leaves()), ACTIONS)
def test_random_drags_select_only_target_points(target, actions):
    style = WINDOW.install(target)
    picking = False
    for action in actions:
        if action[0] == "key":
            assert run(WINDOW.key, action[1])
            picking ^= action[1] == "r"
            assert style.pickingEnabled is picking
        else:
            assert run(WINDOW.drag, action[1], action[2])
            chosen = selected_points(style)
            if chosen is not None:
                assert chosen <= target_points(target)
                assert not any("nan" in point for point in chosen)  # no position, never inside
                assert clickmode.selection_point_count(
                    style.SelectedMapper.GetInputDataObject(0, 0)) >= len(chosen)
    if not picking and not any(a[0] == "key" and a[1] == "r" for a in actions):
        assert style.SelectedMapper.GetInputDataObject(0, 0) is None


ATTRIBUTES = st.sampled_from(["pickingEnabled", "SelectedMapper", "SelectedActor", "mbds"])
VALUES = st.one_of(JUNK, st.booleans(), st.just(np.array([True, False])),
                   st.sampled_from([vtk.vtkActor, vtk.vtkPolyDataMapper,
                                    vtk.vtkCompositePolyDataMapper2, vtk.vtkTable,
                                    vtk.vtkPolyData, vtk.vtkMultiBlockDataSet]).map(
                       lambda cls: cls()))


@given(multiblocks(), st.lists(st.tuples(ATTRIBUTES, VALUES), min_size=1, max_size=3),
       st.tuples(COORD, COORD), st.tuples(COORD, COORD), st.booleans())
def test_broken_attributes_then_pick(target, changes, start, end, direct):
    style = WINDOW.install(target)
    style.pickingEnabled = True
    for name, value in changes:
        setattr(style, name, value)
    WINDOW.interactor.SetEventInformation(start[0], start[1], 0, 0)
    WINDOW.interactor.InvokeEvent("LeftButtonPressEvent")
    WINDOW.interactor.SetEventInformation(end[0], end[1], 0, 0)
    if direct:  # raised to the caller
        run(style.OnLeftButtonUpEvent, style, "LeftButtonReleaseEvent")
    else:  # inside the event dispatch: printed, never raised or crashed
        assert run(WINDOW.interactor.InvokeEvent, "LeftButtonReleaseEvent")
    run(style.OnKeyPress, style, "KeyPressEvent")


PICKERS = st.sampled_from([vtk.vtkRenderedAreaPicker, vtk.vtkAreaPicker, vtk.vtkPointPicker,
                           vtk.vtkCellPicker, vtk.vtkPropPicker]).map(lambda cls: cls())


@given(st.one_of(multiblocks(), leaves(), JUNK), PICKERS, st.tuples(COORD, COORD),
       st.tuples(COORD, COORD))
def test_targets_and_pickers_of_any_kind(target, picker, start, end):
    style = WINDOW.install(None, picker)
    set_ok = run(style.SetTarget, target)
    if set_ok:
        assert style.mbds is target
    else:
        assert style.mbds is None
    style.pickingEnabled = True
    run(WINDOW.drag, start, end)
    run(style.OnLeftButtonUpEvent, style, "LeftButtonReleaseEvent")
    if not picker.IsA("vtkAreaPicker"):
        assert style.SelectedMapper.GetInputDataObject(0, 0) is None


@given(st.one_of(multiblocks(), leaves(), JUNK), JUNK, JUNK,
       st.sampled_from(["count", "init", "target", "key", "release", "foreign"]))
def test_junk_arguments(data, a, b, operation):
    if operation == "count":
        count = expect_success_or_error("clickmode", clickmode.selection_point_count, data)
        if count is not None:
            assert count >= 0
            if data is not None and data.IsA("vtkDataSet"):
                assert count == data.GetNumberOfPoints()
    elif operation == "init":
        style = expect_success_or_error("clickmode", clickmode.InteractorStyle, a)
        if style is not None:
            assert style.pickingEnabled is False and style.mbds is None
            run(style.__init__, b)
            assert style.HasObserver("KeyPressEvent")
    elif operation == "target":
        style = clickmode.InteractorStyle()
        run(style.SetTarget, a)
    elif operation == "key":
        style = clickmode.InteractorStyle()
        run(style.OnKeyPress, a, b)
        run(style.OnKeyPress, style, a, b)
    elif operation == "release":
        style = clickmode.InteractorStyle()
        style.pickingEnabled = True
        run(style.SetTarget, data)
        run(style.OnLeftButtonUpEvent, a, b)
        run(style.OnLeftButtonUpEvent, style, a)
    else:
        for method in ("OnKeyPress", "OnLeftButtonUpEvent", "SetTarget"):
            run(getattr(clickmode.InteractorStyle, method), a, b, b)
            run(getattr(clickmode.InteractorStyle, method), vtk.vtkInteractorStyleRubberBandPick(),
                None, None)
