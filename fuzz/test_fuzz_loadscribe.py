"""loadscribe driven with generated mapped multiblocks, host meshes and builder arguments, intact
and broken."""
import ast

import numpy as np
import pytest
import vtk
from hypothesis import given, strategies as st
from vtk.util import numpy_support as ns

import kelm
import loadscribe
from fuzzcase import expect_success_or_error, with_bad_offsets

pytestmark = pytest.mark.timeout(600)

M = "loadscribe"
TABLES = (dict(loadscribe.pressure_unit_to_unit_system),
          dict(loadscribe.temperature_unit_to_unit_system))
T = kelm.mesh.ElementTopology
MAX_ID = 2**32 - 1
JUNK = st.one_of(st.none(), st.just(float("nan")), st.just(float("inf")), st.text(max_size=3),
                 st.integers(-2**70, 2**70), st.just([]), st.just([[1, 2], [3]]), st.just({}),
                 st.just(object()), st.builds(vtk.vtkTable), st.builds(vtk.vtkPolyData))
TETRA_FACES = [(0, 2, 1), (0, 1, 3), (1, 2, 3), (2, 0, 3)]
HEXA_FACES = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)]


def add_text(data, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    data.GetFieldData().AddArray(array)


def add_array(attributes, name, values, dtype):
    array = ns.numpy_to_vtk(np.ascontiguousarray(values, dtype=dtype), deep=1)
    array.SetName(name)
    attributes.AddArray(array)


@st.composite
def bodies(draw, index, solid=None):
    """A host body with its mapped surface: (path, host args, polygons as rows of point positions,
    element ID per polygon, node IDs per point, mesh_type)."""
    solid = draw(st.booleans()) if solid is None else solid
    ids = draw(st.lists(st.integers(0, MAX_ID), min_size=40, max_size=40, unique=True))
    if solid:
        topology = draw(st.sampled_from([T.Tetra4, T.Hexa8]))
        width = 4 if topology == T.Tetra4 else 8
        count = draw(st.integers(1, 3))
        n_nodes = width * count
        node_ids = ids[:n_nodes]
        element_ids = ids[n_nodes:n_nodes + count]
        connectivity = np.arange(n_nodes).reshape(count, width)
        faces = TETRA_FACES if width == 4 else HEXA_FACES
        polygons, polygon_elements = [], []
        for e in range(count):
            for f in draw(st.lists(st.integers(0, len(faces) - 1), max_size=3, unique=True)):
                row = [int(connectivity[e][k]) for k in faces[f]]
                shift = draw(st.integers(0, len(row) - 1))
                polygons.append(row[shift:] + row[:shift])
                polygon_elements.append(element_ids[e])
        elements = {topology: (element_ids, connectivity)}
        mesh_type = "tetra" if width == 4 else "hexa"
    else:
        n_nodes = draw(st.integers(4, 12))
        node_ids = ids[:n_nodes]
        polygons = []
        for _ in range(draw(st.integers(0, 6))):
            size = draw(st.sampled_from([3, 4]))
            polygons.append(draw(st.lists(st.integers(0, n_nodes - 1), min_size=size,
                                          max_size=size, unique=True)))
        tria = [p for p in polygons if len(p) == 3]
        quad = [p for p in polygons if len(p) == 4]
        pool = [i for i in ids if i not in node_ids]
        element_ids = pool[:len(polygons)]
        polygon_elements = element_ids
        elements = {}
        if tria:
            elements[T.Tria3] = (element_ids[:len(tria)], np.array(tria).reshape(-1, 3))
        if quad:
            elements[T.Quad4] = (element_ids[len(tria):], np.array(quad).reshape(-1, 4))
        polygons = tria + quad
        mesh_type = "surface"
    path = f"Model/P/Body {index}"
    return path, (node_ids, elements), polygons, polygon_elements, node_ids, mesh_type


def host_model(entries):
    kelm.reset()
    model = kelm.Model("Model")
    part = model.add_part("P")
    for path, (node_ids, elements), *_ in entries:
        coords = np.zeros((len(node_ids), 3))
        coords[:, 0] = np.arange(len(node_ids))
        part.add_mesh(path.split("/")[-1], node_ids, coords, elements)
    return model


def mapped_leaf(entry, field, unit_array, unit, values, distance=None, extra_lines=0):
    path, _, polygons, polygon_elements, node_ids, mesh_type = entry
    poly = vtk.vtkPolyData()
    xyz = np.zeros((len(node_ids), 3))
    xyz[:, 0] = np.arange(len(node_ids))
    poly.SetPoints(vtk.vtkPoints())
    poly.GetPoints().SetData(ns.numpy_to_vtk(xyz, deep=1))
    lines = vtk.vtkCellArray()
    for _ in range(extra_lines):
        lines.InsertNextCell(2, [0, 1])
    poly.SetLines(lines)
    cells = vtk.vtkCellArray()
    for row in polygons:
        cells.InsertNextCell(len(row), row)
    poly.SetPolys(cells)
    add_array(poly.GetPointData(), "Node ID", node_ids, np.uint32)
    add_array(poly.GetPointData(), field, values, np.float32)
    if distance is not None:
        add_array(poly.GetPointData(), "Distance", distance, np.float64)
    add_array(poly.GetCellData(), "Element ID", [0] * extra_lines + list(polygon_elements),
              np.uint32)
    add_text(poly, "Body pathName", path)
    add_text(poly, "mesh_type", mesh_type)
    add_text(poly, unit_array, unit)
    return poly


def multiblock(leaves, nest):
    root = vtk.vtkMultiBlockDataSet()
    parent = root
    for _ in range(nest):
        child = vtk.vtkMultiBlockDataSet()
        parent.SetBlock(parent.GetNumberOfBlocks(), None)
        parent.SetBlock(parent.GetNumberOfBlocks(), child)
        parent = child
    for leaf in leaves:
        parent.SetBlock(parent.GetNumberOfBlocks(), leaf)
    return root


@st.composite
def load_cases(draw, field):
    entries = [draw(bodies(i, solid=False if field == "Temperature" else None))
               for i in range(draw(st.integers(1, 3)))]
    unit_array = "units_pressure" if field == "Pressure" else "units_temperature"
    unit = draw(st.sampled_from(["Pa", "MPa", "kPa"] if field == "Pressure" else ["K", "C", "F"]))
    with_tolerance = draw(st.booleans())
    leaves = []
    for entry in entries:
        n = len(entry[4])
        values = draw(st.lists(st.floats(-1e6, 1e6, width=32), min_size=n, max_size=n))
        distance = draw(st.lists(st.floats(0, 2), min_size=n, max_size=n)) if with_tolerance else None
        leaves.append(mapped_leaf(entry, field, unit_array, unit, values, distance,
                                  extra_lines=draw(st.integers(0, 2))))
    tolerance = draw(st.floats(0, 3)) if with_tolerance else None
    return entries, multiblock(leaves, draw(st.integers(0, 2))), tolerance


def run_recorded(text):
    ast.parse(text)


@given(load_cases("Pressure"), st.booleans())
def test_pressure_loads_of_well_formed_mappings(case, record):
    entries, mapped, tolerance = case
    host_model(entries)
    loadscribe.macro = "" if record else None
    try:
        result = expect_success_or_error(M, loadscribe.create_kelm_load_from_vtk_field, mapped,
                                         "Pressure", tolerance)
    finally:
        text, loadscribe.macro = loadscribe.macro, None
    created = [c.function for c in kelm.environment.created]
    assert result is None and created == ["createPressurePropertyStaticVariable",
                                          "createLoadPressure"], "a well-formed mapping loads"
    values = kelm.environment.created[0].kwargs["pressureValues"]
    assert sorted(values) == sorted(e[0] for e in entries)
    for entry in entries:
        field = values[entry[0]]
        assert len(field["element_ids"]) == len(field["face_identifiers"]) == len(field["pressures"])
        if tolerance is None:
            assert sorted(field["element_ids"]) == sorted(entry[3])
        for face, pressures in zip(field["face_identifiers"], field["pressures"]):
            assert len(face) == len(pressures) and set(face) <= set(entry[4])
    if record:
        run_recorded(text)


@given(load_cases("Temperature"), st.booleans())
def test_temperature_loads_of_well_formed_mappings(case, record):
    entries, mapped, tolerance = case
    host_model(entries)
    loadscribe.macro = "" if record else None
    try:
        expect_success_or_error(M, loadscribe.create_kelm_load_from_vtk_field, mapped,
                                "Temperature", tolerance)
    finally:
        text, loadscribe.macro = loadscribe.macro, None
    created = kelm.environment.created
    assert [c.function for c in created] == ["createTemperaturePropertyStaticVariable",
                                             "createLoadTemperature"]
    values = created[0].kwargs["temperatureValues"]
    for entry in entries:
        field = values[entry[0]]
        assert len(field["node_ids"]) == len(field["temperatures"])
        if tolerance is None:
            assert field["node_ids"] == list(entry[4])
        assert set(field["node_ids"]) <= set(entry[4])
    if record:
        run_recorded(text)


@st.composite
def broken_load_cases(draw):
    field = draw(st.sampled_from(["Pressure", "Temperature"]))
    entries, mapped, tolerance = draw(load_cases(field))
    it = mapped.NewIterator()
    it.VisitOnlyLeavesOn()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    leaf = it.GetCurrentDataObject()
    n = leaf.GetNumberOfPoints()
    what = draw(st.sampled_from(["mesh", "field_name", "tolerance", "macro", "drop_point_array",
                                 "drop_cell_array", "drop_text", "short_array", "long_array",
                                 "string_array", "vector_array", "nan_value", "negative_id",
                                 "huge_id", "fraction_id", "unknown_unit", "unit_table",
                                 "unknown_path", "not_polydata", "empty", "wrong_leaf",
                                 "bad_polygon", "foreign_element", "short_distance",
                                 "string_distance", "nan_distance", "no_host", "bad_offsets"]))
    mesh, macro = mapped, None
    if what == "mesh":
        mesh = draw(JUNK)
    elif what == "field_name":
        field = draw(st.one_of(JUNK, st.sampled_from(["pressure", "Stress", ""])))
    elif what == "tolerance":
        tolerance = draw(st.one_of(st.floats(), JUNK, st.just(np.float32(1)), st.just(True)))
    elif what == "macro":
        macro = draw(JUNK.filter(lambda v: v is not None))
    elif what == "drop_point_array":
        leaf.GetPointData().RemoveArray(draw(st.sampled_from(["Node ID", field, "Distance"])))
    elif what == "drop_cell_array":
        leaf.GetCellData().RemoveArray("Element ID")
    elif what == "drop_text":
        leaf.GetFieldData().RemoveArray(draw(st.sampled_from(
            ["Body pathName", "mesh_type", "units_pressure", "units_temperature"])))
    elif what in ("short_array", "long_array"):
        name = draw(st.sampled_from(["Node ID", field, "Distance", "Element ID"]))
        attributes = leaf.GetCellData() if name == "Element ID" else leaf.GetPointData()
        array = attributes.GetArray(name)
        if array is not None:
            count = array.GetNumberOfTuples()
            array.Resize(count + 2)
            array.SetNumberOfTuples(max(0, count - 1) if what == "short_array" else count + 2)
    elif what in ("string_array", "vector_array", "string_distance"):
        name = "Distance" if what == "string_distance" else draw(st.sampled_from(["Node ID", field]))
        leaf.GetPointData().RemoveArray(name)
        if what == "vector_array":
            add_array(leaf.GetPointData(), name, np.ones((n, 2)), np.float64)
        else:
            text = vtk.vtkStringArray()
            text.SetName(name)
            text.SetNumberOfValues(n)
            leaf.GetPointData().AddArray(text)
    elif what == "nan_value":
        leaf.GetPointData().GetArray(field).SetValue(draw(st.integers(0, n - 1)),
                                                     draw(st.sampled_from([np.nan, np.inf, -np.inf])))
    elif what in ("negative_id", "huge_id", "fraction_id"):
        leaf.GetPointData().RemoveArray("Node ID")
        ids = np.array(entries[0][4], dtype=np.float64)
        ids[draw(st.integers(0, n - 1))] = {"negative_id": -1, "huge_id": 2.0**40,
                                             "fraction_id": 0.5}[what]
        add_array(leaf.GetPointData(), "Node ID", ids, np.float64)
    elif what == "unknown_unit":
        for name in ("units_pressure", "units_temperature"):
            if leaf.GetFieldData().GetAbstractArray(name) is not None:
                leaf.GetFieldData().RemoveArray(name)
                add_text(leaf, name, draw(st.sampled_from(["", "psi?", "\u00b0C", "K\n"])))
    elif what == "unit_table":
        name = draw(st.sampled_from(["pressure_unit_to_unit_system",
                                     "temperature_unit_to_unit_system"]))
        setattr(loadscribe, name, draw(st.one_of(JUNK, st.just({"Pa": 5, "MPa": None, "K": []}))))
    elif what == "unknown_path":
        leaf.GetFieldData().RemoveArray("Body pathName")
        add_text(leaf, "Body pathName", draw(st.sampled_from(["", "Model/P/Nope", 'a"b\\c\n'])))
    elif what == "not_polydata":
        grid = vtk.vtkUnstructuredGrid()
        grid.SetPoints(leaf.GetPoints())
        grid.GetPointData().ShallowCopy(leaf.GetPointData())
        grid.GetFieldData().ShallowCopy(leaf.GetFieldData())
        mesh = multiblock([grid], 0)
    elif what == "empty":
        mesh = multiblock(draw(st.sampled_from([[], [None], [vtk.vtkMultiBlockDataSet()]])), 1)
    elif what == "wrong_leaf":
        table = vtk.vtkTable()
        add_text(table, "Body pathName", entries[0][0])
        mesh = multiblock([table], 0)
    elif what == "bad_polygon":
        polys = leaf.GetPolys()
        size = draw(st.sampled_from([3, 4, 5]))
        polys.InsertNextCell(size, [draw(st.integers(0, n + 2)) for _ in range(size)])
        ids = leaf.GetCellData().GetArray("Element ID")
        ids.InsertNextValue(draw(st.sampled_from([entries[0][3][0] if entries[0][3] else 0, 7])))
    elif what == "bad_offsets":
        with_bad_offsets(draw, leaf)
    elif what == "foreign_element":
        ids = leaf.GetCellData().GetArray("Element ID")
        if ids.GetNumberOfTuples():
            ids.SetValue(ids.GetNumberOfTuples() - 1, draw(st.integers(0, MAX_ID)))
    elif what == "short_distance":
        tolerance = 1.0
        leaf.GetPointData().RemoveArray("Distance")
        add_array(leaf.GetPointData(), "Distance", np.zeros(max(0, n - draw(st.integers(1, n)))),
                  np.float64)
    elif what == "nan_distance":
        tolerance = 1.0
        leaf.GetPointData().RemoveArray("Distance")
        add_array(leaf.GetPointData(), "Distance", np.full(n, np.nan), np.float64)
    return field, entries, mesh, tolerance, macro, what


@given(broken_load_cases(), st.sampled_from(["create_kelm_load_from_vtk_field",
                                             "create_temperature_load_from_vtk_field",
                                             "create_pressure_load_from_vtk_field"]))
def test_loads_of_broken_mappings(case, operation):
    field, entries, mesh, tolerance, macro, what = case
    if what == "no_host":
        kelm.reset()  # the fixture resets once per test, not per example
    else:
        host_model(entries)
    loadscribe.macro = macro
    try:
        expect_success_or_error(M, getattr(loadscribe, operation), mesh, field, tolerance)
        recorded = loadscribe.macro
    finally:
        loadscribe.macro = None
        loadscribe.pressure_unit_to_unit_system = dict(TABLES[0])
        loadscribe.temperature_unit_to_unit_system = dict(TABLES[1])
    created = [c.function for c in kelm.environment.created]
    assert created in ([], ["createPressurePropertyStaticVariable", "createLoadPressure"],
                       ["createTemperaturePropertyStaticVariable", "createLoadTemperature"])
    if isinstance(recorded, str):
        run_recorded(recorded[len(macro) if isinstance(macro, str) else 0:])


@given(st.one_of(st.builds(vtk.vtkPolyData), JUNK, st.data()), st.one_of(st.floats(), JUNK),
       st.one_of(st.sampled_from(["Point", "Cell"]), JUNK))
def test_filter_by_distance(mesh, tolerance, location):
    if isinstance(mesh, st.DataObject):
        field = mesh.draw(st.sampled_from(["Pressure", "Temperature"]))
        entries, mapped, _ = mesh.draw(load_cases(field))
        it = mapped.NewIterator()
        it.VisitOnlyLeavesOn()
        it.SkipEmptyNodesOn()
        it.InitTraversal()
        mesh = it.GetCurrentDataObject()
    out = expect_success_or_error(M, loadscribe.filter_by_distance, mesh, tolerance, location)
    if out is not None:
        assert out.IsA("vtkPolyData")
        distance = out.GetPointData().GetArray("Distance")
        assert distance.GetNumberOfTuples() == out.GetNumberOfPoints()
        if out.GetNumberOfPoints():
            assert np.all(ns.vtk_to_numpy(distance) <= tolerance)
            for name in ("Node ID",):
                assert out.GetPointData().GetArray(name).GetNumberOfTuples() == out.GetNumberOfPoints()


@st.composite
def builder_cases(draw):
    entry = draw(bodies(0))
    path, (node_ids, elements), polygons, polygon_elements, _, mesh_type = entry
    tria = [[node_ids[i] for i in p] for p in polygons if len(p) == 3]
    quad = [[node_ids[i] for i in p] for p in polygons if len(p) == 4]
    elements_in_order = ([e for p, e in zip(polygons, polygon_elements) if len(p) == 3] +
                         [e for p, e in zip(polygons, polygon_elements) if len(p) == 4])
    form = draw(st.sampled_from(["numpy", "list", "flat"]))

    def rows(values, width):
        if form == "numpy":
            return np.array(values, dtype=np.int64).reshape(-1, width)
        return [list(r) for r in values] if form == "list" else [i for r in values for i in r]

    arrays = {}
    if tria or draw(st.booleans()):
        arrays["tria"] = rows(tria, 3)
    if quad:
        arrays["quad"] = rows(quad, 4)
    pressures = draw(st.lists(st.floats(-1e3, 1e3), min_size=len(node_ids), max_size=len(node_ids)))
    args = [path, arrays, list(node_ids), elements_in_order, pressures]
    what = draw(st.sampled_from(["none"] * 4 + ["path", "arrays", "key", "ragged", "row",
                                                "node_ids", "element_ids", "pressures", "nan",
                                                "mismatch", "unknown_node", "unknown_element",
                                                "readonly", "tuple"]))
    if what == "path":
        args[0] = draw(st.one_of(JUNK, st.just("Model/P/Nope")))
    elif what == "arrays":
        args[1] = draw(JUNK)
    elif what == "key":
        arrays[draw(st.one_of(st.sampled_from(["hexa", "Tria", ""]), st.integers()))] = [[1, 2, 3]]
    elif what == "ragged":
        arrays["tria"] = [[1, 2, 3], [1, 2]]
    elif what == "row":
        arrays["quad"] = [draw(JUNK)]
    elif what in ("node_ids", "element_ids", "pressures"):
        args[{"node_ids": 2, "element_ids": 3, "pressures": 4}[what]] = draw(JUNK)
    elif what == "nan":
        args[4] = [float("nan")] * len(pressures)
    elif what == "mismatch":
        index = draw(st.sampled_from([2, 3, 4]))
        args[index] = list(args[index])[:-1] if len(args[index]) else [1]
    elif what == "unknown_node":
        arrays["tria"] = [[MAX_ID, MAX_ID - 1, MAX_ID - 2]] * 1
        args[3] = list(args[3]) + [polygon_elements[0] if polygon_elements else 1]
        if "quad" in arrays:
            del arrays["quad"]
            args[3] = args[3][-1:]
    elif what == "unknown_element":
        args[3] = [draw(st.integers(0, MAX_ID)) for _ in elements_in_order]
    elif what == "readonly" and isinstance(arrays.get("tria"), np.ndarray):
        arrays["tria"].setflags(write=False)
    elif what == "tuple":
        args[1] = {k: tuple(map(tuple, v)) if form != "flat" else tuple(v) for k, v in arrays.items()}
    return entry, mesh_type, args, what


@given(builder_cases(), st.booleans(), st.one_of(st.none(), st.just(""), JUNK))
def test_pressure_field_builders(case, solid_builder, macro):
    entry, mesh_type, args, what = case
    host_model([entry])
    loadscribe.macro = macro
    try:
        if solid_builder:
            result = expect_success_or_error(M, loadscribe.build_solid_mesh_pressure_field_dict,
                                             args[0], mesh_type, *args[1:])
        else:
            result = expect_success_or_error(M, loadscribe.build_surface_mesh_pressure_field_dict,
                                             *args)
        recorded = loadscribe.macro
    finally:
        loadscribe.macro = None
    if result is not None:
        entities, field = result
        assert len(field["element_ids"]) == len(field["face_identifiers"]) == len(field["pressures"])
        assert all(len(f) == len(p) for f, p in zip(field["face_identifiers"], field["pressures"]))
        assert all(np.isfinite(p).all() for p in field["pressures"])
        if solid_builder:
            assert len(entities) == len(field["element_ids"])
    if isinstance(recorded, str):
        run_recorded(recorded[len(macro) if isinstance(macro, str) else 0:])
