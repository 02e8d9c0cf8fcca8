"""blockbook and treewalk driven with generated model trees and operation sequences."""
import numpy as np
import pytest
import vtk
from hypothesis import given, strategies as st

import blockbook
import kelm
import treewalk
from fuzzcase import expect_success_or_error
from kelm.mesh import ElementTopology as T

pytestmark = pytest.mark.timeout(600)


@st.composite
def models(draw):
    """A random host model: nested assemblies, parts with hexahedral, shell, point meshes and
    surface geometry, in NumPy or list delivery."""
    model = kelm.Model("M", deliver_as_lists=draw(st.booleans()))
    containers, bodies = [model], 0
    for i in range(draw(st.integers(0, 4))):
        parent = draw(st.sampled_from(containers))
        if draw(st.booleans()):
            containers.append(parent.add_assembly(f"A{i}"))
            continue
        part = parent.add_part(f"P{i}")
        for j in range(draw(st.integers(0, 3))):
            kind = draw(st.sampled_from(["hex", "shell", "point", "geometry"]))
            if kind == "hex":
                points, row = kelm.samples.single_element(T.Hexa8)
                part.add_mesh(f"B{j}", range(1, 9), points, {T.Hexa8: ([1], row)}, kind="hex")
                bodies += 1
            elif kind == "shell":
                part.add_mesh(f"B{j}", [1, 2, 3], [(0, 0, 0), (1, 0, 0), (0, 1, 0)],
                              {T.Tria3: ([5], [0, 1, 2])}, kind="surface")
                bodies += 1
            elif kind == "point":
                part.add_mesh(f"B{j}", [1], [(0, 0, 0)], {}, kind="point")
            else:
                part.add_geometry(f"B{j}", kelm.EntityType.Surface, kelm.samples.square())
    return model, bodies


def count_leaves(block):
    it = block.NewIterator()
    it.InitTraversal()
    n = 0
    while not it.IsDoneWithTraversal():
        n += 1
        it.GoToNextItem()
    return n


@given(models(), st.lists(st.sampled_from(["model", "part", "body", "junk", "none"]), max_size=4))
def test_exports_of_random_picks(case, picks):
    model, mesh_bodies = case
    entities = []
    parts = [p for a in [model] for p in a.parts]
    for pick in picks:
        if pick == "model":
            entities.append(model)
        elif pick == "part" and parts:
            entities.append(parts[0])
        elif pick == "body" and parts and parts[0].meshes:
            entities.append(parts[0].meshes[0])
        elif pick == "junk":
            entities.append(object())
        elif pick == "none":
            entities.append(None)
    root = expect_success_or_error("treewalk", treewalk.create_vtk_dataset_from_kelm_entities, entities)
    assert root is not None, "an export of host entities must succeed"
    found = treewalk.blockbook.get_model_map_with_block_id()
    iterator = root.NewTreeIterator()
    iterator.VisitOnlyLeavesOff()
    iterator.SkipEmptyNodesOff()
    iterator.InitTraversal()
    flat = {}
    while not iterator.IsDoneWithTraversal():
        flat[iterator.GetCurrentFlatIndex()] = iterator.GetCurrentDataObject()
        iterator.GoToNextItem()
    for path, (grid, index) in found.items():
        assert flat[index] is grid
        assert grid.GetFieldData().GetAbstractArray("Body pathName").GetValue(0) == path
    if picks == ["model"]:
        assert len(found) == mesh_bodies


OPERATIONS = st.lists(st.tuples(
    st.sampled_from(["assembly", "part", "body", "poly", "units", "map", "junk_parent", "save"]),
    st.integers(0, 10), st.text(max_size=4)), max_size=12)


@given(operations=OPERATIONS)
def test_blockbook_operation_sequences(operations, tmp_path_factory):
    book = blockbook.blockbook()
    containers = [book.get_model_root()]
    for op, index, name in operations:
        parent = containers[index % len(containers)]
        if op in ("assembly", "part"):
            make = book.create_assembly if op == "assembly" else book.create_part
            block = expect_success_or_error("blockbook", make, parent, name)
            containers.append(block)
        elif op == "body":
            grid = vtk.vtkUnstructuredGrid()
            tag = vtk.vtkStringArray()
            tag.SetName("Body pathName")
            tag.InsertNextValue(name)
            grid.GetFieldData().AddArray(tag)
            expect_success_or_error("blockbook", book.add_body_to_part, parent, grid, name)
        elif op == "poly":
            expect_success_or_error("blockbook", book.add_body_to_part, parent, vtk.vtkPolyData(), name)
        elif op == "units":
            expect_success_or_error("blockbook", book.set_model_units, name)
            assert book.get_model_length_unit() == name.split("-")[0]
        elif op == "map":
            found = expect_success_or_error("blockbook", book.get_model_map_with_block_id)
            assert all(g.GetFieldData().GetAbstractArray("Body pathName").GetValue(0) == k
                       for k, (g, _) in found.items())
        elif op == "junk_parent":
            expect_success_or_error("blockbook", book.create_part, name or None, "x")
        elif op == "save":
            path = tmp_path_factory.mktemp("save") / "m.vtm"
            expect_success_or_error("blockbook", book.save, str(path), name)
    assert count_leaves(book.get_model_root()) >= 0


@given(st.dictionaries(st.text(max_size=3), st.one_of(st.tuples(st.none(), st.integers(-3, 40)),
                                                      st.integers(), st.none()), max_size=5),
       st.lists(st.text(max_size=3), max_size=4))
def test_load_regions_with_arbitrary_maps(model_map, load):
    root = kelm.samples.sample_model()
    model = treewalk.create_vtk_dataset_from_kelm_entities([root])
    result = expect_success_or_error("treewalk", treewalk.extract_load_and_nonload_regions_from_model,
                                     model, model_map, load)
    if result is not None:
        assert result[0].IsA("vtkMultiBlockDataSet")


@given(models(), st.one_of(st.sampled_from(["Both", "Mesh", "Geometry", "", "both"]), st.text(max_size=5)),
       st.sampled_from(["part", "assembly", "body", "model", "junk"]))
def test_walkers_with_any_transfer_option(case, option, level):
    model, _ = case
    treewalk.create_vtk_dataset_from_kelm_entities([])
    parts = list(model.parts)
    target = {"part": parts[0] if parts else model, "assembly": model, "model": model,
              "body": parts[0].meshes[0] if parts and parts[0].meshes else model,
              "junk": 3.5}[level]
    result = expect_success_or_error("treewalk", treewalk.process_target, target,
                                     treewalk.model_root, option)
    assert result is not None, "walking a host entity must succeed"
    root, found = result
    assert root is treewalk.model_root
    if option not in ("Both", "Mesh") and level != "body":
        assert found == {}


@given(st.sampled_from(["All", "Region", "", "all"]),
       st.one_of(st.none(), st.integers(), st.just("target")),
       st.booleans())
def test_viewer_set_up_with_any_scope(scope, target, with_pressure):
    model = kelm.samples.sample_model()
    treewalk.create_vtk_dataset_from_kelm_entities([])
    if with_pressure:
        target = kelm.environment.VariablePressure(id=1, pressureValues={})
    expect_success_or_error("treewalk", treewalk.initialize_model, scope, target)
    expect_success_or_error("treewalk", treewalk.initialize_load_vizualization, "Pressure",
                            target, scope, None)
    blocks = treewalk.model_root.GetNumberOfBlocks()
    assert blocks == (2 if scope == "All" else 0)
    assert model.pathName == "Sample"
