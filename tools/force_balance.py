"""The force balance of a mapped pressure: the force the source's pressure puts on the structure
against the force the load puts on it, per body and in total.

One convention on both sides: the force on the structure, in newtons, with its moment about the
model's origin in N m, both in the model's axes.

- The source's pressure acts along its face normals: F = +sum(p A n). A CFD code's wall normals
  point out of the fluid, so they point onto the wall, the way the fluid pushes it.
- A loaded face's pressure pushes against the face's normal, as the host applies it:
  F = -sum(p A n), with n a solid face's outward normal or a shell element's normal (the face
  rows the load writer hands the host keep that orientation).

A correct load shows the same force on both sides. A shell takes the side of the fluid from the
source's normals, so a source whose normals point into the fluid (not out of it, onto the wall)
shows the force turned round; a solid wall loaded on its dry side as well as its wet one shows it
much smaller or turned round.

Which source faces a body's balance takes, the same whatever the mapping method: the wetted
source faces over the body's whole surface, loaded or not. A source face belongs to the body
whose surface face lies nearest its centre, when that distance is within the reach (the mapping's
tolerance, or without one the source face's longest edge: the gap between two meshings of one
wall is far smaller), the centre lies over that face, not beyond the rim of the surface (its
offset from the nearest point leans at most 45 degrees from the face's normal; one beyond a rim
lies along the surface), and, for a solid, the source face faces it as in the mapping's facing
test (its normal within 60 degrees of the face's inward normal: ground next to a building is
not the building's). Source faces no body takes (inlets, walls the model leaves out, ground)
belong to none; the total compares the source faces some body takes with all loaded faces, and
the whole source surface's force is given besides.
"""
import math

import numpy as np
import vtk
from vtk.util import numpy_support as ns

CONVENTION = ("force on the structure: the source's pressure acts along its face normals "
              "(F = +sum p A n; CFD normals point out of the fluid, onto the wall), a loaded "
              "face's pressure pushes against the face's outward normal (solids) or its element "
              "normal (shells) (F = -sum p A n); a correct load shows equal forces. Moments "
              "about the model's origin.")
SIZE_TOLERANCE = 0.02  # a loaded force this much larger or smaller than the source's is flagged
ANGLE_TOLERANCE = 5.0  # degrees between the two forces that are flagged
# A net force smaller than this share of the pressure's gross force (sum of |p| A) is a balance
# of large opposite forces (a closed or nearly closed surface): its size and direction are
# mapping noise and are not judged.
NET_SHARE = 0.01


_PARTS = ("xyz", "a", "c", "edge", "p", "q")


class Triangles:
    """Triangles in model coordinates with their pressure: corners `xyz`, area vectors `a`
    (|a| = area, along the face normal), mean pressure `p`, the pressure-weighted centre `q` (the
    integral of p r over the triangle divided by its area, exact for a linear pressure, so q x a
    is the moment of p a), the centres `c` and the longest edge. Triangles without a finite
    pressure are dropped."""

    def __init__(self, xyz, pressures):
        """xyz: (n, 3, 3) corners, pressures: (n, 3) at the corners or (n,) per triangle."""
        self.xyz = xyz
        a, b, c = xyz[:, 0], xyz[:, 1], xyz[:, 2]
        self.a = 0.5 * np.cross(b - a, c - a)
        self.c = xyz.mean(axis=1)
        self.edge = np.sqrt(np.max([((b - a) ** 2).sum(1), ((c - b) ** 2).sum(1),
                                    ((a - c) ** 2).sum(1)], axis=0)) if len(xyz) else np.zeros(0)
        if pressures.ndim == 1:
            self.p, self.q = pressures, pressures[:, None] * self.c
        else:
            self.p = pressures.mean(axis=1)
            self.q = (pressures.sum(axis=1)[:, None] * xyz.sum(axis=1)
                      + (pressures[:, :, None] * xyz).sum(axis=1)) / 12.0
        keep = np.isfinite(self.p)
        for name in _PARTS:
            setattr(self, name, getattr(self, name)[keep])

    def __len__(self):
        return len(self.p)

    def part(self, which):
        out = Triangles.__new__(Triangles)
        for name in _PARTS:
            setattr(out, name, getattr(self, name)[which])
        return out

    @staticmethod
    def joined(parts):
        """All triangles of `parts` (a list of Triangles) in one."""
        out = Triangles(np.zeros((0, 3, 3)), np.zeros((0, 3)))
        for name in _PARTS:
            setattr(out, name, np.concatenate([getattr(out, name)]
                                              + [getattr(t, name) for t in parts]))
        return out

    def force(self, sign):
        """(force, moment about the origin, gross force sum |p| A) with F = sign * sum(p a)."""
        force = sign * (self.p[:, None] * self.a).sum(axis=0)
        moment = sign * np.cross(self.q, self.a).sum(axis=0)
        gross = float((np.abs(self.p) * np.linalg.norm(self.a, axis=1)).sum())
        return force, moment, gross


