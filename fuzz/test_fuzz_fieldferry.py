"""fieldferry driven with generated sources, targets and models, intact and broken.

Datasets stay small (a few dozen points) so that each case maps in milliseconds; a point-cloud
source with a tolerance builds a 256^3 distance volume, so that combination has its own test with
few examples."""
import numpy as np
import pytest
import vtk
from hypothesis import given, settings, strategies as st
from vtk.util import numpy_support as ns

import fieldferry
from fuzzcase import expect_success_or_error

pytestmark = pytest.mark.timeout(600)

M = "fieldferry"
METHODS = ["interpolate_scalar_field_using_point_interpolator",
           "interpolate_scalar_field_using_probe_filter",
           "interpolate_coarse_field_onto_fine_field",
           "interpolate_scalar_field_using_surface_projection",
           "interpolate_scalar_field_using_linear_fit",
           "interpolate_scalar_field_using_face_average"]
ALGORITHMS = ["Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection",
              "Linear fit", "Face average"]
# The methods that refuse a source without cells.
ON_CELLS = ("Surface projection", "Face average")
JUNK = st.one_of(st.none(), st.just(float("nan")), st.just(float("inf")), st.text(max_size=3),
                 st.integers(-2**70, 2**70), st.just([]), st.just([[1, 2], [3]]), st.just({}),
                 st.just(object()), st.builds(vtk.vtkTable), st.builds(vtk.vtkMultiBlockDataSet))
COORD = st.floats(-10.0, 10.0, allow_nan=False, width=32)


def add_text(data, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    data.GetFieldData().AddArray(array)


def add_point_array(data, name, values, dtype=np.float64):
    array = ns.numpy_to_vtk(np.ascontiguousarray(values, dtype=dtype), deep=1)
    array.SetName(name)
    data.GetPointData().AddArray(array)


@st.composite
def point_sets(draw, min_points=1, max_points=12):
    """A small vtkPolyData (cloud, triangles or quads) or vtkUnstructuredGrid (tetrahedra)."""
    n = draw(st.integers(min_points, max_points))
    xyz = np.array(draw(st.lists(st.tuples(COORD, COORD, COORD), min_size=n, max_size=n)),
                   dtype=float).reshape(-1, 3)
    kind = draw(st.sampled_from(["cloud", "polys", "ugrid"]))
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(xyz), deep=1))
    if kind == "ugrid" and n >= 4:
        data = vtk.vtkUnstructuredGrid()
        data.SetPoints(points)
        for _ in range(draw(st.integers(0, 3))):
            ids = draw(st.lists(st.integers(0, n - 1), min_size=4, max_size=4, unique=True))
            data.InsertNextCell(vtk.VTK_TETRA, 4, ids)
        return data
    data = vtk.vtkPolyData()
    data.SetPoints(points)
    if kind == "polys" and n >= 3:
        cells = vtk.vtkCellArray()
        for _ in range(draw(st.integers(0, 4))):
            size = draw(st.sampled_from([3, 4])) if n >= 4 else 3
            cells.InsertNextCell(size, draw(st.lists(st.integers(0, n - 1), min_size=size,
                                                     max_size=size, unique=True)))
        data.SetPolys(cells)
    return data


@st.composite
def sources(draw, field="Pressure", length="m", min_points=1):
    data = draw(point_sets(min_points=min_points))
    n = data.GetNumberOfPoints()
    values = draw(st.lists(st.floats(-1e6, 1e6), min_size=n, max_size=n))
    add_point_array(data, field, values, draw(st.sampled_from([np.float32, np.float64])))
    add_text(data, "current_units_length", length)
    add_text(data, "units_pressure", "Pa")
    add_text(data, "units_temperature", "K")
    return data


def image(dims, origin=(0.0, 0.0, 0.0), spacing=(0.5, 0.5, 0.5), scalars=True):
    data = vtk.vtkImageData()
    data.SetDimensions(*dims)
    data.SetOrigin(*origin)
    data.SetSpacing(*spacing)
    if scalars:
        n = dims[0] * dims[1] * dims[2]
        add_point_array(data, "ImageScalars", np.linspace(0.0, 1.0, n))
    return data


def check_mapped(out, target, field):
    n = target.GetNumberOfPoints()
    assert out.GetNumberOfPoints() == n
    assert out.GetPointData().GetArray(field).GetNumberOfTuples() == n
    mask = out.GetPointData().GetArray("vtkValidPointMask")
    assert mask.GetNumberOfTuples() == n
    assert set(ns.vtk_to_numpy(mask).tolist()) <= {0, 1}


