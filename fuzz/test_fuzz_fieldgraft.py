"""fieldgraft driven with generated bodies and FE fields, intact and broken one thing at a time.

The body and field generators here are shared with the skinfield suite (same builders, earlier
dictionary format)."""
import math
import pathlib
import sys

import numpy as np
import pytest
import vtk
from hypothesis import given, settings, strategies as st
from vtk.util import numpy_support as ns

import fieldgraft
import kelm
import treewalk
from fuzzcase import expect_success_or_error
from kelm.mesh import ElementTopology as T
from kelm.samples import single_element

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "fieldgraft" / "tests"))
import field_bodies as fb  # noqa: E402

pytestmark = pytest.mark.timeout(600)
MAX_ID = 2**32 - 1
# Host face numbers by VTK cell type (the rest take VTK face indices).
HOST_FACES = {10: 4, 24: 4, 12: 6, 25: 6, 13: 5, 26: 5}
# Four @given tests per module reach 10,000 cases in the long profile; these run a little more.
MORE = settings(max_examples=max(settings().max_examples * 3 // 2, 1))

# ---- bodies -------------------------------------------------------------------------------------


@st.composite
def host_ids(draw, count):
    kind = draw(st.sampled_from(["small", "spread", "huge"]))
    if kind == "small":
        return list(range(1, count + 1))
    if kind == "huge":
        return list(range(MAX_ID - count + 1, MAX_ID + 1))
    return draw(st.lists(st.integers(0, MAX_ID), min_size=count, max_size=count, unique=True))


@st.composite
def bodies(draw, solid_only=False):
    """(name, node_ids, points, {topology: (element_ids, rows)}) of a small mesh body."""
    kinds = ["block", "single", "mixed"] + ([] if solid_only else ["shell", "single_shell"])
    kind = draw(st.sampled_from(kinds))
    if kind == "block":
        nx, ny, nz = (draw(st.integers(1, 2)) for _ in range(3))
        points, at = fb.lattice(nx, ny, nz)
        rows = fb.hex_rows(nx, ny, nz, at)
        elements = {T.Hexa8: (rows, )}
    elif kind == "single":
        topology = draw(st.sampled_from([T.Tetra4, T.Tetra10, T.Penta6, T.Penta15, T.Hexa8,
                                         T.Hexa20]))
        points, row = single_element(topology)
        elements = {topology: (row, )}
    elif kind == "single_shell":
        topology = draw(st.sampled_from([T.Tria3, T.Tria6, T.Quad4, T.Quad8]))
        points, row = single_element(topology)
        elements = {topology: (row, )}
    elif kind == "mixed":
        _, _, points, given_elements = fb.hex_wedge_body()
        elements = {t: (rows, ) for t, (_, rows) in given_elements.items()}
    else:
        _, _, points, given_elements = fb.shell_body()
        elements = {t: (rows, ) for t, (_, rows) in given_elements.items()}
    node_ids = draw(host_ids(len(points)))
    count = sum(len(np.atleast_2d(r)) for (r, ) in elements.values())
    element_ids = iter(draw(host_ids(count)))
    with_ids = {}
    for t, (rows, ) in elements.items():
        rows = np.atleast_2d(rows)
        with_ids[t] = ([next(element_ids) for _ in rows], rows)
    return (draw(st.sampled_from(["Body", "Body 2", "Bödy with spaces"])), node_ids, points,
            with_ids)


def export(*body_list):
    """(model multiblock, {path: grid}) of the bodies, one part."""
    return fb.export(*body_list)


def the_grid(body):
    root, grids = export(body)
    (path, grid), = grids.items()
    return root, path, grid


def ids_of(data, name):
    array = data.GetArray(name)
    return ns.vtk_to_numpy(array).astype(np.int64).tolist() if array is not None else []


def surface_node_ids(grid):
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(grid)
    surface.SetNonlinearSubdivisionLevel(0)
    surface.Update()
    return ids_of(surface.GetOutput().GetPointData(), "Node ID")


def face_choices(grid):
    """Every (element ID, face number, corner set) of the solid cells of `grid`."""
    eids = ids_of(grid.GetCellData(), "Element ID")
    nids = ids_of(grid.GetPointData(), "Node ID")
    family_mapped = grid.GetNumberOfCells() and grid.GetCellType(0) in HOST_FACES
    out = []
    for c in range(grid.GetNumberOfCells()):
        cell = grid.GetCell(c)
        faces = HOST_FACES.get(grid.GetCellType(c)) if family_mapped else None
        numbers = range(1, faces + 1) if faces else range(cell.GetNumberOfFaces())
        tables = {10: [0, 3, 0, 1, 2], 24: [0, 3, 0, 1, 2], 12: [0, 4, 5, 2, 1, 3, 0],
                  25: [0, 4, 5, 2, 1, 3, 0], 13: [0, 0, 1, 2, 3, 4], 26: [0, 0, 1, 2, 3, 4]}
        for number in numbers:
            face = cell.GetFace(tables[grid.GetCellType(c)][number] if faces else number)
            corners = frozenset(nids[face.GetPointId(k)] for k in range(face.GetNumberOfEdges()))
            out.append((eids[c], number, corners))
    return out


# ---- deliveries ---------------------------------------------------------------------------------


def deliver(values, form):
    """The same flat values as a list, a tuple or a NumPy array."""
    if form == "tuple":
        return tuple(values)
    if form == "numpy":
        return np.asarray(values)
    if form == "uint32" and all(isinstance(v, int) and 0 <= v <= MAX_ID for v in values):
        return np.asarray(values, np.uint32)
    return list(values)


def deliver_rows(rows, form):
    if form == "numpy" and rows and len({len(r) for r in rows}) == 1:
        return np.asarray(rows)
    if form == "arrays":
        return [np.asarray(r) for r in rows]
    if form == "tuple":
        return tuple(tuple(r) for r in rows)
    return [list(r) for r in rows]


FORMS = st.sampled_from(["list", "tuple", "numpy", "uint32"])
VALUES = st.floats(allow_nan=True, allow_infinity=True, width=32)


def same(a, b):
    a, b = np.float32(a), np.float32(b)
    return (math.isnan(a) and math.isnan(b)) or a == b


# ---- well-formed fields -------------------------------------------------------------------------

KINDS = ["NODE_ID", "ELEMENT_ID", "ELEMENT_ID_FACE_NODE_ID", "ELEMENT_ID_FACE_INDEX", "FACE_NODE"]


@st.composite
def fields_for(draw, grid, kind, value_key="pressures"):
    """A well-formed body field of `kind` for `grid`, and what a success must show:
    (field, expected) with expected a dict {id: value} or the loaded faces."""
    form = draw(FORMS)
    nids = ids_of(grid.GetPointData(), "Node ID")
    eids = ids_of(grid.GetCellData(), "Element ID")
    if kind in ("NODE_ID", "ELEMENT_ID", "FACE_NODE"):
        pool = eids if kind == "ELEMENT_ID" else nids
        ids = draw(st.lists(st.sampled_from(pool), max_size=2 * len(pool)))
        values = draw(st.lists(VALUES, min_size=len(ids), max_size=len(ids)))
        expected = dict(zip(ids, values))  # the later value wins
        key = {"NODE_ID": "node_ids", "ELEMENT_ID": "element_ids", "FACE_NODE": "face_identifiers"}
        field = {"identifier_type": kind, key[kind]: deliver(ids, form),
                 value_key: deliver(values, form)}
        if kind == "FACE_NODE":
            field.update(element_ids=[], face_ids=[])
        return field, expected
    if kind == "ELEMENT_ID_FACE_NODE_ID":
        surface = surface_node_ids(grid)
        rows = draw(st.lists(st.lists(st.sampled_from(surface), min_size=1, max_size=6),
                             max_size=5)) if surface else []
        values = [draw(st.lists(VALUES, min_size=len(r), max_size=len(r))) for r in rows]
        candidates = {}
        for r, v in zip(rows, values):
            for n, x in zip(r, v):
                candidates.setdefault(n, []).append(x)
        field = {"identifier_type": kind, "element_ids": [], "face_identifiers":
                 deliver_rows(rows, draw(st.sampled_from(["list", "numpy", "arrays", "tuple"]))),
                 value_key: deliver_rows(values, draw(st.sampled_from(["list", "numpy", "tuple"])))}
        return field, candidates
    choices = face_choices(grid)
    picked, seen = [], set()
    for i in draw(st.lists(st.integers(0, max(len(choices) - 1, 0)), max_size=8)) if choices else []:
        element, number, corners = choices[i]
        if corners not in seen:
            seen.add(corners)
            picked.append((element, number))
    values = draw(st.lists(VALUES, min_size=len(picked), max_size=len(picked)))
    field = {"identifier_type": kind, "element_ids": deliver([e for e, _ in picked], form),
             "face_identifiers": deliver([f for _, f in picked], form),
             value_key: deliver(values, form)}
    return field, (picked, values)


BUILDERS = {"NODE_ID": fieldgraft.poly_from_ug_and_nodal_fem_data,
            "ELEMENT_ID": fieldgraft.poly_from_ug_and_element2d_fem_data,
            "ELEMENT_ID_FACE_NODE_ID": fieldgraft.poly_from_ug_and_element_nodal_fem_data,
            "ELEMENT_ID_FACE_INDEX": fieldgraft.poly_from_ug_and_element3d_face_id_data,
            "FACE_NODE": fieldgraft.poly_from_ug_and_element3d_nodal_face_data}


def check_polys(poly):
    """Every polygon's points exist and the cell arrays have one entry per cell."""
    n = poly.GetNumberOfPoints()
    conn = ns.vtk_to_numpy(poly.GetPolys().GetConnectivityArray())
    assert conn.size == 0 or (conn.min() >= 0 and conn.max() < n)
    for i in range(poly.GetCellData().GetNumberOfArrays()):
        assert poly.GetCellData().GetAbstractArray(i).GetNumberOfTuples() == poly.GetNumberOfCells()
    for i in range(poly.GetPointData().GetNumberOfArrays()):
        assert poly.GetPointData().GetAbstractArray(i).GetNumberOfTuples() == n


def check_result(kind, grid, poly, name, expected):
    """Structural checks of a builder's success against the field that produced it."""
    assert poly is not None and poly.IsA("vtkPolyData")
    check_polys(poly)
    if kind in ("NODE_ID", "FACE_NODE", "ELEMENT_ID"):
        on_points = kind != "ELEMENT_ID"
        data = grid.GetPointData() if on_points else grid.GetCellData()
        array = data.GetArray(name)
        assert array.GetNumberOfTuples() == (grid.GetNumberOfPoints() if on_points
                                             else grid.GetNumberOfCells())
        ids = ids_of(data, "Node ID" if on_points else "Element ID")
        got = dict(zip(ids, ns.vtk_to_numpy(array).tolist()))
        for i, v in got.items():
            assert same(v, expected[i]) if i in expected else math.isnan(v)
        result_data = poly.GetPointData() if on_points else poly.GetCellData()
        assert result_data.GetArray(name) is not None
    elif kind == "ELEMENT_ID_FACE_NODE_ID":
        got = dict(zip(ids_of(poly.GetPointData(), "Node ID"),
                       ns.vtk_to_numpy(poly.GetPointData().GetArray(name)).tolist()))
        for node, value in got.items():
            if node in expected:
                assert any(same(value, x) for x in expected[node])
            else:
                assert math.isnan(value)
        assert set(expected) <= set(got)
    else:
        picked, values = expected
        eids = ids_of(poly.GetCellData(), "Element ID")
        got = ns.vtk_to_numpy(poly.GetCellData().GetArray(name)).tolist()
        assert poly.GetNumberOfPolys() >= len(picked)
        assert eids[:len(picked)] == [e for e, _ in picked]
        assert all(same(a, b) for a, b in zip(got, values))
        assert all(math.isnan(v) for v in got[len(picked):])
        assert set(eids) <= set(ids_of(grid.GetCellData(), "Element ID"))


@st.composite
def intact_cases(draw, kinds=KINDS):
    body = draw(bodies())
    _, path, grid = the_grid(body)
    kind = draw(st.sampled_from(kinds))
    name = draw(st.sampled_from(["Pressure", "Temperature"]))
    field, expected = draw(fields_for(grid, kind, name.lower() + "s"))
    return kind, grid, field, name, expected


@MORE
@given(intact_cases())
def test_well_formed_fields_build_exactly(case):
    kind, grid, field, name, expected = case
    result = expect_success_or_error("fieldgraft", BUILDERS[kind], grid, field, name)
    if kind == "ELEMENT_ID_FACE_INDEX" and result is None:
        # Only a face field on a shell body may refuse (no solid faces) when it names faces.
        assert field["element_ids"] is not None
        assert any(grid.GetCell(c).GetNumberOfFaces() == 0 for c in range(grid.GetNumberOfCells()))
        return
    assert result is not None, f"a well-formed {kind} field must build"
    check_result(kind, grid, result, name, expected)


# ---- broken fields ------------------------------------------------------------------------------

JUNK = st.one_of(st.none(), st.just(float("nan")), st.just(float("inf")), st.text(max_size=3),
                 st.integers(-2**70, 2**70), st.just([]), st.just([[1, 2], [3]]), st.just({}),
                 st.just(object()), st.just(b"ab"), st.just(np.zeros((2, 0))),
                 st.just(np.zeros((3, 0), np.int64)), st.just(np.zeros((2, 2, 2))),
                 st.just(np.array(["a", "b"])), st.just(np.array([1 + 2j])),
                 st.just(np.array([1.5, np.nan])), st.just(np.array([None, 1], object)),
                 st.just(np.array([2**63], np.uint64)), st.just(np.float16([1, 2])),
                 st.just(np.array([True, False])), st.just([[]]), st.just([[], [1]]),
                 st.just(np.zeros((0, 4))), st.just(range(3)), st.just(vtk.vtkIdList()))
BAD_IDS = st.sampled_from([-1, -2**31, 2**32, 2**63, 2**64, -2**64, 1.5, float("nan"), None, "7",
                           True, np.int64(-5), np.uint64(2**64 - 1), 123456])
BAD_FACES = st.sampled_from([0, -1, 5, 6, 7, 2**31, 2**63 - 1, -2**63, 2**64, 1.0, None])


def zero_width(field, key):
    value = field[key]
    n = len(value) if hasattr(value, "__len__") else 1
    field[key] = np.zeros((n, 0), np.int64)


@st.composite
def broken_fields(draw, field, value_key, id_keys, row_keys=()):
    """`field` with one thing broken."""
    field = dict(field)
    keys = list(field)
    row_keys = [k for k in row_keys if k in field]
    lists = [k for k in keys if k != "identifier_type"] or keys
    what = draw(st.sampled_from(["junk", "drop", "extra", "truncate", "extend", "bad_id",
                                 "bad_face", "zero_width", "rows", "not_a_dict", "nan_values"]))
    if what == "junk":
        field[draw(st.sampled_from(keys))] = draw(JUNK)
    elif what == "drop":
        del field[draw(st.sampled_from(keys))]
    elif what == "extra":
        field[draw(st.sampled_from(["extra", "pressures", "temperatures", "node_ids"]))] = \
            draw(JUNK)
    elif what in ("truncate", "extend"):
        key = draw(st.sampled_from(lists))
        seq = list(field[key]) if hasattr(field[key], "__iter__") else []
        field[key] = seq[:-1] if what == "truncate" else seq + seq[:1] + [1]
    elif what == "bad_id" and any(k in field for k in id_keys):
        key = draw(st.sampled_from([k for k in id_keys if k in field]))
        seq = list(np.asarray(field[key], dtype=object).reshape(-1).tolist())
        bad = draw(BAD_IDS)
        if seq:
            seq[draw(st.integers(0, len(seq) - 1))] = bad
        else:
            seq = [bad]
        field[key] = seq if draw(st.booleans()) else np.asarray(seq, dtype=object)
    elif what == "bad_face" and "face_identifiers" in field and "face_ids" not in field \
            and field.get("identifier_type") != "ELEMENT_ID_FACE_NODE_ID":
        seq = list(field["face_identifiers"])
        if seq:
            seq[draw(st.integers(0, len(seq) - 1))] = draw(BAD_FACES)
        field["face_identifiers"] = seq
    elif what == "zero_width":
        zero_width(field, draw(st.sampled_from(keys)))
    elif what == "rows" and row_keys:
        key = draw(st.sampled_from(row_keys))
        rows = [list(np.asarray(r).reshape(-1).tolist()) for r in field[key]]
        change = draw(st.sampled_from(["ragged", "scalar_row", "nested", "empty_row", "3d"]))
        if change == "ragged" and rows:
            rows[-1] = rows[-1][:-1]
        elif change == "scalar_row":
            rows.append(7)
        elif change == "nested":
            rows.append([[1, 2], [3, 4]])
        elif change == "empty_row":
            rows.append([])
        else:
            rows = np.zeros((len(rows), 2, 2))
        field[key] = rows
    elif what == "not_a_dict":
        return draw(st.sampled_from([None, [], list(field.items()), "field", 7, set(), (1, 2)]))
    else:
        key = value_key if value_key in field else keys[0]
        seq = list(np.asarray(field[key], dtype=object).reshape(-1).tolist())
        field[key] = [float("nan")] * len(seq)
    return field


def tampered_grid(grid, how):
    """A copy of `grid` with its tags or cells broken (the model's own grid is left alone)."""
    copy = vtk.vtkUnstructuredGrid()
    copy.DeepCopy(grid)
    pd, cd = copy.GetPointData(), copy.GetCellData()
    if how == "no_node_ids":
        pd.RemoveArray("Node ID")
    elif how == "no_element_ids":
        cd.RemoveArray("Element ID")
    elif how == "float_ids":
        array = ns.numpy_to_vtk(np.linspace(0, 1, copy.GetNumberOfPoints()), deep=1)
        array.SetName("Node ID")
        pd.AddArray(array)
    elif how == "negative_ids":
        array = ns.numpy_to_vtk(-np.arange(1, copy.GetNumberOfCells() + 1, dtype=np.int64), deep=1)
        array.SetName("Element ID")
        cd.AddArray(array)
    elif how == "short_ids":
        array = ns.numpy_to_vtk(np.arange(max(copy.GetNumberOfPoints() - 1, 0), dtype=np.uint32),
                                deep=1)
        array.SetName("Node ID")
        pd.AddArray(array)
    elif how == "two_components":
        array = vtk.vtkIntArray()
        array.SetNumberOfComponents(2)
        array.SetNumberOfTuples(copy.GetNumberOfCells())
        array.Fill(1)
        array.SetName("Element ID")
        cd.AddArray(array)
    elif how == "string_ids":
        array = vtk.vtkStringArray()
        array.SetName("Node ID")
        for _ in range(copy.GetNumberOfPoints()):
            array.InsertNextValue("x")
        pd.AddArray(array)
    elif how == "duplicate_ids":
        array = ns.numpy_to_vtk(np.zeros(copy.GetNumberOfPoints(), np.uint32), deep=1)
        array.SetName("Node ID")
        pd.AddArray(array)
    elif how == "no_cells":
        copy.Reset()
        copy.SetPoints(grid.GetPoints())
        copy.GetPointData().ShallowCopy(grid.GetPointData())
    elif how == "empty":
        copy = vtk.vtkUnstructuredGrid()
    elif how == "short_cell":
        copy.InsertNextCell(vtk.VTK_HEXAHEDRON, 3, [0, 0, 0])
    elif how == "far_point":
        copy.InsertNextCell(vtk.VTK_TETRA, 4, [0, 0, 0, copy.GetNumberOfPoints() + 5])
    elif how == "no_path":
        copy.GetFieldData().RemoveArray("Body pathName")
    return copy


WRONG_GRIDS = st.sampled_from(["polydata", "image", "multiblock", "object", "string", "int",
                               "algorithm", "table"])


def wrong_grid(how, grid):
    if how == "polydata":
        surface = vtk.vtkDataSetSurfaceFilter()
        surface.SetInputData(grid)
        surface.Update()
        return surface.GetOutput()
    return {"image": vtk.vtkImageData(), "multiblock": vtk.vtkMultiBlockDataSet(),
            "object": object(), "string": "grid", "int": 3, "algorithm": vtk.vtkSphereSource(),
            "table": vtk.vtkTable()}[how]


TAMPER = st.sampled_from(["no_node_ids", "no_element_ids", "float_ids", "negative_ids",
                          "short_ids", "two_components", "string_ids", "duplicate_ids",
                          "no_cells", "empty", "no_path", "short_cell", "far_point"])


def check_any_result(poly):
    if poly is not None:
        assert poly.IsA("vtkPolyData")
        check_polys(poly)


@MORE
@given(intact_cases(), st.data())
def test_broken_fields_raise_or_build_soundly(case, data):
    kind, grid, field, name, _ = case
    value_key = name.lower() + "s"
    broken = data.draw(broken_fields(field, value_key,
                                     ["node_ids", "element_ids", "face_identifiers"],
                                     ["face_identifiers", value_key]
                                     if kind == "ELEMENT_ID_FACE_NODE_ID" else ()))
    check_any_result(expect_success_or_error("fieldgraft", BUILDERS[kind], grid, broken, name))


@given(intact_cases(), st.sampled_from(["name", "grid", "tamper", "keywords"]), st.data())
def test_broken_arguments_and_grids(case, what, data):
    kind, grid, field, name, _ = case
    builder = BUILDERS[kind]
    if what == "name":
        bad = data.draw(st.one_of(JUNK, st.sampled_from(["pressure", "PRESSURE", "Node ID", "",
                                                         "Temperature\0", "Pressures"])))
        result = expect_success_or_error("fieldgraft", builder, grid, field, bad)
        assert result is None, f"field name {bad!r} must be refused"
    elif what == "grid":
        how = data.draw(st.one_of(WRONG_GRIDS.map(lambda h: wrong_grid(h, grid)), JUNK))
        check_any_result(expect_success_or_error("fieldgraft", builder, how, field, name))
    elif what == "tamper":
        how = data.draw(TAMPER)
        check_any_result(expect_success_or_error("fieldgraft", builder, tampered_grid(grid, how),
                                                 field, name))
    else:
        params = data.draw(st.sampled_from([(), (grid, ), (grid, field), (None, field, name),
                                            (grid, None, name)]))
        result = expect_success_or_error("fieldgraft", builder, *params)
        assert result is None, "a missing argument must be refused"


# ---- the driver and the body map ----------------------------------------------------------------


@st.composite
def models_with_fields(draw):
    """A model of 1..3 bodies and a collection with a field for some of them."""
    count = draw(st.integers(1, 3))
    body_list = []
    for i in range(count):
        name, *rest = draw(bodies())
        body_list.append((f"B{i} {name}", *rest))
    root, grids = export(*body_list)
    name = draw(st.sampled_from(["Pressure", "Temperature"]))
    collection, kinds = {}, []
    for path in draw(st.lists(st.sampled_from(sorted(grids)), min_size=1, max_size=count,
                              unique=True)):
        kind = draw(st.sampled_from(KINDS + ["ELEMENT", "UNKNOWN"]))
        if kind in KINDS:
            collection[path], _ = draw(fields_for(grids[path], kind, name.lower() + "s"))
        else:
            collection[path] = {"identifier_type": kind}
        kinds.append(kind)
    return root, grids, collection, name, kinds


TOPOLOGY = {"NODE_ID": "Point", "ELEMENT_ID": "Cell", "ELEMENT_ID_FACE_NODE_ID": "Point",
            "ELEMENT_ID_FACE_INDEX": "Cell", "FACE_NODE": "Point"}


@given(models_with_fields(), st.sampled_from(["intact", "body", "collection", "model",
                                              "nested", "map"]), st.data())
def test_driver_on_models_intact_and_broken(case, what, data):
    root, grids, collection, name, kinds = case
    drive = fieldgraft.add_fem_field_to_mbds
    if what == "intact":
        result = expect_success_or_error("fieldgraft", drive, root, collection, name)
        shells_only = result is None and "ELEMENT_ID_FACE_INDEX" in kinds
        assert result is not None or shells_only
        if result is not None:
            blocks, topology = result
            assert blocks.GetNumberOfBlocks() == len(collection)
            assert topology == TOPOLOGY.get(kinds[-1])
            for i, kind in enumerate(kinds):
                assert (blocks.GetBlock(i) is None) == (kind not in TOPOLOGY)
                if kind in TOPOLOGY:
                    check_polys(blocks.GetBlock(i))
    elif what == "body":
        path = data.draw(st.sampled_from(sorted(collection)))
        value_key = name.lower() + "s"
        collection[path] = data.draw(broken_fields(collection[path], value_key,
                                                   ["node_ids", "element_ids", "face_identifiers"],
                                                   [value_key]))
        before = {p: g.GetPointData().GetNumberOfArrays() + g.GetCellData().GetNumberOfArrays()
                  for p, g in grids.items()}
        result = expect_success_or_error("fieldgraft", drive, root, collection, name)
        if result is None:  # nothing changed on error
            after = {p: g.GetPointData().GetNumberOfArrays() + g.GetCellData().GetNumberOfArrays()
                     for p, g in grids.items()}
            assert after == before
    elif what == "collection":
        bad = data.draw(st.one_of(JUNK, st.sampled_from([
            {}, {"No/such/body": {}}, {7: {}}, {None: {}}, {b"M/P/x": {}},
            list(collection.items()), {**collection, "Missing": collection[next(iter(collection))]}
        ])))
        check_result_blocks(expect_success_or_error("fieldgraft", drive, root, bad, name))
    elif what == "model":
        bad = data.draw(st.one_of(JUNK, st.sampled_from(["grid", "empty", "polydata_leaf",
                                                         "untagged"]).map(
            lambda h: broken_model(h, root, grids))))
        check_result_blocks(expect_success_or_error("fieldgraft", drive, bad, collection, name))
    elif what == "nested":
        outer = vtk.vtkMultiBlockDataSet()
        outer.SetNumberOfBlocks(3)
        outer.SetBlock(1, root)
        outer.SetBlock(2, vtk.vtkMultiBlockDataSet())
        result = expect_success_or_error("fieldgraft", drive, outer, collection, name)
        assert result is not None or "ELEMENT_ID_FACE_INDEX" in kinds
    else:
        mapped = expect_success_or_error("fieldgraft", fieldgraft.create_body_to_dataset_map,
                                         data.draw(st.one_of(st.just(root), JUNK)),
                                         data.draw(st.one_of(st.none(), JUNK)))
        if mapped is not None:
            assert set(mapped) == set(grids)
            for path, leaf in mapped.items():
                assert leaf.GetNumberOfCells() == grids[path].GetNumberOfCells()


def broken_model(how, root, grids):
    if how == "grid":
        return next(iter(grids.values()))
    if how == "empty":
        return vtk.vtkMultiBlockDataSet()
    model = vtk.vtkMultiBlockDataSet()
    model.SetNumberOfBlocks(2)
    model.SetBlock(0, root)
    if how == "polydata_leaf":
        leaf = wrong_grid("polydata", next(iter(grids.values())))
        leaf.GetFieldData().ShallowCopy(next(iter(grids.values())).GetFieldData())
    else:
        leaf = vtk.vtkUnstructuredGrid()
    model.SetBlock(1, leaf)
    return model


def check_result_blocks(result):
    """Every block of a driver's result (a multiblock or a (multiblock, topology) pair) is sound."""
    blocks = result[0] if isinstance(result, tuple) else result
    if blocks is not None:
        for i in range(blocks.GetNumberOfBlocks()):
            if blocks.GetBlock(i) is not None:
                check_polys(blocks.GetBlock(i))
