"""gridforge driven with generated meshes and tessellations, intact and broken."""
import numpy as np
import pytest
from hypothesis import given, strategies as st
from vtk.util import numpy_support as ns

import gridforge
from fuzzcase import expect_success_or_error
from kelm.mesh import ElementTopology as T

pytestmark = pytest.mark.timeout(600)

NODES = {T.Bar2: 2, T.Tria3: 3, T.Tria6: 6, T.Quad4: 4, T.Quad8: 8, T.Tetra4: 4, T.Tetra10: 10,
         T.Penta6: 6, T.Penta15: 15, T.Hexa8: 8, T.Hexa20: 20}
MAX_ID = 2**32 - 1


class FakeMesh:
    """A duck-typed host mesh whose attributes the test sets freely."""
    pathName = "Fuzz/Part/Body"
    color = (10, 20, 30)


def deliver(values, form):
    """The same values in one of the forms a host may deliver."""
    array = np.asarray(values)
    if form == "list":
        return array.reshape(-1).tolist()
    if form == "rows" and array.ndim == 2:
        return [tuple(r) for r in array.tolist()]
    if form == "int32" and array.dtype.kind in "iu" and (array.size == 0 or (
            array.min() >= -2**31 and array.max() < 2**31)):
        return array.astype(np.int32)
    if form == "strided" and array.ndim == 2:
        wide = np.zeros((array.shape[0], array.shape[1] * 2), array.dtype)
        wide[:, ::2] = array
        return wide[:, ::2]
    return array


@st.composite
def meshes(draw):
    n_nodes = draw(st.integers(1, 25))
    node_ids = draw(st.lists(st.integers(0, MAX_ID), min_size=n_nodes, max_size=n_nodes, unique=True))
    coords = draw(st.lists(st.floats(-1e6, 1e6), min_size=3 * n_nodes, max_size=3 * n_nodes))
    topologies = draw(st.lists(st.sampled_from(list(T)), min_size=1, max_size=3, unique=True))
    element_ids, connectivity = {}, {}
    used = set()
    for t in topologies:
        count = draw(st.integers(0, 4))
        ids = draw(st.lists(st.integers(0, MAX_ID).filter(lambda i: i not in used),
                            min_size=count, max_size=count, unique=True))
        used.update(ids)
        element_ids[t] = ids
        connectivity[t] = draw(st.lists(st.integers(0, n_nodes - 1), min_size=count * NODES[t],
                                        max_size=count * NODES[t]))
    form = draw(st.sampled_from(["numpy", "list", "rows", "int32", "strided"]))
    mesh = FakeMesh()
    mesh.nodeIDs = deliver(node_ids, form)
    mesh.nodeCoordinates = deliver(np.reshape(coords, (-1, 3)), form)
    mesh.elementIDs = {t: deliver(v, form) for t, v in element_ids.items()}
    mesh.elementConnectivities = {t: deliver(np.reshape(v, (-1, NODES[t])), form)
                                  for t, v in connectivity.items()}
    return mesh, node_ids, element_ids, connectivity


JUNK = st.one_of(st.none(), st.just(float("nan")), st.just(float("inf")), st.text(max_size=3),
                 st.integers(-2**70, 2**70), st.just([]), st.just([[1, 2], [3]]),
                 st.just({}), st.just(object()))


