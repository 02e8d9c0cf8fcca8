"""Builders shared by the fieldferry tests: sources with unit labels, host models exported through
treewalk, small gmsh meshes, and brute-force reference computations."""
import math

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import kelm
import treewalk
from kelm.io import from_vtk_order
from kelm.mesh import ElementTopology as T


def points_of(data):
    if data.GetNumberOfPoints() and not hasattr(data, "GetPoints"):  # an image
        return np.array([data.GetPoint(i) for i in range(data.GetNumberOfPoints())])
    return ns.vtk_to_numpy(data.GetPoints().GetData()).astype(float)


def point_array(data, name):
    array = data.GetPointData().GetArray(name)
    assert array is not None, f"no point array {name!r}"
    return ns.vtk_to_numpy(array)


def string_field(data, name):
    array = data.GetFieldData().GetAbstractArray(name)
    return None if array is None else array.GetValue(0)


def add_string_field(data, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    data.GetFieldData().AddArray(array)


def label_source(data, length="m", pressure_units="Pa", temperature_units="K"):
    """Adds the unit labels a source carries; None leaves a label out."""
    for name, value in (("current_units_length", length), ("units_pressure", pressure_units),
                        ("units_temperature", temperature_units)):
        if value is not None:
            add_string_field(data, name, value)
    return data


def with_fields(data, field):
    """Adds "Pressure" and "Temperature" point arrays = field(points) (and 2x for temperature)."""
    values = field(points_of(data))
    for name, scale in (("Pressure", 1.0), ("Temperature", 2.0)):
        array = ns.numpy_to_vtk(np.ascontiguousarray(values * scale), deep=1)
        array.SetName(name)
        data.GetPointData().AddArray(array)
    return data


def with_face_values(source, values, name="Pressure"):
    """`source` carrying `values` as the cell array `name` (face values, as CFD codes write them),
    with its unit labels."""
    array = ns.numpy_to_vtk(np.asarray(values, dtype=float), deep=1)
    array.SetName(name)
    source.GetCellData().AddArray(array)
    return label_source(source)


def cloud(points, field, length="m"):
    """A point cloud source (no cells) carrying field(points) and unit labels."""
    data = vtk.vtkPolyData()
    vtk_points = vtk.vtkPoints()
    vtk_points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(points, dtype=float), deep=1))
    data.SetPoints(vtk_points)
    return label_source(with_fields(data, field), length)


def polydata(points, triangles):
    data = vtk.vtkPolyData()
    vtk_points = vtk.vtkPoints()
    vtk_points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(points, dtype=float), deep=1))
    data.SetPoints(vtk_points)
    cells = vtk.vtkCellArray()
    for tri in triangles:
        cells.InsertNextCell(len(tri), [int(i) for i in tri])
    data.SetPolys(cells)
    return data


def plane_surface(n, size=1.0, z=0.0, origin=(0.0, 0.0)):
    """An n x n triangulated square in the plane z."""
    xs = np.linspace(0, size, n + 1)
    gx, gy = np.meshgrid(xs + origin[0], xs + origin[1], indexing="ij")
    points = np.column_stack([gx.ravel(), gy.ravel(), np.full(gx.size, z)])
    tris = []
    for i in range(n):
        for j in range(n):
            a, b, c, d = i * (n + 1) + j, (i + 1) * (n + 1) + j, (i + 1) * (n + 1) + j + 1, \
                i * (n + 1) + j + 1
            tris += [(a, b, c), (a, c, d)]
    return polydata(points, tris)


def hex_block(n, size, origin):
    """(coordinates, rows of 8 in VTK order) of a block of n[0] x n[1] x n[2] hexahedra."""
    axes = [np.linspace(o, o + s, k + 1) for o, s, k in zip(origin, size, n)]
    gx, gy, gz = np.meshgrid(*axes, indexing="ij")
    coords = np.column_stack([gx.ravel(), gy.ravel(), gz.ravel()])
    node = lambda i, j, k: (i * (n[1] + 1) + j) * (n[2] + 1) + k  # noqa: E731
    rows = [[node(i, j, k), node(i + 1, j, k), node(i + 1, j + 1, k), node(i, j + 1, k),
             node(i, j, k + 1), node(i + 1, j, k + 1), node(i + 1, j + 1, k + 1),
             node(i, j + 1, k + 1)]
            for i in range(n[0]) for j in range(n[1]) for k in range(n[2])]
    return coords, rows