# The two triangles of a quadrilateral, as corner positions: split along the diagonal 0-2, or
# along 1-3 for one bent in at corner 1 or 3, past which the diagonal 0-2 runs outside it.
_QUAD_SPLITS = np.array([[[0, 1, 2], [0, 2, 3]], [[1, 2, 3], [3, 0, 1]]])


def _face_splits(points):
    """(m, width - 2, 3) corner positions of the triangles that cover each of the m faces whose
    corners are `points` (m, width, 3), turning as the faces do."""
    if points.shape[1] == 3:
        return np.zeros((len(points), 1, 3), np.int64) + [0, 1, 2]
    normal = np.cross(points[:, 2] - points[:, 0], points[:, 3] - points[:, 1])

    def turn(k):
        return (np.cross(points[:, k] - points[:, k - 1], points[:, (k + 1) % 4] - points[:, k])
                * normal).sum(axis=1)
    return _QUAD_SPLITS[((turn(1) < 0) | (turn(3) < 0)).astype(np.int64)]


def loaded_triangles(leaf, field):
    """The faces a pressure load took (`field`: "face_identifiers" and their "pressures", as
    handed to the host) at the leaf's coordinates of their nodes, each face split into the
    triangles that cover it, turning as the face row does (its normal is the one the host's
    pressure pushes against)."""
    rows, pressures = field["face_identifiers"], field["pressures"]
    ids = leaf.GetPointData().GetArray("Node ID")
    if not rows or ids is None:
        return Triangles(np.zeros((0, 3, 3)), np.zeros((0, 3)))
    ids = ns.vtk_to_numpy(ids).astype(np.int64)
    order = np.argsort(ids, kind="stable")
    xyz = ns.vtk_to_numpy(leaf.GetPoints().GetData()).astype(np.float64)
    corners, values = [], []
    for width in (3, 4):
        picked = [i for i, row in enumerate(rows) if len(row) == width]
        if not picked:
            continue
        nodes = np.array([rows[i] for i in picked], np.int64)
        p = np.array([pressures[i] for i in picked], np.float64)
        points = xyz[order[np.searchsorted(ids, nodes, sorter=order)]]
        splits, rows = _face_splits(points), np.arange(len(points))[:, None]
        for k in range(width - 2):
            corners.append(points[rows, splits[:, k]])
            values.append(p[rows, splits[:, k]])
    return Triangles(np.concatenate(corners), np.concatenate(values))


def is_surface(dataset):
    """Whether a source is a surface with faces: polydata with polygons, or a grid of surface
    cells only (not a volume, not a point cloud)."""
    if dataset.IsA("vtkPolyData"):
        return dataset.GetNumberOfPolys() > 0
    if dataset.GetNumberOfCells() == 0 or dataset.GetMaxCellSize() == 0:
        return False
    types = vtk.vtkCellTypes()
    dataset.GetCellTypes(types)
    cell = vtk.vtkGenericCell()
    for i in range(types.GetNumberOfTypes()):
        cell.SetCellType(types.GetCellType(i))
        if cell.GetCellDimension() != 2:
            return False
    return True