# ---- the interpolation methods ----------------------------------------------------------------

@given(sources(), point_sets(min_points=0), st.sampled_from(METHODS), st.sampled_from(["Pressure", "Temperature"]))
def test_interpolation_of_well_formed_inputs(source, target, method, field):
    if field == "Temperature":
        source.GetPointData().GetArray("Pressure").SetName("Temperature")
    operation = getattr(fieldferry, method)
    out = expect_success_or_error(M, operation, field, source, target)
    if method.endswith(("surface_projection", "face_average")) and not source.GetNumberOfCells():
        assert out is None, "projection and face average refuse a source without cells"
        return
    if method.endswith("face_average") and not target.IsA("vtkPolyData"):
        assert out is None, "face average refuses a target that is no surface"
        return
    assert out is not None, "a finite, non-empty source maps onto any finite target"
    check_mapped(out, target, field)
    if method.endswith("point_interpolator") and target.GetNumberOfPoints():
        assert set(ns.vtk_to_numpy(out.GetPointData().GetArray("vtkValidPointMask"))) == {1}


@st.composite
def broken_interpolation_cases(draw):
    source = draw(sources())
    target = draw(point_sets(min_points=0))
    field = "Pressure"
    what = draw(st.sampled_from(["field_name", "from_mesh", "to_mesh", "missing_field",
                                 "string_field", "short_field", "vector_field", "nan_source",
                                 "nan_target", "empty_source", "image_source", "image_target",
                                 "short_target_array", "radius", "nan_values"]))
    kwargs = {}
    if what == "field_name":
        field = draw(JUNK)
    elif what == "from_mesh":
        source = draw(JUNK)
    elif what == "to_mesh":
        target = draw(JUNK)
    elif what == "missing_field":
        field = "Temperature"
    elif what == "string_field":
        source.GetPointData().RemoveArray("Pressure")
        text = vtk.vtkStringArray()
        text.SetName("Pressure")
        for _ in range(source.GetNumberOfPoints()):
            text.InsertNextValue("x")
        source.GetPointData().AddArray(text)
    elif what == "short_field":
        array = source.GetPointData().GetArray("Pressure")
        array.SetNumberOfTuples(draw(st.integers(0, max(0, array.GetNumberOfTuples() - 1))))
    elif what == "vector_field":
        source.GetPointData().RemoveArray("Pressure")
        add_point_array(source, "Pressure", np.ones((source.GetNumberOfPoints(), 3)))
    elif what == "nan_source":
        source.GetPoints().SetPoint(draw(st.integers(0, source.GetNumberOfPoints() - 1)),
                                    draw(st.sampled_from([float("nan"), float("inf")])), 0, 0)
    elif what == "nan_target" and target.GetNumberOfPoints():
        target.GetPoints().SetPoint(0, 0, float("nan"), 0)
    elif what == "empty_source":
        source = vtk.vtkPolyData()
        add_point_array(source, "Pressure", [])
    elif what == "image_source":
        source = image(draw(st.tuples(*[st.integers(0, 3)] * 3)))
        if source.GetNumberOfPoints():
            add_point_array(source, "Pressure", np.arange(source.GetNumberOfPoints()))
    elif what == "image_target":
        target = image(draw(st.tuples(*[st.integers(0, 3)] * 3)),
                       spacing=draw(st.sampled_from([(0.5, 0.5, 0.5), (0, 0, 0), (-1, 1, 1)])))
    elif what == "short_target_array":
        add_point_array(target, "Node ID", np.arange(max(0, target.GetNumberOfPoints() - 1)))
        cells = target.GetNumberOfCells()
        array = ns.numpy_to_vtk(np.arange(cells + draw(st.integers(-1, 1)) if cells else 0,
                                          dtype=np.int64), deep=1)
        array.SetName("Element ID")
        target.GetCellData().AddArray(array)
    elif what == "radius":
        kwargs["radius"] = draw(st.one_of(st.floats(), st.just(1e-300), st.just(1e300), JUNK))
    else:
        array = source.GetPointData().GetArray("Pressure")
        array.SetValue(0, draw(st.sampled_from([float("nan"), float("inf")])))
    method = draw(st.sampled_from(METHODS))
    if "radius" in kwargs:
        method = METHODS[2]
    return method, field, source, target, kwargs


