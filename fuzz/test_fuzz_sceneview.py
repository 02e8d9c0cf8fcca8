"""sceneview driven with generated multiblocks, surfaces, point clouds and fields, intact and
broken, drawn off-screen (render_offscreen) and never in a blocking window loop."""
import math
import os
import tempfile

import numpy as np
import pytest
import vtk
from hypothesis import given, settings, strategies as st
from vtk.util import numpy_support as ns

import sceneview
from fuzzcase import expect_success_or_error

pytestmark = pytest.mark.timeout(600)
# The tests that build and draw pipelines run half the profile's examples (several cases each).
HALF = settings(max_examples=max(1, settings.default.max_examples // 2))
# The block-colour pipeline runs its filters when it is built: a quarter keeps the long profile's
# run of that test well inside the timeout on a busy machine.
QUARTER = settings(max_examples=max(1, settings.default.max_examples // 4))

FIELD = "Temperature"
PICTURE = os.path.join(tempfile.mkdtemp(prefix="fuzz_sceneview_"), "scene.png")
VALUES = st.one_of(st.floats(-1e30, 1e30), st.just(float("nan")), st.just(float("inf")),
                   st.just(-float("inf")))
JUNK = st.one_of(st.none(), st.just(float("nan")), st.text(max_size=3), st.integers(-2**70, 2**70),
                 st.just([]), st.just({}), st.just(object()), st.just(vtk.vtkObject()),
                 st.just(vtk.vtkTable()), st.just(vtk.vtkImageData()))


def text_array(data, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    data.GetFieldData().AddArray(array)


def numeric_array(name, values, dtype, components=1):
    array = ns.numpy_to_vtk(np.asarray(values, dtype).reshape(-1, components), deep=1)
    array.SetName(name)
    return array


@st.composite
def fields(draw, count):
    """Values for `count` tuples, sometimes with the wrong length or several components."""
    n = count
    if draw(st.integers(0, 9)) == 0:
        n = max(0, count + draw(st.sampled_from([-1, 1, 5])))
    components = draw(st.sampled_from([1, 1, 1, 3]))
    values = draw(st.lists(VALUES, min_size=n * components, max_size=n * components))
    dtype = draw(st.sampled_from([np.float32, np.float64, np.int32, np.uint8]))
    with np.errstate(all="ignore"):
        data = np.nan_to_num(values) if np.dtype(dtype).kind in "iu" else values
        data = np.clip(data, np.iinfo(dtype).min, np.iinfo(dtype).max) if np.dtype(
            dtype).kind in "iu" else data
    return data, dtype, components


@st.composite
def leaves(draw):
    """A dataset leaf: an unstructured grid of tetrahedra and hexahedra, a surface, a point
    cloud, an image, or something that is not a dataset at all."""
    kind = draw(st.sampled_from(["ugrid", "ugrid", "poly", "poly", "cloud", "image", "table",
                                 "empty"]))
    if kind == "table":
        return vtk.vtkTable()
    if kind == "image":
        image = vtk.vtkImageData()
        image.SetDimensions(*draw(st.tuples(*[st.integers(1, 3)] * 3)))
        data = image
    elif kind == "empty":
        data = draw(st.sampled_from([vtk.vtkPolyData, vtk.vtkUnstructuredGrid]))()
    else:
        n_points = draw(st.integers(1, 20))
        xyz = np.array(draw(st.lists(st.floats(-100, 100), min_size=3 * n_points,
                                     max_size=3 * n_points))).reshape(-1, 3)
        if draw(st.integers(0, 19)) == 0:
            xyz[draw(st.integers(0, n_points - 1))] = draw(VALUES)
        points = vtk.vtkPoints()
        points.SetData(ns.numpy_to_vtk(xyz, deep=1))
        index = st.integers(0, n_points - 1)
        if kind == "ugrid":
            data = vtk.vtkUnstructuredGrid()
            data.SetPoints(points)
            data.Allocate(1)
            for _ in range(draw(st.integers(0, 6))):
                cell, size = draw(st.sampled_from([(vtk.VTK_TETRA, 4), (vtk.VTK_HEXAHEDRON, 8),
                                                   (vtk.VTK_TRIANGLE, 3), (vtk.VTK_LINE, 2),
                                                   (vtk.VTK_VERTEX, 1)]))
                data.InsertNextCell(cell, size, draw(st.lists(index, min_size=size,
                                                               max_size=size)))
        else:
            data = vtk.vtkPolyData()
            data.SetPoints(points)
            if kind == "poly":
                polys = vtk.vtkCellArray()
                for _ in range(draw(st.integers(0, 6))):
                    size = draw(st.sampled_from([3, 3, 4]))
                    polys.InsertNextCell(size)
                    for i in draw(st.lists(index, min_size=size, max_size=size)):
                        polys.InsertCellPoint(i)
                data.SetPolys(polys)
    if draw(st.booleans()):
        values, dtype, components = draw(fields(data.GetNumberOfPoints()))
        data.GetPointData().AddArray(numeric_array(FIELD, values, dtype, components))
    if draw(st.booleans()):
        values, dtype, components = draw(fields(data.GetNumberOfCells()))
        data.GetCellData().AddArray(numeric_array(FIELD, values, dtype, components))
    if draw(st.integers(0, 3)) == 0:
        mask, dtype, components = draw(fields(data.GetNumberOfPoints()))
        data.GetPointData().AddArray(numeric_array("vtkValidPointMask", mask, dtype, components))
    color = draw(st.sampled_from(["rgb", "rgb", "none", "short", "long", "text", "rows"]))
    if color == "text":
        text_array(data, "color", "red")
    elif color != "none":
        values = {"rgb": [10, 200, 30], "short": [1, 2], "long": [1, 2, 3, 4],
                  "rows": [1, 2, 3, 4, 5, 6]}[color]
        data.GetFieldData().AddArray(numeric_array("color", values, np.uint8,
                                                   2 if color == "rows" else 1))
    if draw(st.booleans()):
        text_array(data, "Body pathName", draw(st.text(max_size=8)))
    return data


@st.composite
def multiblocks(draw, depth=0):
    """A multiblock of leaves, empty blocks and (up to two levels of) nested multiblocks."""
    mb = vtk.vtkMultiBlockDataSet()
    for i in range(draw(st.integers(0, 4))):
        what = draw(st.sampled_from(["leaf", "leaf", "leaf", "none", "nested"]))
        if what == "leaf":
            mb.SetBlock(i, draw(leaves()))
        elif what == "nested" and depth < 2:
            mb.SetBlock(i, draw(multiblocks(depth + 1)))
        else:
            mb.SetBlock(i, None)
    return mb


def finite_range(data, cell):
    """(min, max) of the finite first components of the field over all leaves, or None."""
    found, lo, hi = False, math.inf, -math.inf
    stack = [data]
    while stack:
        item = stack.pop()
        if item is None:
            continue
        if item.IsA("vtkMultiBlockDataSet"):
            stack.extend(item.GetBlock(i) for i in range(item.GetNumberOfBlocks()))
            continue
        if not item.IsA("vtkDataSet"):
            continue
        attributes = item.GetCellData() if cell else item.GetPointData()
        array = attributes.GetArray(FIELD)
        if array is None:
            continue
        found = True
        values = ns.vtk_to_numpy(array).reshape(-1)[::array.GetNumberOfComponents()]
        values = values[np.isfinite(values.astype(float))]
        if values.size:
            lo, hi = min(lo, float(values.min())), max(hi, float(values.max()))
    return found, (lo, hi) if lo <= hi else (None, None)


def succeeds(operation, *args):
    """True when the operation (which returns nothing) ran, False when it raised."""
    return expect_success_or_error("sceneview", lambda: operation(*args) or True) is not None


def draw_picture(view, width=48, height=32):
    path = expect_success_or_error("sceneview", view.render_offscreen, PICTURE, width, height)
    if path is not None:
        assert os.path.getsize(path) > 0
        reader = vtk.vtkPNGReader()
        reader.SetFileName(path)
        reader.Update()
        assert reader.GetOutput().GetDimensions()[:2] == (width, height)


# Drawing a picture opens an off-screen window (about a sixth of a second): one case in eight draws.
DRAW = st.integers(0, 7).map(lambda i: i == 0)
TOPOLOGY = st.one_of(st.sampled_from(["Point", "Cell", "Node", "", None]), JUNK)
NAME = st.one_of(st.sampled_from([FIELD, FIELD, "Pressure", "", None]), JUNK)


@HALF
@given(multiblocks(), TOPOLOGY, NAME, DRAW)
def test_multiblocks_display_and_draw(mb, topology, name, draw):
    view = sceneview.sceneview({"units": "K"})
    shown = succeeds(view.display_mesh, mb, topology, name)
    if draw:
        draw_picture(view)
    with_field = all(isinstance(v, str) and v for v in (topology, name))
    if shown and with_field:
        assert view.cdsa is not None and view.face_mapper.GetLookupTable() is view.lut
        assert view.face_mapper.GetArrayName() == name
    elif shown:
        assert view.face_actor_nofield.GetMapper() is view.face_mapper_nofield


@given(multiblocks(), st.sampled_from(["Point", "Cell", "Node", ""]), st.sampled_from([FIELD, "x"]))
def test_field_range_matches_the_finite_values(mb, topology, name):
    view = sceneview.sceneview(None)
    result = expect_success_or_error("sceneview", view.get_field_range, mb, topology, name)
    found, expected = finite_range(mb, topology == "Cell")
    if name != FIELD or not found:
        assert result is None, "a missing field must raise KeyError"
        return
    assert result is not None
    if expected == (None, None):
        assert result == (None, None)
    else:
        assert result[0] <= result[1]
        assert math.isclose(result[0], expected[0], rel_tol=1e-6, abs_tol=1e-30)
        assert math.isclose(result[1], expected[1], rel_tol=1e-6, abs_tol=1e-30)
    assert succeeds(view.build_lut, *(result if result != (None, None) else (0.0, 0.0)))


@HALF
@given(leaves(), TOPOLOGY, NAME, st.booleans(), DRAW)
def test_single_datasets_display_and_draw(leaf, topology, name, direct, draw):
    view = sceneview.sceneview({})
    if direct:
        expect_success_or_error("sceneview", view.build_polydata_pipeline, leaf, topology, name)
    else:
        expect_success_or_error("sceneview", view.display_mesh, leaf, topology, name)
    if draw:
        draw_picture(view)


@QUARTER
@given(multiblocks(), DRAW)
def test_block_colours(mb, draw):
    view = sceneview.sceneview({})
    attributes = expect_success_or_error(
        "sceneview", view.create_composite_data_set_attributes_from_block_colors, mb)
    if attributes is not None:
        assert attributes.IsA("vtkCompositeDataDisplayAttributes")
    if succeeds(view.build_mbds_pipeline_nofield, mb):
        assert view.face_mapper_nofield.GetCompositeDataDisplayAttributes() is not None
    if draw:
        draw_picture(view)


ATTRIBUTES = ["vertexFilter", "point_mapper", "point_actor", "face_poly_filter",
              "faces_normals_generator", "feature_edge_filter", "face_mapper",
              "feature_edge_mapper", "face_actor", "feature_edge_actor", "lut",
              "face_filter_nofield", "face_poly_filter_nofield", "faces_normals_generator_nofield",
              "feature_edge_filter_nofield", "face_mapper_nofield", "feature_edge_mapper_nofield",
              "face_actor_nofield", "feature_edge_actor_nofield", "scalar_bar_widget",
              "scalar_bar_actor", "triad_orientation_widget", "triad_actor", "imageActor",
              "background_image_data", "scene_renderer", "backgroundRenderer", "render_window",
              "render_window_interactor", "area_picker", "cdsa"]
REPLACEMENTS = st.one_of(JUNK, st.sampled_from([
    vtk.vtkActor, vtk.vtkPolyDataMapper, vtk.vtkDataSetMapper, vtk.vtkCompositePolyDataMapper2,
    vtk.vtkLookupTable, vtk.vtkRenderer, vtk.vtkImageData, vtk.vtkGeometryFilter,
    vtk.vtkCompositeDataDisplayAttributes]).map(lambda cls: cls()))


@HALF
@given(st.lists(st.tuples(st.sampled_from(ATTRIBUTES), REPLACEMENTS), max_size=3),
       st.sampled_from(["mesh", "field", "cloud", "none"]), DRAW)
def test_replaced_attributes_then_draw(replacements, shown, draw):
    view = sceneview.sceneview({"units": 5})
    for name, value in replacements:
        if succeeds(setattr, view, name, value):
            assert getattr(view, name) is value
        current = getattr(view, name)
        assert current is None or current.IsA("vtkObject")
    sphere = vtk.vtkSphereSource()
    sphere.Update()
    surface = sphere.GetOutput()
    surface.GetPointData().AddArray(numeric_array(FIELD, np.arange(surface.GetNumberOfPoints()),
                                                  np.float64))
    if shown in ("mesh", "field"):
        mb = vtk.vtkMultiBlockDataSet()
        mb.SetBlock(0, surface)
        args = (mb, "Point", FIELD) if shown == "field" else (mb,)
        expect_success_or_error("sceneview", view.display_mesh, *args)
    elif shown == "cloud":
        cloud = vtk.vtkPolyData()
        cloud.SetPoints(surface.GetPoints())
        cloud.GetPointData().AddArray(surface.GetPointData().GetArray(FIELD))
        expect_success_or_error("sceneview", view.display_mesh, cloud, "Point", FIELD)
    if draw:
        draw_picture(view)


def in_temporary_directory(name, directory=os.path.dirname(PICTURE)):
    """A text or bytes name joined to a temporary directory; anything else as it is."""
    if isinstance(name, str):
        return os.path.join(directory, name)
    if isinstance(name, bytes):
        return os.path.join(os.fsencode(directory), name)
    return name


@given(st.sampled_from(["config", "initialize_", "build_lut", "build_scalar_bar", "offscreen",
                        "png", "keypress", "export", "range", "pipelines"]),
       JUNK, JUNK, VALUES, VALUES, DRAW)
def test_junk_arguments(operation, a, b, x, y, draw):
    view = sceneview.sceneview({})
    if operation == "config":
        view = expect_success_or_error("sceneview", sceneview.sceneview, a)
        if view is not None:
            assert view.config is not None
    elif operation == "initialize_":
        expect_success_or_error("sceneview", view.initialize_, a, b)
    elif operation == "build_lut":
        if succeeds(view.build_lut, x, y):
            assert view.lut.GetTableRange() == (x, y)
        expect_success_or_error("sceneview", view.build_lut, a, b)
    elif operation == "build_scalar_bar":
        expect_success_or_error("sceneview", view.build_scalar_bar, a)
        if draw:
            draw_picture(view)
    elif operation == "offscreen":
        # A junk name that is text goes into the temporary directory, not the working directory.
        expect_success_or_error("sceneview", view.render_offscreen, in_temporary_directory(a),
                                16, 16)
        expect_success_or_error("sceneview", view.render_offscreen, PICTURE, a, b)
        if draw:  # sizes up to far beyond the limit (the picture itself stays small)
            big = int(min(abs(x), 1e9)) if math.isfinite(x) else 0
            expect_success_or_error("sceneview", view.render_offscreen, PICTURE, big or 1, 1)
    elif operation == "png":
        expect_success_or_error("sceneview", view.CreatePngFile, a)
        expect_success_or_error("sceneview", view.MyKeypress, a, b)
    elif operation == "keypress":
        interactor = vtk.vtkRenderWindowInteractor()
        interactor.SetKeySym("q" if a is None else str(a)[:2])
        expect_success_or_error("sceneview", view.MyKeypress, interactor, b)
    elif operation == "export":
        directory = tempfile.mkdtemp(prefix="fuzz_export_")
        name = expect_success_or_error("sceneview", sceneview.export_vtk_file, a,
                                       os.path.join(directory, "out"), bool(x == x))
        if name is not None:
            assert os.path.exists(name)
        expect_success_or_error("sceneview", sceneview.export_vtk_file, vtk.vtkPolyData(),
                                in_temporary_directory(a, directory))
    elif operation == "range":
        expect_success_or_error("sceneview", view.get_field_range, a, b, FIELD)
        expect_success_or_error("sceneview", view.get_field_range, vtk.vtkMultiBlockDataSet(),
                                "Point", a)
    else:
        for op in (view.build_mbds_pipeline_with_field, view.build_mbds_pipeline_nofield,
                   view.build_polydata_pipeline,
                   view.create_composite_data_set_attributes_from_block_colors):
            expect_success_or_error("sceneview", op, a)
        expect_success_or_error("sceneview", view.build_mbds_pipeline_with_field,
                                vtk.vtkMultiBlockDataSet(), a, b)
        if draw:
            draw_picture(view)
