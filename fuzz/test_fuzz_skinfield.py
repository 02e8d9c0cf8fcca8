"""skinfield (the earlier field format) driven with generated bodies and fields, intact and broken
one thing at a time. Bodies and breakages come from the fieldgraft suite."""
import math

import numpy as np
import pytest
import vtk
from hypothesis import given, strategies as st
from vtk.util import numpy_support as ns

import skinfield
import test_fuzz_fieldgraft as fg
from fuzzcase import expect_success_or_error

pytestmark = pytest.mark.timeout(600)

KINDS = ["NODE_ID", "ELEMENT", "ELEMENT_NODAL", "ELEMENT_FACE_INDEX", "FACE_NODE"]
BUILDERS = {"NODE_ID": skinfield.poly_from_ug_and_nodal_data,
            "ELEMENT": skinfield.poly_from_ug_and_element2d_data,
            "ELEMENT_NODAL": skinfield.poly_from_ug_and_element_nodal_face_data,
            "ELEMENT_FACE_INDEX": skinfield.poly_from_ug_and_element_face_index_data,
            "FACE_NODE": skinfield.poly_from_ug_and_element_face_nodal_data}
# The later builder each earlier type corresponds to (for the structural checks).
LATER = {"NODE_ID": "NODE_ID", "ELEMENT": "ELEMENT_ID", "ELEMENT_FACE_INDEX":
         "ELEMENT_ID_FACE_INDEX", "FACE_NODE": "FACE_NODE"}
NAMES = st.one_of(st.sampled_from(["Pressure", "Heat flux", "T", "Body pathName", "color",
                                   "Druck äöü", "vtkOriginalPointIds"]),
                  st.text(min_size=1, max_size=8).filter(
                      lambda s: s not in ("Node ID", "Element ID") and "\0" not in s and
                      s.encode("utf-8", "ignore").decode("utf-8") == s))


def free_face_node_ids(grid):
    """Node IDs of the free faces as the earlier face builder finds them."""
    boundary = vtk.vtkUnstructuredGridGeometryFilter()
    boundary.SetInputData(grid)
    geometry = vtk.vtkGeometryFilter()
    geometry.SetInputConnection(boundary.GetOutputPort())
    geometry.Update()
    return fg.ids_of(geometry.GetOutput().GetPointData(), "Node ID")


@st.composite
def earlier_fields(draw, grid, kind, name):
    """A well-formed earlier-format body field and what a success must show."""
    if kind in LATER:
        later, expected = draw(fg.fields_for(grid, LATER[kind], "scalars"))
        later.pop("identifier_type")
        rename = {"node_ids": "identifier", "face_identifiers":
                  "face_node_ids" if kind == "FACE_NODE" else "identifiers"}
        field = {rename.get(k, k): v for k, v in later.items()}
    else:
        nodes = free_face_node_ids(grid)
        width = draw(st.integers(1, 6))
        rows = draw(st.lists(st.lists(st.sampled_from(nodes), min_size=width, max_size=width),
                             max_size=5)) if nodes else []
        elements = draw(st.lists(st.integers(0, fg.MAX_ID), min_size=len(rows),
                                 max_size=len(rows)))
        values = draw(st.lists(fg.VALUES, min_size=len(rows), max_size=len(rows)))
        field = {"element_ids": fg.deliver(elements, draw(fg.FORMS)),
                 "identifiers": fg.deliver_rows(rows, draw(st.sampled_from(
                     ["list", "numpy", "arrays", "tuple"]))),
                 "scalars": fg.deliver(values, draw(fg.FORMS))}
        expected = (rows, elements, values)
    field["identifier_type"] = kind
    field["scalar_name"] = name
    return field, expected


def check_nodal_faces(poly, name, expected):
    rows, elements, values = expected
    kept, seen = [], set()
    for i, row in enumerate(rows):
        if tuple(sorted(row)) not in seen:  # the same points, repeated ones counted
            seen.add(tuple(sorted(row)))
            kept.append(i)
    eids = fg.ids_of(poly.GetCellData(), "Element ID")
    got = ns.vtk_to_numpy(poly.GetCellData().GetArray(name)).tolist()
    assert eids[:len(kept)] == [elements[i] for i in kept]
    assert all(fg.same(got[c], values[i]) for c, i in enumerate(kept))
    assert all(math.isnan(v) for v in got[len(kept):])
    assert poly.GetCellData().GetNumberOfArrays() == 2


def check(kind, grid, poly, name, expected):
    if kind == "ELEMENT_NODAL":
        assert poly is not None
        fg.check_polys(poly)
        check_nodal_faces(poly, name, expected)
    else:
        fg.check_result(LATER[kind], grid, poly, name, expected)


@st.composite
def intact_cases(draw):
    _, path, grid = fg.the_grid(draw(fg.bodies()))
    kind = draw(st.sampled_from(KINDS))
    name = draw(NAMES)
    field, expected = draw(earlier_fields(grid, kind, name))
    return kind, grid, field, name, expected


@fg.MORE
@given(intact_cases(), st.booleans())
def test_well_formed_fields_build_exactly(case, dispatched):
    kind, grid, field, name, expected = case
    if dispatched:
        result = expect_success_or_error("skinfield", skinfield.poly_from_ug_and_scalar_fem_field,
                                         grid, field)
    else:
        result = expect_success_or_error("skinfield", BUILDERS[kind], grid, field)
    if kind == "ELEMENT_FACE_INDEX" and result is None:
        assert any(grid.GetCell(c).GetNumberOfFaces() == 0 for c in range(grid.GetNumberOfCells()))
        return
    assert result is not None, f"a well-formed {kind} field must build"
    check(kind, grid, result, name, expected)


