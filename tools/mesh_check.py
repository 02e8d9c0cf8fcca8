"""The check of the FE mesh kelm-map reads: no element inverted or collapsed.

A mesh whose node order a converter got wrong (a Tetra10 with two mid-side nodes swapped, a
hexahedron numbered the other way round) still maps and loads, and shows itself only as faces
beyond the tolerance and a force that does not balance. Its elements' Jacobians do show it: the
Jacobian of an element's map from its parametric cell, evaluated at every node (the corners, and
for quadratic elements the mid-side nodes, where a swapped pair turns it round while a moderately
curved edge does not), has to keep the sign of a sound element everywhere and must not vanish.

- Solids: the determinant, signed so that a sound element is one whose faces (VTK's, which are
  the host's pressure faces) turn outward. For VTK's wedges that is the mirror of their
  parametric cell, so a wedge is sound with a negative parametric determinant.
- Shells: a shell's side has no meaning by itself (the fluid's side comes from the source), so
  an element is bad where its normal vanishes (no area) or turns against the element's mean
  normal (folded over: a twisted quadrilateral, a swapped mid-side pair).
- Bars: where their tangent vanishes (no length).

Every test is relative to the element's size: a measure no larger than RELATIVE_ZERO times the
size to its power counts as zero. The shape functions' derivatives are VTK's own, for the node
order of the exported grids; elements are checked in stretches of whole arrays per cell type.
"""
import functools

import numpy as np
import vtk
from vtk.util import numpy_support as ns

RELATIVE_ZERO = 1e-12
STRETCH = 1 << 13  # elements per stretch: an array of one value per element stays small
LISTED = 10  # element IDs named per body


@functools.lru_cache(maxsize=None)
def shape_derivatives(cell_type):
    """(derivatives, dimension, sign) of a VTK cell type, None for a type without shape
    functions: the parametric derivatives of its shape functions at its nodes, (nodes,
    dimension * points) with column k * points + p holding dN_i / d xi_k at evaluation point p
    (the nodes with distinct derivatives); the cell's dimension; `sign` +1 or -1, the sign of
    the determinant of a sound solid."""
    cell = vtk.vtkGenericCell()
    cell.SetCellType(cell_type)
    n, dim = cell.GetNumberOfPoints(), cell.GetCellDimension()
    if cell_type == vtk.VTK_EMPTY_CELL or n == 0 or dim == 0:
        return None
    pcoords = np.array(cell.GetParametricCoords()[:3 * n]).reshape(n, 3)
    at_nodes = np.zeros((dim, n, n))  # [k, p, i] = dN_i / d xi_k at node p
    for p, point in enumerate(pcoords):
        derivs = [0.0] * (dim * n)
        cell.InterpolateDerivs(point.tolist(), derivs)
        at_nodes[:, p] = np.reshape(derivs, (dim, n))
    # A node where the parametric cell's own Jacobian is singular (a pyramid's apex) says
    # nothing about an element's shape there.
    regular = np.linalg.svd(np.einsum("ic,kpi->pck", pcoords, at_nodes), compute_uv=False)
    at_nodes = at_nodes[:, regular.min(axis=1) > 1e-9]
    # A linear simplex's derivatives are the same at every node: each distinct set counts once.
    at_points = at_nodes[:, np.unique(at_nodes.round(12).transpose(1, 0, 2).reshape(
        at_nodes.shape[1], -1), axis=0, return_index=True)[1]]
    derivs = at_points.transpose(2, 0, 1).reshape(n, -1)
    derivs[np.abs(derivs) < 1e-12] = 0.0  # round-off of terms that vanish at a node
    return (derivs, dim,
            _outward_sign(cell, pcoords) if dim == 3 else 1)


def _outward_sign(cell, pcoords):
    """+1 when the cell's faces turn outward from its parametric cell, -1 when inward: the sign
    of the parametric cell's volume by the divergence theorem over its faces' corners."""
    for i, point in enumerate(pcoords):
        cell.GetPointIds().SetId(i, i)
        cell.GetPoints().SetPoint(i, point.tolist())
    volume = 0.0
    for f in range(cell.GetNumberOfFaces()):
        face = cell.GetFace(f)
        corners = 4 if face.GetCellType() in (vtk.VTK_QUAD, vtk.VTK_QUADRATIC_QUAD) else 3
        xyz = pcoords[[face.GetPointId(k) for k in range(corners)]]
        for k in range(1, corners - 1):  # the fan from the first corner
            volume += np.dot(xyz[0], np.cross(xyz[k], xyz[k + 1])) / 6.0
    return 1 if volume > 0 else -1


def _combination(weights, x):
    """sum_i weights[i] * x[i] over the nonzero weights (a quarter to a half of a node's
    derivatives): fewer operations than a dense product."""
    out = np.zeros(x.shape[1])
    for node in np.flatnonzero(weights):
        out += weights[node] * x[node]
    return out


