"""Small ready-made host models for tests and examples.

Node and element IDs are deliberately not positions (they start at 101 / 1001 and leave gaps) so
that code mixing up IDs and positions fails. Elements are defined in VTK node order and brought
into the host's order, so a correct host-to-VTK conversion gives valid, positive-volume cells.
"""
import itertools

import numpy as np

from ._core import EntityType, Model
from .geometry import Tessellation
from .io import from_vtk_order
from .mesh import ElementTopology as T

_HEX = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)]
_WEDGE = [(0, 0, 0), (0, 1, 0), (1, 0, 0), (0, 0, 1), (0, 1, 1), (1, 0, 1)]
_TET = [(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)]
_TRI = [(0, 0, 0), (1, 0, 0), (0, 1, 0)]
_QUAD = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
# Mid-edge nodes of the quadratic cells, as pairs of corners, in VTK order.
_EDGES = {
    T.Tria6: [(0, 1), (1, 2), (2, 0)],
    T.Quad8: [(0, 1), (1, 2), (2, 3), (3, 0)],
    T.Tetra10: [(0, 1), (1, 2), (2, 0), (0, 3), (1, 3), (2, 3)],
    T.Penta15: [(0, 1), (1, 2), (2, 0), (3, 4), (4, 5), (5, 3), (0, 3), (1, 4), (2, 5)],
    T.Hexa20: [(0, 1), (1, 2), (2, 3), (3, 0), (4, 5), (5, 6), (6, 7), (7, 4),
               (0, 4), (1, 5), (2, 6), (3, 7)],
}
_CORNERS = {T.Bar2: [(0, 0, 0), (1, 0, 0)], T.Tria3: _TRI, T.Tria6: _TRI, T.Quad4: _QUAD,
            T.Quad8: _QUAD, T.Tetra4: _TET, T.Tetra10: _TET, T.Penta6: _WEDGE,
            T.Penta15: _WEDGE, T.Hexa8: _HEX, T.Hexa20: _HEX}


def single_element(topology, origin=(0, 0, 0), size=1.0):
    """(coordinates, host-order connectivity row) of one element with unit-ish corners."""
    corners = np.array(_CORNERS[topology], dtype=float)
    mids = [(corners[a] + corners[b]) / 2 for a, b in _EDGES.get(topology, [])]
    points = np.vstack([corners, *mids]) * size + origin
    return points, from_vtk_order(topology, [np.arange(len(points))])


class _Ids:
    """Hands out increasing IDs with gaps: 101, 104, 107, ... then a jump for the next body."""

    def __init__(self, start, step=3):
        self.next, self.step = start, step

    def take(self, count):
        ids = self.next + self.step * np.arange(count)
        self.next += self.step * count + 50
        return ids


def element_zoo(model=None, *, deliver_as_lists=False):
    """One single-element mesh body per topology, in part "Zoo"; returns {topology: body}."""
    model = model or Model("Element zoo", deliver_as_lists=deliver_as_lists)
    part = model.add_part("Zoo")
    nodes, elements = _Ids(101), _Ids(1001, 2)
    zoo = {}
    for topology in T:
        points, row = single_element(topology)
        zoo[topology] = part.add_mesh(topology.name, nodes.take(len(points)), points,
                                      {topology: (elements.take(1), row)})
    return zoo


def geometry_zoo(model=None, *, deliver_as_lists=False):
    """One geometry body per kind in part "Shapes": a unit-cube Solid, a square Surface, a Curve,
    a Point and an Edge (a kind the host has but that has no whole-body tessellation)."""
    model = model or Model("Geometry zoo", deliver_as_lists=deliver_as_lists)
    part = model.add_part("Shapes")
    cube_faces = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)]
    cube_edges = _EDGES[T.Hexa20]
    solid = Tessellation(_HEX, vertices=([1] * 8, range(8)),
                         edges=([1] * 12, [i for e in cube_edges for i in e]),
                         faces=([2] * 6, [i for a, b, c, d in cube_faces for i in (a, b, c, a, c, d)]))
    curve_points = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (2, 1, 0)]
    return {
        EntityType.Solid: part.add_geometry("Cube", EntityType.Solid, solid),
        EntityType.Surface: part.add_geometry("Square", EntityType.Surface, square(),
                                              color=(255, 128, 0)),
        EntityType.Curve: part.add_geometry("Polyline", EntityType.Curve, Tessellation(
            curve_points, vertices=([1, 1], [0, 3]), edges=([3], [0, 1, 1, 2, 2, 3]))),
        EntityType.Point: part.add_geometry("Apex", EntityType.Point, Tessellation(
            [(0.5, 0.5, 2.0)], vertices=([1], [0]))),
        EntityType.Edge: part.add_geometry("Loose edge", EntityType.Edge, Tessellation(
            curve_points[:2], vertices=([1, 1], [0, 1]), edges=([1], [0, 1]))),
    }