@given(broken_interpolation_cases())
def test_interpolation_of_broken_inputs(case):
    method, field, source, target, kwargs = case
    out = expect_success_or_error(M, getattr(fieldferry, method), field, source, target, **kwargs)
    if out is not None:
        check_mapped(out, target, field)


# ---- distances -----------------------------------------------------------------------------------

@st.composite
def distance_cases(draw):
    target = draw(point_sets(min_points=0))
    kind = draw(st.sampled_from(["cells", "volume", "volume", "bare_volume", "junk", "has_distance",
                                 "empty", "nan"]))
    source = draw(point_sets())
    if kind == "volume":
        source = image(draw(st.tuples(*[st.integers(1, 4)] * 3)),
                       origin=draw(st.tuples(COORD, COORD, COORD)))
        if draw(st.booleans()):  # short or string scalars
            source.GetPointData().RemoveArray("ImageScalars")
            text = vtk.vtkStringArray() if draw(st.booleans()) else vtk.vtkDoubleArray()
            text.SetName("ImageScalars")
            text.SetNumberOfValues(draw(st.integers(0, 2)))
            source.GetPointData().AddArray(text)
    elif kind == "bare_volume":
        source = image(draw(st.tuples(*[st.integers(0, 3)] * 3)), scalars=False)
    elif kind == "junk":
        source = draw(JUNK)
    elif kind == "has_distance":
        add_point_array(target, "Distance", np.zeros(target.GetNumberOfPoints()))
    elif kind == "empty":
        source = vtk.vtkPolyData()
    elif kind == "nan":
        source.GetPoints().SetPoint(0, float("nan"), 0, 0)
    location = draw(st.one_of(st.sampled_from(["Point", "Cell"]), JUNK))
    return target, source, location


@given(distance_cases())
def test_distance_fields(case):
    target, source, location = case
    out = expect_success_or_error(M, fieldferry.generate_distance_field, target, source, location)
    if out is not None:
        assert out.GetNumberOfPoints() == target.GetNumberOfPoints()
        distance = out.GetPointData().GetArray("Distance")
        assert distance.GetNumberOfTuples() == target.GetNumberOfPoints()
        values = ns.vtk_to_numpy(distance)
        assert not np.any(values < 0)
        cell_distance = out.GetCellData().GetArray("Distance")
        if cell_distance is not None:
            assert cell_distance.GetNumberOfTuples() == out.GetNumberOfCells()


# ---- the whole mapping ---------------------------------------------------------------------------

@st.composite
def models(draw, unit="m"):
    """A model multiblock of small bodies, leaves nested at random depths with empty blocks."""
    root = vtk.vtkMultiBlockDataSet()
    add_text(root, "unit_system_label", f"{unit}-kg-s-N-K")
    bodies = []
    for b in range(draw(st.integers(0, 3))):
        leaf = draw(point_sets(min_points=1, max_points=8))
        add_text(leaf, "Body pathName", f"Model/Part/Body {b}")
        add_text(leaf, "mesh_type", draw(st.sampled_from(["surface", "tetra", "hexa", "point"])))
        add_point_array(leaf, "Node ID", np.arange(leaf.GetNumberOfPoints()), np.int64)
        ids = ns.numpy_to_vtk(np.arange(leaf.GetNumberOfCells(), dtype=np.int64), deep=1)
        ids.SetName("Element ID")
        leaf.GetCellData().AddArray(ids)
        parent = root
        for _ in range(draw(st.integers(0, 2))):
            child = vtk.vtkMultiBlockDataSet()
            parent.SetBlock(parent.GetNumberOfBlocks(), child)
            parent = child
        if draw(st.booleans()):
            parent.SetBlock(parent.GetNumberOfBlocks(), None)
        parent.SetBlock(parent.GetNumberOfBlocks(), leaf)
        bodies.append(f"Model/Part/Body {b}")
    return root, bodies


def leaves_of(root):
    it = root.NewIterator()
    it.VisitOnlyLeavesOn()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    out = []
    while not it.IsDoneWithTraversal():
        out.append(it.GetCurrentDataObject())
        it.GoToNextItem()
    return out