def _as_surface(dataset):
    """The polygons of a source: itself when it is polydata, the faces of a grid of surface
    cells, None for a volume or a point cloud (no surface to take a force on)."""
    if not is_surface(dataset):
        return None
    if dataset.IsA("vtkPolyData"):
        return dataset
    geometry = vtk.vtkGeometryFilter()
    geometry.SetInputData(dataset)
    geometry.Update()
    return geometry.GetOutput()


def _triangulated(dataset):
    """(the dataset's polygons as triangles (vtkPolyData, verts and lines dropped), their points
    in float64, their corners (n, 3))."""
    triangles = vtk.vtkTriangleFilter()
    triangles.SetInputData(dataset)
    triangles.PassLinesOff()
    triangles.PassVertsOff()
    triangles.Update()
    tri = triangles.GetOutput()
    if tri.GetPoints() is None or not tri.GetNumberOfPolys():
        return tri, np.zeros((0, 3)), np.zeros((0, 3), np.int64)
    xyz = ns.vtk_to_numpy(tri.GetPoints().GetData()).astype(np.float64)
    conn = ns.vtk_to_numpy(tri.GetPolys().GetConnectivityArray()).reshape(-1, 3)
    return tri, xyz, conn


def source_triangles(dataset, field_name, length_factor=1.0, transform=None):
    """The triangles of a source's surface, placed as the mapping placed the source (lengths
    times `length_factor`, then moved by the 4x4 `transform`), with the field's face values (each
    on its own face) or point values (at the corners); None when the source has no surface (a
    point cloud, a volume) or no such field."""
    import fieldferry
    if length_factor != 1.0 or transform is not None:
        dataset = fieldferry.place_source(
            dataset, length_factor, None if transform is None else np.asarray(transform).tolist())
    surface = _as_surface(dataset)
    if surface is None:
        return None
    on_faces = surface.GetPointData().GetArray(field_name) is None
    if on_faces and surface.GetCellData().GetArray(field_name) is None:
        return None
    tri, xyz, conn = _triangulated(surface)
    if on_faces:
        pressure = ns.vtk_to_numpy(tri.GetCellData().GetArray(field_name)).astype(np.float64)
        pressure = pressure.reshape(len(pressure), -1)[:, 0][-len(conn):]  # after verts, lines
    else:
        p = ns.vtk_to_numpy(tri.GetPointData().GetArray(field_name)).astype(np.float64)
        pressure = p.reshape(len(p), -1)[:, 0][conn]
    return Triangles(xyz[conn], pressure)


def _polydata(xyz):
    """A vtkPolyData of triangles from (n, 3, 3) corners."""
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(xyz.reshape(-1, 3)), deep=1))
    cells = vtk.vtkCellArray()
    n = len(xyz)
    cells.SetData(ns.numpy_to_vtk(np.arange(0, 3 * n + 1, 3, dtype=np.int64), deep=1,
                                  array_type=vtk.VTK_ID_TYPE),
                  ns.numpy_to_vtk(np.arange(3 * n, dtype=np.int64), deep=1,
                                  array_type=vtk.VTK_ID_TYPE))
    poly = vtk.vtkPolyData()
    poly.SetPoints(points)
    poly.SetPolys(cells)
    return poly


def _unit(vectors):
    size = np.linalg.norm(vectors, axis=1)
    return vectors / np.where(size > 0, size, 1.0)[:, None]