def square(size=1.0, z=0.0):
    """Tessellation of a square face: 4 vertex cells, 4 edge segments, 2 triangles."""
    points = np.array([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)], float) * size + (0, 0, z)
    return Tessellation(points, vertices=([1, 1, 1, 1], [0, 1, 2, 3]),
                        edges=([1, 1, 1, 1], [0, 1, 1, 2, 2, 3, 3, 0]),
                        faces=([2], [0, 1, 2, 0, 2, 3]))


def _kuhn_tetra10(size, origin):
    """A cube cut into six Tetra10 sharing their mid-edge nodes: (points, host rows)."""
    corners = np.array(_HEX, float)
    index = {tuple(c): i for i, c in enumerate(_HEX)}
    tets = []
    for axes in itertools.permutations(range(3)):
        path = [np.zeros(3)]
        for axis in axes:
            path.append(path[-1] + np.eye(3)[axis])
        tet = [index[tuple(p.astype(int))] for p in path]
        a, b, c, d = corners[tet]
        if np.dot(np.cross(b - a, c - a), d - a) < 0:
            tet[1], tet[2] = tet[2], tet[1]
        tets.append(tet)
    points, mids, rows = list(corners), {}, []
    for tet in tets:
        row = list(tet)
        for a, b in _EDGES[T.Tetra10]:
            key = tuple(sorted((tet[a], tet[b])))
            if key not in mids:
                mids[key] = len(points)
                points.append((corners[key[0]] + corners[key[1]]) / 2)
            row.append(mids[key])
        rows.append(row)
    return np.array(points) * size + origin, np.array(rows)


def sample_model(*, deliver_as_lists=False, flat_coordinates=False, name="Sample"):
    """A small model of every kind of body, lengths in metres (the parts are 0.1 m cubes):

    Sample
      Frame (part)            Beams: BarMesh, 3 Bar2;  Masses: PointMesh, 3 nodes
      Housing (assembly)
        Block (part)          Block mesh: HexMesh, 2 Hexa8 + 1 Hexa20
        Insert (part)         Insert mesh: SolidMesh, 6 Tetra10 filling a cube
        Cover assembly (assembly)
          Cover (part)        Cover shell: SurfaceMesh, 2 Quad4 + 2 Tria3;
                              Cover face: Surface geometry body, 2 triangles
    """
    s = 0.1
    model = Model(name, deliver_as_lists=deliver_as_lists, flat_coordinates=flat_coordinates)
    nodes, elements = _Ids(101), _Ids(1001, 2)

    frame = model.add_part("Frame")
    beam_points = np.array([(x, 0, 2) for x in range(4)], float) * s
    frame.add_mesh("Beams", nodes.take(4), beam_points,
                   {T.Bar2: (elements.take(3), [(0, 1), (1, 2), (2, 3)])}, color=(0, 0, 255))
    frame.add_mesh("Masses", nodes.take(3), beam_points[:3] + (0, 0, s), kind="point",
                   color=(255, 255, 0))

    housing = model.add_assembly("Housing")
    lattice = np.array([(x, y, z) for z in (0, 1) for y in (0, 1) for x in (0, 1, 2)], float)
    hexa8 = [(0, 1, 4, 3, 6, 7, 10, 9), (1, 2, 5, 4, 7, 8, 11, 10)]
    hexa20_points, hexa20_row = single_element(T.Hexa20, origin=(2, 0, 0))
    housing.add_part("Block").add_mesh(
        "Block mesh", nodes.take(12 + 20), np.vstack([lattice, hexa20_points]) * s,
        {T.Hexa8: (elements.take(2), hexa8), T.Hexa20: (elements.take(1), hexa20_row + 12)},
        color=(200, 30, 30))
    tet_points, tet_rows = _kuhn_tetra10(s, (4 * s, 0, 0))
    housing.add_part("Insert").add_mesh("Insert mesh", nodes.take(len(tet_points)), tet_points,
                                        {T.Tetra10: (elements.take(6), tet_rows)},
                                        color=(30, 160, 30))

    cover = housing.add_assembly("Cover assembly").add_part("Cover")
    shell_points = np.array([(x, y, 1.5) for y in (0, 1) for x in range(4)], float) * s
    cover.add_mesh("Cover shell", nodes.take(8), shell_points,
                   {T.Quad4: (elements.take(2), [(0, 1, 5, 4), (1, 2, 6, 5)]),
                    T.Tria3: (elements.take(2), [(2, 3, 7), (2, 7, 6)])},
                   color=(128, 128, 255))
    cover.add_geometry("Cover face", EntityType.Surface, square(3 * s, 1.6 * s),
                       color=(255, 128, 0))
    return model