def hex_block_model(n=(4, 4, 4), size=(1.0, 1.0, 1.0), origin=(0, 0, 0), units="m-kg-s-N-K",
                    name="Block", extra_bodies=()):
    """A host model with one hexahedral block body, exported through treewalk in `units`."""
    kelm.reset()
    kelm.setApplicationUnitSystem(units)
    model = kelm.Model("M")
    part = model.add_part("P")
    coords, rows = hex_block(n, size, origin)
    part.add_mesh(name, 101 + 2 * np.arange(len(coords)), coords,
                  {T.Hexa8: (1001 + np.arange(len(rows)), from_vtk_order(T.Hexa8, rows))})
    for body_name, body_coords, topology, body_rows in extra_bodies:
        part.add_mesh(body_name, 50001 + np.arange(len(body_coords)), body_coords,
                      {topology: (90001 + np.arange(len(body_rows)),
                                  from_vtk_order(topology, body_rows))})
    return treewalk.create_vtk_dataset_from_kelm_entities([model])


def cube_in_bodies(n, cuts):
    """A host model of the unit cube of n^3 hexahedra cut into cuts^3 bodies (each with nodes of
    its own), exported through treewalk in metres."""
    kelm.reset()
    kelm.setApplicationUnitSystem("m-kg-s-N-K")
    model = kelm.Model("M")
    part = model.add_part("P")
    k = n // cuts
    for b, (i, j, l) in enumerate(np.ndindex(cuts, cuts, cuts)):
        coords, rows = hex_block((k, k, k), (k / n,) * 3, (i * k / n, j * k / n, l * k / n))
        part.add_mesh(f"Body {b}", 100000 * (b + 1) + np.arange(len(coords)), coords,
                      {T.Hexa8: (100000 * (b + 1) + np.arange(len(rows)),
                                 from_vtk_order(T.Hexa8, rows))})
    return treewalk.create_vtk_dataset_from_kelm_entities([model])


def leaves(multiblock):
    """[(flat index, dataset)] of the non-empty leaves."""
    it = multiblock.NewIterator()
    it.VisitOnlyLeavesOn()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    out = []
    while not it.IsDoneWithTraversal():
        out.append((it.GetCurrentFlatIndex(), it.GetCurrentDataObject()))
        it.GoToNextItem()
    return out


def nearest_indices(queries, points, chunk=2000):
    """Index of the nearest of `points` for each query point, by brute force."""
    out = np.empty(len(queries), dtype=np.int64)
    for lo in range(0, len(queries), chunk):
        q = queries[lo:lo + chunk]
        d2 = ((q[:, None, :] - points[None, :, :]) ** 2).sum(axis=2)
        out[lo:lo + chunk] = d2.argmin(axis=1)
    return out


def has_point_within(queries, points, radius):
    """Whether a point lies within `radius` of each query, by a KD-tree (a different locator from
    the one the module's kernels use)."""
    data = vtk.vtkPolyData()
    vtk_points = vtk.vtkPoints()
    vtk_points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(points, dtype=float), deep=1))
    data.SetPoints(vtk_points)
    tree = vtk.vtkKdTreePointLocator()
    tree.SetDataSet(data)
    tree.BuildLocator()
    found = vtk.vtkIdList()
    out = np.empty(len(queries), dtype=bool)
    for i, q in enumerate(np.asarray(queries, dtype=float)):
        tree.FindPointsWithinRadius(radius, q, found)
        out[i] = found.GetNumberOfIds() > 0
    return out