def check_model(model, bodies, field):
    leaves = leaves_of(model)
    assert len(leaves) == len(bodies)
    counts = fieldferry.last_unmapped_counts
    assert sorted(counts) == sorted(bodies)
    for leaf in leaves:
        n = leaf.GetNumberOfPoints()
        assert leaf.GetPointData().GetArray(field).GetNumberOfTuples() == n
        mask = ns.vtk_to_numpy(leaf.GetPointData().GetArray("vtkValidPointMask"))
        body = leaf.GetFieldData().GetAbstractArray("Body pathName").GetValue(0)
        assert counts[body] == int(np.sum(mask == 0))


@given(st.sampled_from(["m", "mm"]), st.sampled_from(["m", "mm"]), st.data())
def test_mapping_well_formed_models(source_unit, model_unit, data):
    field = data.draw(st.sampled_from(["Pressure", "Temperature", "Stress"]))
    source = data.draw(sources(field=field, length=source_unit, min_points=3))
    if source.GetNumberOfCells() == 0 and not source.IsA("vtkPolyData"):
        return
    with_cells = source.GetNumberOfCells() > 0
    tolerance = data.draw(st.sampled_from([None, 0.5])) if with_cells else None
    if source_unit != model_unit and not source.IsA("vtkPolyData"):
        # only polydata can be scaled; the refusal is a broken case below
        source.GetFieldData().RemoveArray("current_units_length")
        add_text(source, "current_units_length", model_unit)
    model, bodies = data.draw(models(model_unit))
    algorithm = data.draw(st.sampled_from(ALGORITHMS))
    if algorithm in ON_CELLS and not with_cells:
        algorithm = "Linear fit"  # the refusal of a cloud is tested with the methods
    boundary_only = data.draw(st.booleans())
    if algorithm == "Face average" and field != "Pressure":
        boundary_only = True  # onto every node it is refused, a broken case below
    fieldferry.diagnostics_dir = None
    out = expect_success_or_error(M, fieldferry.map_scalar_field_to_mesh, field, algorithm, source,
                                  model, boundary_only, tolerance)
    assert out is model, "a well-formed mapping succeeds and hands back the model"
    check_model(model, bodies, field)
    if tolerance is not None:
        for leaf in leaves_of(model):
            assert leaf.GetPointData().GetArray("Distance") is not None


@st.composite
def broken_mapping_cases(draw):
    field = "Pressure"
    source = draw(sources(min_points=3))
    model, bodies = draw(models())
    algorithm = draw(st.sampled_from(ALGORITHMS))
    boundary_only = draw(st.booleans())
    tolerance = None
    what = draw(st.sampled_from(["field_name", "algorithm", "source", "model", "no_length",
                                 "bad_length", "no_system", "system", "no_units", "leaf_kind",
                                 "empty_leaf", "nan_leaf", "short_leaf_array", "boundary_only",
                                 "tolerance", "image_source", "unit_scaled_ugrid", "leaf_image",
                                 "diagnostics_dir"]))
    if what == "field_name":
        field = draw(JUNK)
    elif what == "algorithm":
        algorithm = draw(st.one_of(JUNK, st.sampled_from(["mesh only", ""])))
    elif what == "source":
        source = draw(JUNK)
    elif what == "model":
        model = draw(st.one_of(JUNK, point_sets()))
    elif what == "no_length":
        source.GetFieldData().RemoveArray("current_units_length")
    elif what == "bad_length":
        source.GetFieldData().RemoveArray("current_units_length")
        add_text(source, "current_units_length", draw(st.sampled_from(["", "parsec", "mm", "-"])))
    elif what == "no_system":
        model.GetFieldData().RemoveArray("unit_system_label")
    elif what == "system":
        model.GetFieldData().RemoveArray("unit_system_label")
        add_text(model, "unit_system_label", draw(st.sampled_from(["", "-", "mm", "x-y", "km-kg"])))
    elif what == "no_units":
        source.GetFieldData().RemoveArray("units_pressure")
    elif what == "leaf_kind":
        model.SetBlock(model.GetNumberOfBlocks(), draw(st.sampled_from([vtk.vtkTable, vtk.vtkSelection]))())
    elif what == "empty_leaf":
        model.SetBlock(model.GetNumberOfBlocks(), draw(st.sampled_from([vtk.vtkPolyData, vtk.vtkUnstructuredGrid]))())
    elif what == "nan_leaf":
        leaves = leaves_of(model)
        if leaves:
            leaves[0].GetPoints().SetPoint(0, float("inf"), 0, 0)
    elif what == "short_leaf_array":
        leaves = leaves_of(model)
        if leaves:
            array = leaves[0].GetPointData().GetArray("Node ID")
            array.SetNumberOfTuples(max(0, array.GetNumberOfTuples() - 1))
    elif what == "boundary_only":
        boundary_only = draw(JUNK.filter(lambda v: not isinstance(v, (vtk.vtkObject,))))
    elif what == "tolerance":
        tolerance = draw(st.one_of(st.floats(), JUNK))
        if source.GetNumberOfCells() == 0:
            tolerance = None  # the cloud + tolerance case is its own small test
    elif what == "image_source":
        source = image(draw(st.tuples(*[st.integers(1, 3)] * 3)))
        add_point_array(source, "Pressure", np.arange(source.GetNumberOfPoints()))
        add_text(source, "current_units_length", draw(st.sampled_from(["m", "mm"])))
        add_text(source, "units_pressure", "Pa")
        tolerance = draw(st.sampled_from([None, 1.0]))
    elif what == "unit_scaled_ugrid":
        grid = vtk.vtkUnstructuredGrid()
        grid.SetPoints(source.GetPoints())
        grid.GetPointData().ShallowCopy(source.GetPointData())
        grid.GetFieldData().ShallowCopy(source.GetFieldData())
        grid.GetFieldData().RemoveArray("current_units_length")
        add_text(grid, "current_units_length", "mm")
        source = grid
    elif what == "leaf_image":
        leaf = image(draw(st.tuples(*[st.integers(0, 3)] * 3)), scalars=False)
        add_text(leaf, "Body pathName", "Model/Part/Volume")
        model.SetBlock(model.GetNumberOfBlocks(), leaf)
    else:
        tolerance = 0.5 if source.GetNumberOfCells() else None
        fieldferry.diagnostics_dir = draw(st.one_of(JUNK, st.just("/nonexistent/folder/")))
    return field, algorithm, source, model, boundary_only, tolerance