def _over_faces(source, faces, reach):
    """(picked, cell, normal): the source triangles (indices) whose centre lies within `reach`
    (per source triangle) of the nearest of `faces` (Triangles) and over that face rather than
    beyond the surface's rim (the offset leans at most 45 degrees from the face's normal; a rim's
    overshoot lies along the surface), with that face's index and unit normal."""
    none = np.zeros(0, np.int64)
    if not len(faces) or not len(source):
        return none, none, np.zeros((0, 3))
    low, high = faces.xyz.reshape(-1, 3).min(axis=0), faces.xyz.reshape(-1, 3).max(axis=0)
    # Only the source faces near the faces' box are looked up: the rest are out of reach.
    near = np.flatnonzero(((source.c >= low - reach[:, None])
                           & (source.c <= high + reach[:, None])).all(axis=1))
    locator = vtk.vtkStaticCellLocator()
    locator.SetDataSet(_polydata(faces.xyz))
    locator.BuildLocator()
    closest = np.zeros((len(near), 3))
    cells = np.zeros(len(near), np.int64)
    point, cell, sub, d2 = [0.0, 0.0, 0.0], vtk.reference(0), vtk.reference(0), vtk.reference(0.0)
    for k, centre in enumerate(source.c[near].tolist()):
        locator.FindClosestPoint(centre, point, cell, sub, d2)
        closest[k], cells[k] = point, cell
    offset = source.c[near] - closest
    distance = np.linalg.norm(offset, axis=1)
    normal = _unit(faces.a[cells])
    along = np.abs((offset * normal).sum(axis=1))
    on_face = distance <= 1e-6 * source.edge[near]
    over = along >= distance * math.sqrt(0.5)
    ok = (distance <= reach[near]) & (on_face | over)
    return near[ok], cells[ok], normal[ok]


def _reach(source, tolerance):
    return np.full(len(source), float(tolerance)) if tolerance is not None else source.edge


def coverage(source, bodies, tolerance):
    """(owner, agree): for each source triangle, the index into `bodies` (each body's loaded
    Triangles) of the body whose loaded face lies under it (see _over_faces; within the
    tolerance, or without one the source face's longest edge), -1 for none, and how its normal
    and that loaded face's agree (NaN for none): +1 where the load pushes the way the source does
    (a wetted solid face, a shell facing the fluid), -1 where it pushes the other way (a shell
    facing away from the fluid, not turned round)."""
    owner = np.full(len(source), -1)
    agree = np.full(len(source), np.nan)
    loaded = Triangles.joined(bodies)
    picked, cells, normal = _over_faces(source, loaded, _reach(source, tolerance))
    body_of = np.repeat(np.arange(len(bodies)), [len(b) for b in bodies])
    owner[picked] = body_of[cells]
    # The two faces' forces, +p a on the source and -p a on the load, each as a direction.
    agree[picked] = (-(_unit(source.a[picked]) * normal).sum(axis=1)
                     * np.sign(source.p[picked]) * np.sign(loaded.p[cells]))
    return owner, agree


def surface_triangles(leaf):
    """A mapped body's whole surface (its faces in their own winding, outward on a solid), loaded
    or not, as Triangles without a pressure (0)."""
    _, xyz, conn = _triangulated(leaf)
    if not len(conn):
        return Triangles(np.zeros((0, 3, 3)), np.zeros((0, 3)))
    return Triangles(xyz[conn], np.zeros(len(conn)))


def ownership(source, surfaces, solid, tolerance):
    """For each source triangle, the index into `surfaces` (each body's whole surface, from
    surface_triangles) of the body that takes it, -1 for none: the body whose surface face lies
    under it (see _over_faces; within the tolerance, or without one the source face's longest
    edge) and, for a `solid` body, faces it (the source face's normal points into the body). The
    wetted source faces a body takes are decided by geometry alone, so its source force does not
    depend on which of its faces a mapping method loaded. A source face faces a solid's face as
    in the mapping's facing test (fieldferry.facing_cosine): ground next to a building, its
    normal along the building's walls or its bottom's outward normal, is not the building's."""
    import fieldferry
    owner = np.full(len(source), -1)
    picked, cells, normal = _over_faces(source, Triangles.joined(surfaces),
                                        _reach(source, tolerance))
    body_of = np.repeat(np.arange(len(surfaces)), [len(b) for b in surfaces])[cells]
    facing = (_unit(source.a[picked]) * normal).sum(axis=1) < -fieldferry.facing_cosine
    keep = facing | ~np.asarray(solid, bool)[body_of]
    owner[picked[keep]] = body_of[keep]
    return owner


def _angle(u, v):
    nu, nv = np.linalg.norm(u), np.linalg.norm(v)
    if nu == 0 or nv == 0:
        return None
    return math.degrees(math.acos(max(-1.0, min(1.0, float(np.dot(u, v) / (nu * nv))))))


