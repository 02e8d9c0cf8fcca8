"""Tiny solid and shell bodies exported through treewalk, shared by the fieldgraft and skinfield
tests."""
import numpy as np
import vtk
from vtk.util import numpy_support as ns

import kelm
import treewalk
from kelm.mesh import ElementTopology as T
from kelm.samples import single_element


def lattice(nx, ny, nz):
    """Points of an (nx+1) x (ny+1) x (nz+1) unit lattice and a position function."""
    points = np.array([(x, y, z) for z in range(nz + 1) for y in range(ny + 1)
                       for x in range(nx + 1)], float)

    def at(x, y, z):
        return x + (nx + 1) * (y + (ny + 1) * z)
    return points, at


def hex_rows(nx, ny, nz, at):
    return [[at(x, y, z), at(x + 1, y, z), at(x + 1, y + 1, z), at(x, y + 1, z),
             at(x, y, z + 1), at(x + 1, y, z + 1), at(x + 1, y + 1, z + 1), at(x, y + 1, z + 1)]
            for z in range(nz) for y in range(ny) for x in range(nx)]


def node_ids(count):
    """Host node IDs that are not positions: 10, 20, 30, ..."""
    return 10 * np.arange(1, count + 1)


def element_ids(count, start=500):
    return start + 7 * np.arange(count)


def export(*bodies):
    """Exports bodies [(name, node_ids, points, elements)] of one part; returns (root, {name: grid})."""
    model = kelm.Model("M")
    part = model.add_part("P")
    for name, nids, points, elements in bodies:
        part.add_mesh(name, nids, points, elements)
    root = treewalk.create_vtk_dataset_from_kelm_entities([model])
    grids = {}
    it = root.NewIterator()
    it.VisitOnlyLeavesOn()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        leaf = it.GetCurrentDataObject()
        grids[leaf.GetFieldData().GetAbstractArray("Body pathName").GetValue(0)] = leaf
        it.GoToNextItem()
    return root, grids


def hex_block_body(nx=2, ny=1, nz=1, name="Block"):
    points, at = lattice(nx, ny, nz)
    rows = hex_rows(nx, ny, nz, at)
    return name, node_ids(len(points)), points, {T.Hexa8: (element_ids(len(rows)), rows)}


def single_body(topology, name="One"):
    points, row = single_element(topology)
    return name, node_ids(len(points)), points, {topology: (element_ids(1), row)}


def hex_wedge_body(name="Mixed"):
    """A hexahedron (x in 0..1) beside a wedge (x in 1..2) sharing the quad face x = 1."""
    points = np.array([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1),
                       (1, 1, 1), (0, 1, 1), (2, 0, 0), (2, 0, 1)], float)
    hexa = [[0, 1, 2, 3, 4, 5, 6, 7]]
    # VTK wedge (1, 2, 8) bottom / (5, 6, 9) top; the host's Penta6 order is the same.
    wedge = [[1, 8, 2, 5, 9, 6]]
    return name, node_ids(len(points)), points, {T.Hexa8: (element_ids(1), hexa),
                                                 T.Penta6: (element_ids(1, 900), wedge)}


def shell_body(name="Shell"):
    points = np.array([(x, y, 0) for y in range(3) for x in range(3)], float)
    quads = [[0, 1, 4, 3], [1, 2, 5, 4], [3, 4, 7, 6], [4, 5, 8, 7]]
    return name, node_ids(len(points)), points, {T.Quad4: (element_ids(4), quads)}


def body_path(name):
    return f"M/P/{name}"


def polygons(poly, array="Node ID"):
    """Each polygon as the list of its points' values of `array`."""
    ids = ns.vtk_to_numpy(poly.GetPointData().GetArray(array))
    out, cells, idl = [], poly.GetPolys(), vtk.vtkIdList()
    cells.InitTraversal()
    while cells.GetNextCell(idl):
        out.append([int(ids[idl.GetId(k)]) for k in range(idl.GetNumberOfIds())])
    return out


def cell_array(poly, name):
    return ns.vtk_to_numpy(poly.GetCellData().GetArray(name))


def point_values(poly, name):
    """{Node ID: value} of a point array."""
    ids = ns.vtk_to_numpy(poly.GetPointData().GetArray("Node ID"))
    values = ns.vtk_to_numpy(poly.GetPointData().GetArray(name))
    return dict(zip(ids.tolist(), values.tolist()))