def _bad_in_stretch(xyz, derivs, dim, sign):
    """Which of the elements whose node coordinates are `xyz` (x, y and z, each (nodes,
    elements)) are inverted or collapsed at one of their evaluation points. The points are taken
    one at a time: arrays of one value per element stay small enough for the allocator to reuse
    (arrays of every point at once cost more in page faults than in arithmetic)."""
    points = derivs.shape[1] // dim
    size = np.max([x.max(axis=0) - x.min(axis=0) for x in xyz], axis=0)
    zero = RELATIVE_ZERO * size ** dim
    bad = np.zeros(len(size), bool)
    normals = []
    for p in range(points):
        # d x / d xi_k at point p, one (x, y, z) triple of arrays per parametric direction k.
        t = [[_combination(derivs[:, k * points + p], x) for x in xyz] for k in range(dim)]
        if dim == 1:
            bad |= ~(np.sqrt(t[0][0] ** 2 + t[0][1] ** 2 + t[0][2] ** 2) > zero)
            continue
        (a, b, c), (d, e, f) = t[0], t[1]
        normal = (b * f - c * e, c * d - a * f, a * e - b * d)  # d x / d xi x d x / d eta
        if dim == 3:
            det = normal[0] * t[2][0] + normal[1] * t[2][1] + normal[2] * t[2][2]
            bad |= ~(sign * det > zero)
        normals.append(normal)
    if dim == 2:
        mean = [sum(n[j] for n in normals) for j in range(3)]
        length = np.maximum(np.sqrt(mean[0] ** 2 + mean[1] ** 2 + mean[2] ** 2), 1e-300)
        for n in normals:
            area = np.sqrt(n[0] ** 2 + n[1] ** 2 + n[2] ** 2)
            along = (n[0] * mean[0] + n[1] * mean[1] + n[2] * mean[2]) / length
            bad |= ~((area > zero) & (along > zero))
    return bad


def _cell_table(grid):
    """(types, offsets, connectivity) of the cells of a vtkUnstructuredGrid, or of the polygons
    of a vtkPolyData of polygons alone (triangles and quadrilaterals by their sizes); None for a
    dataset of other cells."""
    if grid.IsA("vtkUnstructuredGrid"):
        cells = grid.GetCells()
        types = ns.vtk_to_numpy(grid.GetCellTypesArray())
    elif grid.IsA("vtkPolyData") and grid.GetNumberOfCells() == grid.GetNumberOfPolys():
        cells = grid.GetPolys()
        sizes = np.diff(ns.vtk_to_numpy(cells.GetOffsetsArray()))
        types = np.select([sizes == 3, sizes == 4], [vtk.VTK_TRIANGLE, vtk.VTK_QUAD],
                          vtk.VTK_POLYGON)
    else:
        return None
    return (types, ns.vtk_to_numpy(cells.GetOffsetsArray()).astype(np.int64),
            ns.vtk_to_numpy(cells.GetConnectivityArray()).astype(np.int64))


def bad_cells(grid):
    """The positions of the cells of `grid` (a vtkUnstructuredGrid, or a vtkPolyData of
    polygons) that are inverted or collapsed, ascending. Cells of a type without shape functions
    (polygons, polyhedra) are not checked."""
    table = _cell_table(grid) if grid.GetNumberOfCells() else None
    if table is None:
        return np.zeros(0, np.int64)
    types, offsets, conn = table
    xyz = ns.vtk_to_numpy(grid.GetPoints().GetData())
    xyz = [xyz[:, j] for j in range(3)]
    bad = [np.zeros(0, np.int64)]
    for cell_type in np.unique(types):
        shape = shape_derivatives(int(cell_type))
        if shape is None:
            continue
        n = shape[0].shape[0]
        which = np.flatnonzero(types == cell_type)
        for start in range(0, len(which), STRETCH):
            part = which[start:start + STRETCH]
            rows = conn[offsets[part] + np.arange(n)[:, None]]  # (nodes, elements)
            coordinates = [x[rows].astype(np.float64, copy=False) for x in xyz]
            bad.append(part[_bad_in_stretch(coordinates, *shape)])
    return np.sort(np.concatenate(bad))


def bad_elements(model):
    """{body path name: the IDs ("Element ID") of its inverted or collapsed elements} of every
    mesh body of the exported `model` (a vtkMultiBlockDataSet) that has any. A geometry body's
    tessellation (no element IDs) is no FE mesh and is not checked."""
    from mapping_report import _leaves, _text
    found = {}
    for leaf in _leaves(model):
        ids = leaf.GetCellData().GetArray("Element ID")
        if ids is None or not leaf.IsA("vtkPointSet") or leaf.GetPoints() is None:
            continue
        bad = bad_cells(leaf)
        if len(bad):
            found[_text(leaf, "Body pathName")] = ns.vtk_to_numpy(ids)[bad]
    return found


def describe(found):
    """One sentence naming the bad elements of each body: their count and the first IDs."""
    parts = []
    for path, ids in found.items():
        first = ", ".join(str(int(i)) for i in ids[:LISTED])
        more = f", ... ({len(ids)} in all)" if len(ids) > LISTED else ""
        parts.append(f"body '{path}': element{'s' if len(ids) > 1 else ''} {first}{more}")
    return ("inverted or collapsed elements (their Jacobian is not positive at every corner and "
            "mid-side node; a node order a converter got wrong?) in " + "; ".join(parts))