def expected_splat_mask(target_points, source_points, radius):
    """The "Coarse to fine" validity computed independently: the grid over the target's bounds
    (101 points per axis), the corners of each point's grid cell that weigh in on it (non-zero
    trilinear weight above 1e-9), and a KD-tree radius search around each of those corners."""
    lo, hi = target_points.min(axis=0), target_points.max(axis=0)
    extent = hi - lo
    spacing = np.where(extent > 0, extent / 100, extent.max() / 100)
    t = (target_points - lo) / spacing
    cell = np.clip(np.floor(t), 0, 99).astype(int)
    frac = t - cell
    axis_choices = [[(cell[:, a], frac[:, a] < 1 - 1e-9), (cell[:, a] + 1, frac[:, a] > 1e-9)]
                    for a in range(3)]
    ids = []
    for ci, wi in axis_choices[0]:
        for cj, wj in axis_choices[1]:
            for ck, wk in axis_choices[2]:
                ids.append((ci + 101 * (cj + 101 * ck), wi & wj & wk))
    needed = np.unique(np.concatenate([i[w] for i, w in ids]))
    ijk = np.column_stack([needed % 101, (needed // 101) % 101, needed // 10201])
    valid_corner = dict(zip(needed, has_point_within(lo + ijk * spacing, source_points, radius)))
    mask = np.ones(len(target_points), dtype=bool)
    for i, w in ids:
        ok = np.array([valid_corner.get(x, True) for x in i])
        mask &= ~w | ok
    return mask


# -- gmsh meshes ---------------------------------------------------------------------------------

def _gmsh():
    import pytest
    return pytest.importorskip("gmsh")


def gmsh_box_with_hole(size=0.1):
    """Linear tetrahedra of a 1 x 1 x 0.4 box with a hole of radius 0.25: (points, tets)."""
    gmsh = _gmsh()
    gmsh.initialize()
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.model.add("bracket")
        box = gmsh.model.occ.addBox(0, 0, 0, 1, 1, 0.4)
        hole = gmsh.model.occ.addCylinder(0.5, 0.5, -0.1, 0, 0, 0.6, 0.25)
        gmsh.model.occ.cut([(3, box)], [(3, hole)])
        gmsh.model.occ.synchronize()
        gmsh.option.setNumber("Mesh.MeshSizeMax", size)
        gmsh.model.mesh.generate(3)
        tags, coords, _ = gmsh.model.mesh.getNodes()
        points = coords.reshape(-1, 3)
        position = {t: i for i, t in enumerate(tags)}
        _, _, nodes = gmsh.model.mesh.getElements(3)
        tets = np.array([position[t] for t in nodes[0]]).reshape(-1, 4)
    finally:
        gmsh.finalize()
    used = np.unique(tets)
    remap = np.full(len(points), -1)
    remap[used] = np.arange(len(used))
    return points[used], remap[tets]


def gmsh_cylinder_shell(size):
    """Triangles of the lateral surface of a cylinder of radius 0.5, height 1: (points, tris)."""
    gmsh = _gmsh()
    gmsh.initialize()
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.model.add("shell")
        gmsh.model.occ.addCylinder(0, 0, 0, 0, 0, 1, 0.5)
        gmsh.model.occ.synchronize()
        gmsh.option.setNumber("Mesh.MeshSizeMax", size)
        gmsh.model.mesh.generate(2)
        lateral = [tag for dim, tag in gmsh.model.getEntities(2)
                   if abs(gmsh.model.occ.getMass(dim, tag) - np.pi) < 1e-6]
        tags, coords, _ = gmsh.model.mesh.getNodes()
        position = {t: i for i, t in enumerate(tags)}
        tris = []
        for surface in lateral:
            _, _, nodes = gmsh.model.mesh.getElements(2, surface)
            tris.append(np.array([position[t] for t in nodes[0]]).reshape(-1, 3))
        tris = np.vstack(tris)
        points = coords.reshape(-1, 3)
    finally:
        gmsh.finalize()
    used = np.unique(tris)
    remap = np.full(len(points), -1)
    remap[used] = np.arange(len(used))
    return points[used], remap[tris]


def host_model_of(points, topology, rows, units="m-kg-s-N-K", name="Body"):
    """A host model with one body of the given cells (VTK order, coordinates in metres), exported
    through treewalk in `units`."""
    kelm.reset()
    kelm.setApplicationUnitSystem(units)
    model = kelm.Model("M")
    part = model.add_part("P")
    part.add_mesh(name, 11 + np.arange(len(points)), np.asarray(points),
                  {topology: (7 + np.arange(len(rows)), from_vtk_order(topology, rows))})
    return treewalk.create_vtk_dataset_from_kelm_entities([model])


def cylinder_wall(around, along, start=0.0, stop=360.0, centre=(0.0, 0.0, 0.0)):
    """(points, triangles) of a cylinder's wall of radius 1 and height 1 about the z axis through
    `centre`, from `start` to `stop` degrees in `around` steps (the whole round closes on itself)
    and `along` steps up it."""
    whole = stop - start >= 360.0
    angles = np.radians(np.linspace(start, stop, around + (0 if whole else 1), endpoint=not whole))
    ring = len(angles)
    points = np.array([[math.cos(a), math.sin(a), z] for z in np.linspace(0, 1, along + 1)
                       for a in angles]) + centre
    tris = []
    for k in range(along):
        for i in range(around):
            a, b = k * ring + i, k * ring + (i + 1) % ring
            tris += [(a, b, b + ring), (a, b + ring, a + ring)]
    return points, tris