@fg.MORE
@given(intact_cases(), st.data())
def test_broken_fields_raise_or_build_soundly(case, data):
    kind, grid, field, name, _ = case
    what = data.draw(st.sampled_from(["field", "scalar_name"]))
    if what == "field":
        broken = data.draw(fg.broken_fields(field, "scalars",
                                            ["identifier", "element_ids", "identifiers",
                                             "face_node_ids"],
                                            ["identifiers"] if kind == "ELEMENT_NODAL" else ()))
    else:
        broken = {**field, "scalar_name": data.draw(st.one_of(
            fg.JUNK, st.sampled_from(["Node ID", "Element ID", b"Pressure", "", "a\0b"])))}
    for operation in (BUILDERS[kind], skinfield.poly_from_ug_and_scalar_fem_field):
        fg.check_any_result(expect_success_or_error("skinfield", operation, grid, broken))


@given(intact_cases(), st.sampled_from(["grid", "tamper", "keywords"]), st.data())
def test_broken_arguments_and_grids(case, what, data):
    kind, grid, field, name, _ = case
    builder = data.draw(st.sampled_from([BUILDERS[kind],
                                         skinfield.poly_from_ug_and_scalar_fem_field]))
    if what == "grid":
        bad = data.draw(st.one_of(fg.WRONG_GRIDS.map(lambda h: fg.wrong_grid(h, grid)), fg.JUNK))
        fg.check_any_result(expect_success_or_error("skinfield", builder, bad, field))
    elif what == "tamper":
        bad = fg.tampered_grid(grid, data.draw(fg.TAMPER))
        fg.check_any_result(expect_success_or_error("skinfield", builder, bad, field))
    else:
        params = data.draw(st.sampled_from([(), (grid, ), (None, field), (grid, None)]))
        assert expect_success_or_error("skinfield", builder, *params) is None


@st.composite
def models_with_fields(draw):
    count = draw(st.integers(1, 3))
    body_list = []
    for i in range(count):
        name, *rest = draw(fg.bodies())
        body_list.append((f"B{i} {name}", *rest))
    root, grids = fg.export(*body_list)
    collection, kinds = {}, []
    for path in draw(st.lists(st.sampled_from(sorted(grids)), min_size=1, max_size=count,
                              unique=True)):
        kind = draw(st.sampled_from(KINDS + ["ELEMENT_ID", "UNKNOWN"]))
        if kind in KINDS:
            collection[path], _ = draw(earlier_fields(grids[path], kind, draw(NAMES)))
        else:
            collection[path] = {"identifier_type": kind}
        kinds.append(kind)
    return root, grids, collection, kinds


def pipeline_of(root):
    source = vtk.vtkTrivialProducer()
    source.SetOutput(root)
    return source


@given(models_with_fields(), st.sampled_from(["intact", "body", "collection", "source"]),
       st.sampled_from(["add_field", "add_nodal_field"]), st.booleans(), st.data())
def test_drivers_on_models_intact_and_broken(case, what, driver, as_pipeline, data):
    root, grids, collection, kinds = case
    drive = getattr(skinfield, driver)
    source = pipeline_of(root) if as_pipeline else root
    if what == "intact":
        result = expect_success_or_error("skinfield", drive, source, collection)
        assert result is not None or "ELEMENT_FACE_INDEX" in kinds
        if result is not None:
            assert result.GetNumberOfBlocks() == len(collection)
            for i, kind in enumerate(kinds):
                assert (result.GetBlock(i) is None) == (kind not in KINDS)
                if kind in KINDS:
                    fg.check_polys(result.GetBlock(i))
    elif what == "body":
        path = data.draw(st.sampled_from(sorted(collection)))
        collection[path] = data.draw(fg.broken_fields(collection[path], "scalars",
                                                      ["identifier", "element_ids", "identifiers",
                                                       "face_node_ids"], ["identifiers"]))
        before = {p: g.GetPointData().GetNumberOfArrays() + g.GetCellData().GetNumberOfArrays()
                  for p, g in grids.items()}
        if expect_success_or_error("skinfield", drive, source, collection) is None:
            after = {p: g.GetPointData().GetNumberOfArrays() + g.GetCellData().GetNumberOfArrays()
                     for p, g in grids.items()}
            assert after == before
    elif what == "collection":
        bad = data.draw(st.one_of(fg.JUNK, st.sampled_from([
            {}, {"No/such/body": {}}, {7: {}}, {None: {}}, list(collection.items())])))
        fg.check_result_blocks(expect_success_or_error("skinfield", drive, source, bad))
    else:
        bad = data.draw(st.one_of(fg.JUNK, st.sampled_from(
            ["sphere", "writer", "append", "empty", "grid", "polydata_leaf", "untagged"])))
        if isinstance(bad, str) and bad in ("sphere", "writer", "append"):
            bad = {"sphere": vtk.vtkSphereSource(), "writer": vtk.vtkXMLPolyDataWriter(),
                   "append": vtk.vtkAppendFilter()}[bad]
        elif isinstance(bad, str) and bad in ("empty", "grid", "polydata_leaf", "untagged"):
            bad = fg.broken_model(bad, root, grids)
            bad = pipeline_of(bad) if as_pipeline and bad.IsA("vtkMultiBlockDataSet") else bad
        result = expect_success_or_error("skinfield", drive, bad, collection)
        fg.check_result_blocks(result)