def orientation(source, agree):
    """The pressure- and area-weighted mean of `agree` over source triangles: +1 when every loaded
    face under them pushes the way the source does, -1 when every one pushes the other way."""
    weight = np.abs(source.p) * np.linalg.norm(source.a, axis=1)
    ok = np.isfinite(agree)
    total = weight[ok].sum()
    return float((weight[ok] * agree[ok]).sum() / total) if total > 0 else None


def balance(source, loaded, force_factor, moment_factor, agree=None):
    """One balance entry from the source triangles a body (or all bodies) covers and its loaded
    triangles; forces times `force_factor` (to N), moments times `moment_factor` (to N m).
    `agree` (per source triangle, from coverage) judges the direction of loads whose net force is
    too small to judge: a reversed shell under a nearly even pressure."""
    f_src, m_src, gross_src = source.force(+1.0)
    f_load, m_load, gross_load = loaded.force(-1.0)
    size_src, size_load = float(np.linalg.norm(f_src)), float(np.linalg.norm(f_load))
    entry = {  # + 0.0 turns a -0.0 into 0.0
        "source": (f_src * force_factor + 0.0).tolist(),
        "loaded": (f_load * force_factor + 0.0).tolist(),
        "source_moment": (m_src * moment_factor + 0.0).tolist(),
        "loaded_moment": (m_load * moment_factor + 0.0).tolist(),
        "source_faces": len(source),
        "ratio": size_load / size_src if size_src else None,
        "angle": _angle(f_src, f_load),
    }
    if not len(loaded):
        entry["check"] = "nothing loaded"
    elif not len(source):
        entry["check"] = "no source"
    elif gross_src == 0 and gross_load == 0:
        entry["check"] = "not judged"  # a pressure of 0 on both sides (a fluid at rest)
    elif gross_src == 0 or gross_load == 0:
        entry["check"] = "differs"  # the pressure of one side is 0 on every face, the other's not
    elif agree is not None and (orientation(source, agree) or 0.0) < 0:
        entry["check"] = "opposite"  # most of the pressure pushes the wall into the fluid
    elif size_src < NET_SHARE * gross_src and size_load < NET_SHARE * gross_load:
        entry["check"] = "not judged"
    elif entry["angle"] is not None and entry["angle"] > 90.0:
        entry["check"] = "opposite"
    elif (entry["ratio"] is None or abs(entry["ratio"] - 1.0) > SIZE_TOLERANCE
          or entry["angle"] is None or entry["angle"] > ANGLE_TOLERANCE):
        entry["check"] = "differs"
    else:
        entry["check"] = "ok"
    return entry


FLAGGED = ("differs", "opposite", "no source")


def warning(name, entry, unit):
    """The warning line of a flagged balance entry (None when it is not flagged). `name` is
    "body 'X'" or "all bodies"."""
    check = entry.get("check")
    if check not in FLAGGED:
        return None
    size_src = float(np.linalg.norm(entry["source"]))
    size_load = float(np.linalg.norm(entry["loaded"]))
    if check == "no source":
        return (f"Warning: {name}: loaded force {size_load:.4g} {unit}, but no source face lies "
                "within reach of its loaded faces to compare it with")
    if check == "opposite":
        apart = ("its faces push against the source's" if entry["angle"] is None
                 else f"{entry['angle']:.0f} degrees apart")
        return (f"Warning: {name}: loaded force {size_load:.4g} {unit} points against the "
                f"source's {size_src:.4g} {unit} ({apart}): a source whose normals point "
                "into the fluid (shells take the fluid's side from them), or a solid loaded on "
                "both sides")
    if size_src == 0:  # no size or direction to measure the load against
        return (f"Warning: {name}: loaded force {size_load:.4g} {unit} against a source force of "
                f"0 {unit}: the source's pressure is 0 or balanced on the faces the body takes")
    percent = 100.0 * abs(size_load - size_src) / size_src
    direction = "" if entry["angle"] is None else f" and {entry['angle']:.3g} degrees in direction"
    return (f"Warning: {name}: loaded force {size_load:.4g} {unit} differs from the source's "
            f"{size_src:.4g} {unit} by {percent:.3g} % in size{direction}")
