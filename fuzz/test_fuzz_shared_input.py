"""Two kinds of broken input every module meets the same way: datasets whose cell arrays' offsets
do not fit their connectivity (each module that takes datasets, the viewer and the pick style
included), and text that UTF-8 cannot carry (every text argument). Offsets are refused with
ValueError before any VTK filter follows them; text gets the exception its operation documents."""
import os
import tempfile

import pytest
import vtk
from hypothesis import given, settings, strategies as st

import blockbook
import clickmode
import fieldferry
import fieldgraft
import gridforge
import sceneview
import skinfield
import treewalk
from fuzzcase import SURROGATE_TEXT, expect_success_or_error, record, with_bad_offsets

pytestmark = pytest.mark.timeout(600)
HALF = settings(max_examples=max(1, settings.default.max_examples // 2))


def body(kind, points=8, path="M/P/Body"):
    """A small polydata or unstructured grid with "Node ID", "Element ID", a point field and its
    path name, sound until the caller breaks it."""
    data = vtk.vtkPolyData() if kind == "poly" else vtk.vtkUnstructuredGrid()
    xyz = vtk.vtkPoints()
    for i in range(points):
        xyz.InsertNextPoint(i % 2, (i // 2) % 2, i // 4)
    data.SetPoints(xyz)
    cells = [[0, 1, 3, 2], [4, 5, 7, 6]]
    if kind == "poly":
        data.SetPolys(vtk.vtkCellArray())
        for c in cells:
            data.GetPolys().InsertNextCell(4, c)
    else:
        for c in cells:
            data.InsertNextCell(vtk.VTK_QUAD, 4, c)
    for attributes, name, count, array in (
            (data.GetPointData(), "Node ID", points, vtk.vtkUnsignedIntArray()),
            (data.GetCellData(), "Element ID", len(cells), vtk.vtkUnsignedIntArray()),
            (data.GetPointData(), "Temperature", points, vtk.vtkDoubleArray())):
        array.SetName(name)
        for i in range(count):
            array.InsertNextValue(i + 1)
        attributes.AddArray(array)
    tag = vtk.vtkStringArray()
    tag.SetName("Body pathName")
    tag.InsertNextValue(path)
    data.GetFieldData().AddArray(tag)
    return data


def multiblock(*leaves):
    root = vtk.vtkMultiBlockDataSet()
    for i, leaf in enumerate(leaves):
        root.SetBlock(i, leaf)
    return root


def must_refuse(module, operation, *args):
    """The broken offsets must be refused with ValueError; a crash, a success or another type
    fails the case."""
    with pytest.raises(ValueError, match="offsets|cell"):
        operation(*args)
    record(module, True)


class PickWindow:
    def __init__(self):
        self.renderer = vtk.vtkRenderer()
        self.window = vtk.vtkRenderWindow()
        self.window.SetOffScreenRendering(1)
        self.window.AddRenderer(self.renderer)
        self.interactor = vtk.vtkRenderWindowInteractor()
        self.interactor.SetRenderWindow(self.window)
        self.interactor.SetPicker(vtk.vtkRenderedAreaPicker())

    def pick(self, target):
        style = clickmode.InteractorStyle()
        style.SetTarget(target)
        style.SetDefaultRenderer(self.renderer)
        self.interactor.SetInteractorStyle(style)
        style.pickingEnabled = True
        style.OnLeftButtonUpEvent(style, "LeftButtonReleaseEvent")


PICK = PickWindow()

OFFSET_OPERATIONS = {
    "sceneview.display_mesh": ("sceneview", lambda d: sceneview.sceneview({}).display_mesh(
        multiblock(d), None, None)),
    "sceneview.display_mesh with field": ("sceneview", lambda d: sceneview.sceneview(
        {}).display_mesh(multiblock(d), "Point", "Temperature")),
    "sceneview.build_polydata_pipeline": ("sceneview", lambda d: sceneview.sceneview(
        {}).build_polydata_pipeline(d, "Point", "Temperature") if d.IsA("vtkPolyData")
        else sceneview.sceneview({}).display_mesh(multiblock(d))),
    "clickmode pick": ("clickmode", lambda d: PICK.pick(multiblock(d))),
    "fieldferry source": ("fieldferry", lambda d: fieldferry.
                          interpolate_scalar_field_using_point_interpolator(
                              "Temperature", d, body("poly"))),
    "fieldferry target": ("fieldferry", lambda d: fieldferry.
                          interpolate_scalar_field_using_probe_filter(
                              "Temperature", body("grid"), d)),
    "fieldgraft": ("fieldgraft", lambda d: fieldgraft.poly_from_ug_and_nodal_fem_data(
        d, {"node_ids": [1], "pressures": [1.0]}, "Pressure")),
    "skinfield": ("skinfield", lambda d: skinfield.poly_from_ug_and_nodal_data(
        d, {"identifier": [1], "scalar_name": "Pressure", "scalars": [1.0]})),
}


@HALF
@given(st.sampled_from(sorted(OFFSET_OPERATIONS)), st.sampled_from(["poly", "grid"]), st.data())
def test_cell_arrays_with_bad_offsets_are_refused(name, kind, data):
    module, operation = OFFSET_OPERATIONS[name]
    must_refuse(module, operation, with_bad_offsets(data.draw, body(kind)))


def documented(module, operation, *args, types):
    """The operation succeeds or raises one of `types`: the type its documentation names for
    such an argument."""
    try:
        result = operation(*args)
    except types:
        record(module, True)
        return None
    record(module, False)
    return result


TEXT_OPERATIONS = {
    # A file that cannot be named cannot be written: OSError.
    "sceneview.export_vtk_file": lambda t: documented(
        "sceneview", sceneview.export_vtk_file, body("poly"),
        os.path.join(tempfile.gettempdir(), t), types=OSError),
    "fieldferry.export_vtk_file": lambda t: documented(
        "fieldferry", fieldferry.export_vtk_file, body("poly"),
        os.path.join(tempfile.gettempdir(), t), types=OSError),
    "blockbook.save": lambda t: documented(
        "blockbook", blockbook.blockbook().save, os.path.join(tempfile.gettempdir(), t),
        types=OSError),
    # A name that names nothing: the missing array, body or option.
    "fieldferry field_name": lambda t: documented(
        "fieldferry", fieldferry.interpolate_scalar_field_using_probe_filter, t, body("grid"),
        body("poly"), types=KeyError),
    "fieldferry mapping_algorithm": lambda t: documented(
        "fieldferry", fieldferry.map_scalar_field_to_mesh, "Temperature", t, body("grid"),
        multiblock(body("poly")), False, None, types=ValueError),
    "sceneview field_name": lambda t: documented(
        "sceneview", sceneview.sceneview({}).display_mesh, multiblock(body("poly")), "Point", t,
        types=KeyError),
    "sceneview units": lambda t: documented(
        "sceneview", sceneview.sceneview({"units": t}).display_mesh, multiblock(body("poly")),
        "Point", "Temperature", types=()),
    "fieldgraft scalar_field_name": lambda t: documented(
        "fieldgraft", fieldgraft.poly_from_ug_and_nodal_fem_data, body("grid"),
        {"node_ids": [1], "pressures": [1.0]}, t, types=ValueError),
    "fieldgraft body path": lambda t: documented(
        "fieldgraft", fieldgraft.add_fem_field_to_mbds, multiblock(body("grid")),
        {t: {"identifier_type": "NODE_ID", "node_ids": [1], "pressures": [1.0]}}, "Pressure",
        types=KeyError),
    "blockbook names": lambda t: documented(
        "blockbook", lambda: blockbook.blockbook().create_part(vtk.vtkMultiBlockDataSet(), t),
        types=()),
    "gridforge geom_type": lambda t: documented(
        "gridforge", gridforge.gridforge().initialize_face_arrays, t, None,
        types=(ValueError, KeyError, AttributeError, TypeError)),
    "treewalk transfer_options": lambda t: documented(
        "treewalk", treewalk.process_part, None, vtk.vtkMultiBlockDataSet(), t,
        types=(AttributeError, TypeError, ValueError, NameError)),
}


@given(st.sampled_from(sorted(TEXT_OPERATIONS)), SURROGATE_TEXT.filter(lambda t: "/" not in t))
def test_text_utf8_cannot_carry_gets_the_documented_exception(name, text):
    TEXT_OPERATIONS[name](text)


@given(SURROGATE_TEXT)
def test_the_same_bad_argument_gets_the_same_message_form_everywhere(text):
    # A path argument of the wrong kind names the call and the parameter in every module.
    for module, operation in (("sceneview", sceneview.export_vtk_file),
                              ("fieldferry", fieldferry.export_vtk_file)):
        with pytest.raises(TypeError, match=f"{module}.export_vtk_file: filename must be a path"):
            operation(body("poly"), 3.5)
        record(module, True)
    expect_success_or_error("blockbook", blockbook.blockbook().set_model_units, text)