@given(broken_mapping_cases())
def test_mapping_broken_inputs(case):
    fieldferry.diagnostics_dir = None
    try:
        out = expect_success_or_error(M, fieldferry.map_scalar_field_to_mesh, *case)
    finally:
        fieldferry.diagnostics_dir = None
    if out is not None:
        assert out is case[3]
        for leaf in leaves_of(out):
            assert leaf.GetPointData().GetArray(case[0]).GetNumberOfTuples() == leaf.GetNumberOfPoints()


@settings(max_examples=4)
@given(sources(min_points=1), st.sampled_from([a for a in ALGORITHMS if a not in ON_CELLS]))
def test_mapping_a_point_cloud_with_tolerance(source, algorithm):
    if source.GetNumberOfCells():
        return
    root = vtk.vtkMultiBlockDataSet()
    add_text(root, "unit_system_label", "m-kg-s-N-K")
    leaf = vtk.vtkPolyData()
    pts = vtk.vtkPoints()
    for p in ((0, 0, 0), (1, 0, 0), (0, 1, 0)):
        pts.InsertNextPoint(p)
    leaf.SetPoints(pts)
    tri = vtk.vtkCellArray()
    tri.InsertNextCell(3, [0, 1, 2])
    leaf.SetPolys(tri)
    add_text(leaf, "Body pathName", "Model/Part/Tri")
    root.SetBlock(0, leaf)
    fieldferry.diagnostics_dir = None
    out = expect_success_or_error(M, fieldferry.map_scalar_field_to_mesh, "Pressure", algorithm,
                                  source, root, True, 0.1)
    assert out is root
    check_model(root, ["Model/Part/Tri"], "Pressure")


# ---- export --------------------------------------------------------------------------------------

@given(st.one_of(point_sets(min_points=0), st.builds(vtk.vtkMultiBlockDataSet),
                 st.builds(vtk.vtkTable), st.just(image((2, 2, 2))), JUNK),
       st.one_of(st.sampled_from(["out", "sub/dir/out", "", "nowhere/x/out"]), JUNK),
       st.one_of(st.booleans(), JUNK))
def test_export_any_dataset(tmp_path_factory, dataset, name, binary):
    folder = tmp_path_factory.getbasetemp() / "ferry_export"
    folder.mkdir(exist_ok=True)
    filename = str(folder / name) if isinstance(name, str) else name
    expect_success_or_error(M, fieldferry.export_vtk_file, dataset, filename, binary)