@st.composite
def broken_meshes(draw):
    mesh, *_ = draw(meshes())
    what = draw(st.sampled_from(["nodeIDs", "nodeCoordinates", "elementIDs",
                                 "elementConnectivities", "color", "entry", "drop_key",
                                 "extra_key", "ragged", "truncate"]))
    topology = next(iter(mesh.elementConnectivities))
    if what in ("nodeIDs", "nodeCoordinates", "elementIDs", "elementConnectivities", "color"):
        setattr(mesh, what, draw(JUNK))
    elif what == "entry":
        conn = list(np.asarray(mesh.elementConnectivities[topology]).reshape(-1).tolist())
        if conn:
            conn[draw(st.integers(0, len(conn) - 1))] = draw(JUNK)
        mesh.elementConnectivities = {**mesh.elementConnectivities, topology: conn}
    elif what == "drop_key":
        which = draw(st.sampled_from(["elementIDs", "elementConnectivities"]))
        setattr(mesh, which, {k: v for k, v in getattr(mesh, which).items() if k != topology})
    elif what == "extra_key":
        key = draw(st.one_of(st.sampled_from(list(T)), JUNK.filter(lambda k: k.__hash__)))
        mesh.elementIDs = {**mesh.elementIDs, key: [1]}
        mesh.elementConnectivities = {**mesh.elementConnectivities, key: [0] * 8}
    elif what == "ragged":
        mesh.nodeCoordinates = [(0.0, 0.0, 0.0)] * (len(mesh.nodeIDs) - 1) + [(1.0, 2.0)]
    else:
        conn = np.asarray(mesh.elementConnectivities[topology]).reshape(-1)
        mesh.elementConnectivities = {**mesh.elementConnectivities, topology: conn[:-1].tolist()}
    return mesh


def check_grid(grid, node_ids, element_ids, connectivity):
    assert grid.GetNumberOfPoints() == len(node_ids)
    assert ns.vtk_to_numpy(grid.GetPointData().GetArray("Node ID")).tolist() == node_ids
    expected = [i for t in connectivity for i in element_ids[t]]
    assert grid.GetNumberOfCells() == len(expected)
    if expected:
        assert ns.vtk_to_numpy(grid.GetCellData().GetArray("Element ID")).tolist() == expected
    assert grid.GetCells().IsValid()


@given(meshes())
def test_well_formed_meshes_convert_exactly(case):
    mesh, node_ids, element_ids, connectivity = case
    grid = expect_success_or_error("gridforge", gridforge.gridforge().ugrid_from_mesh, mesh)
    assert grid is not None, "a well-formed mesh must convert"
    check_grid(grid, node_ids, element_ids, connectivity)
    poly = gridforge.gridforge().poly_from_mesh(mesh)
    assert poly.GetNumberOfCells() == grid.GetNumberOfCells()


@given(broken_meshes())
def test_broken_meshes_raise_or_convert_consistently(mesh):
    converter = gridforge.gridforge()
    for operation in (converter.ugrid_from_mesh, converter.poly_from_mesh):
        result = expect_success_or_error("gridforge", operation, mesh)
        if result is not None:
            assert result.GetNumberOfPoints() == result.GetPointData().GetArray("Node ID").GetNumberOfTuples()
            if result.IsA("vtkUnstructuredGrid"):
                assert result.GetCells().IsValid()
                assert result.GetCellData().GetArray("Element ID").GetNumberOfTuples() == result.GetNumberOfCells()


@given(st.integers(-3, 6), st.one_of(st.lists(st.integers(-5, 5), max_size=130), JUNK),
       st.sampled_from(["reorder_hexa20", "reorder_penta15"]))
def test_reordering_any_block(count, elements, name):
    result = expect_success_or_error("gridforge", getattr(gridforge.gridforge(), name), count, elements)
    if result is not None:
        assert result.size == count * (20 if name.endswith("20") else 15)


@given(st.integers(0, 6), st.lists(st.integers(-2, 8), max_size=40),
       st.lists(st.sampled_from([0, 1, 3, 5, 7, 9, 10, 12, 42, 255]), max_size=6))
def test_grids_from_arbitrary_arrays(n_points, cells, types):
    converter = gridforge.gridforge()
    points = np.zeros((n_points, 3))
    grid = expect_success_or_error("gridforge", converter.ugrid_from_arrays, points, types, cells)
    if grid is not None:
        assert grid.GetNumberOfCells() == len(types) and grid.GetCells().IsValid()
    poly = expect_success_or_error("gridforge", converter.poly_from_arrays, points, cells[:3],
                                   cells[3:9], cells[9:])
    if poly is not None:
        assert poly.GetNumberOfPoints() >= n_points
