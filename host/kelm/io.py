"""Build stand-in host models from mesh files (Gmsh .msh, Abaqus .inp, Nastran .bdf, VTK .vtu...)
through meshio, which is optional: only the loader needs it."""
import os

import numpy as np

from ._core import DEFAULT_COLOR, METRES_PER_UNIT, Model, length_unit as _length_unit
from .groups import element_groups, group_owners
from .mesh import DIMENSION, ElementTopology as T

MESHIO_TOPOLOGY = {
    "line": T.Bar2, "triangle": T.Tria3, "triangle6": T.Tria6, "quad": T.Quad4, "quad8": T.Quad8,
    "tetra": T.Tetra4, "tetra10": T.Tetra10, "wedge": T.Penta6, "wedge15": T.Penta15,
    "hexahedron": T.Hexa8, "hexahedron20": T.Hexa20,
}

# Host and VTK node orders differ only for these two: VTK position k holds host position p[k].
HOST_TO_VTK = {
    T.Hexa20: np.array([0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 18, 19, 12, 13, 14, 15]),
    T.Penta15: np.array([3, 4, 5, 0, 1, 2, 12, 13, 14, 6, 7, 8, 9, 10, 11]),
}


def to_vtk_order(topology, connectivity):
    """Connectivity rows in host node order -> VTK (and meshio) node order."""
    rows = np.asarray(connectivity)
    return rows[:, HOST_TO_VTK[topology]] if topology in HOST_TO_VTK else rows


def from_vtk_order(topology, connectivity):
    """Connectivity rows in VTK (and meshio) node order -> host node order."""
    rows = np.asarray(connectivity)
    if topology not in HOST_TO_VTK:
        return rows
    return rows[:, np.argsort(HOST_TO_VTK[topology])]


# meshio keeps wedges turned the other way from VTK's (their first triangle's normal pointing
# into the element, as gmsh, Abaqus and Nastran list them): its own VTK reader turns them so, and
# its gmsh, Abaqus and Nastran readers leave them so. Quadratic wedges read from VTK files are the
# exception: meshio keeps VTK's order for them. Turned here into VTK's order, on which the host's
# face table and the mesh check agree.
MESHIO_WEDGE_TO_VTK = {"wedge": np.array([0, 2, 1, 3, 5, 4]),
                       "wedge15": np.array([0, 2, 1, 3, 5, 4, 8, 7, 6, 11, 10, 9, 12, 14, 13])}


def _vtk_rows(block, path):
    """A meshio cell block's rows in VTK node order."""
    turn = MESHIO_WEDGE_TO_VTK.get(block.type)
    if turn is None or (block.type == "wedge15"
                        and os.path.splitext(path)[1].lower() in (".vtu", ".vtk")):
        return block.data
    return np.asarray(block.data)[:, turn]


def _read(path):
    try:
        import meshio
    except ImportError as error:
        raise ImportError("reading mesh files needs meshio; install the Debian package "
                          "python3-meshio (apt-get install python3-meshio)") from error
    # meshio 5.0 (Debian 12) lacks "wedge15" in its dimension table and so fails on every file
    # with quadratic wedges; adding the entry is harmless where it is already present.
    dimensions = getattr(getattr(meshio, "_mesh", None), "topological_dimension", None)
    if isinstance(dimensions, dict):
        dimensions.setdefault("wedge15", 3)
    return meshio.read(path)


def add_mesh_file(part, path, name=None, *, length_unit="m", all_cells=False, kind=None,
                  color=DEFAULT_COLOR):
    """Add the mesh in `path` to `part` as one mesh body and return it.

    Each cell block becomes a topology block (blocks of one type are joined). Only the cells of
    the highest dimension are kept unless all_cells is true; vertex cells are always dropped.
    Node IDs are 1..N in file order, element IDs 1..M in block order. `length_unit` is the unit
    of the file's coordinates; the model stores metres.
    """
    mesh = _read(path)
    return _whole_file_body(part, mesh, _kept_blocks(mesh, path, all_cells), path, name,
                            length_unit, kind, color)


def _whole_file_body(part, mesh, blocks, path, name, length_unit, kind, color):
    elements = _numbered(blocks, np.ones(sum(len(rows) for _, _, rows in blocks), bool))
    points = _points(mesh, length_unit)
    return part.add_mesh(name or _stem(path), np.arange(1, len(points) + 1), points, elements,
                         kind=kind, color=color)


def _stem(path):
    return os.path.splitext(os.path.basename(path))[0]


def _topological_dimension(cell_type):
    import meshio
    dimensions = getattr(getattr(meshio, "_mesh", None), "topological_dimension", None)
    return dimensions.get(cell_type) if isinstance(dimensions, dict) else None


def _kept_blocks(mesh, path, all_cells):
    """[(meshio block index, topology, host-order rows)] of the cells the body keeps, in the
    host's element order: by topology in order of first appearance, then in file order."""
    blocks = {}
    top = max((DIMENSION[MESHIO_TOPOLOGY[b.type]] for b in mesh.cells
               if b.type in MESHIO_TOPOLOGY), default=None)
    for index, block in enumerate(mesh.cells):
        if block.type == "vertex":
            continue
        dimension = _topological_dimension(block.type)
        if (block.type not in MESHIO_TOPOLOGY and not all_cells and top is not None
                and dimension is not None and dimension < top):
            continue  # a boundary block the kept cells do not need (gmsh's quadratic "line3")
        if block.type not in MESHIO_TOPOLOGY:
            raise ValueError(f"{path}: cell type '{block.type}' has no host topology; supported "
                             f"are {', '.join(MESHIO_TOPOLOGY)}")
        topology = MESHIO_TOPOLOGY[block.type]
        blocks.setdefault(topology, []).append((index, from_vtk_order(topology,
                                                                      _vtk_rows(block, path))))
    if not all_cells and blocks:
        top = max(DIMENSION[t] for t in blocks)
        blocks = {t: b for t, b in blocks.items() if DIMENSION[t] == top}
    return [(index, topology, rows) for topology, kept in blocks.items() for index, rows in kept]


def _points(mesh, length_unit):
    points = np.zeros((len(mesh.points), 3))
    points[:, :mesh.points.shape[1]] = mesh.points
    return points * float(METRES_PER_UNIT[_length_unit(length_unit)])


def _numbered(blocks, chosen):
    """{topology: (element IDs, rows)} of the `chosen` elements (a mask over all kept elements).
    IDs are the elements' places in the whole file's order, 1..M, whichever are chosen."""
    ids, rows_of, first = {}, {}, 0
    for _, topology, rows in blocks:
        take = chosen[first:first + len(rows)]
        ids.setdefault(topology, []).append(np.arange(first + 1, first + len(rows) + 1)[take])
        rows_of.setdefault(topology, []).append(rows[take])
        first += len(rows)
    return {t: (np.concatenate(ids[t]), np.concatenate(rows_of[t])) for t in ids}


def _add_group_bodies(part, mesh, path, length_unit, kind, color):
    """One body per element group of the kept cells (see groups.group_owners), named by the
    group, in the file's order of the groups; the kept cells in no group make a body named after
    the file. A file without groups is one body, as add_mesh_file makes it."""
    blocks = _kept_blocks(mesh, path, False)
    names, owner = group_owners(element_groups(mesh, path), blocks, path)
    if not names:
        return [_whole_file_body(part, mesh, blocks, path, None, length_unit, kind, color)]
    if (owner < 0).any():
        names.append(_stem(path) if _stem(path) not in names else f"{_stem(path)} (no group)")
        owner = np.where(owner < 0, len(names) - 1, owner)
    points = _points(mesh, length_unit)
    return [_body_of(part, name, points, _numbered(blocks, owner == g), kind, color)
            for g, name in enumerate(names) if (owner == g).any()]


def _body_of(part, name, points, elements, kind, color):
    """A body holding `elements` and the nodes they use, with the file's node IDs, so a node
    two bodies share has the same ID in both."""
    elements = {t: e for t, e in elements.items() if len(e[0])}
    used = np.unique(np.concatenate([rows.ravel() for _, rows in elements.values()]))
    local = {t: (ids, np.searchsorted(used, rows)) for t, (ids, rows) in elements.items()}
    return part.add_mesh(name, used + 1, points[used], local, kind=kind, color=color)


def load_model(path, *, model_name="Model", part_name="Part 1", length_unit="m",
               deliver_as_lists=False, all_cells=False, groups=True, kind=None,
               color=DEFAULT_COLOR):
    """A new (current) model holding one part with the mesh of `path`: one mesh body per element
    group of the file's highest dimension (gmsh physical group, Abaqus element set, Nastran
    property ID), named by the group, and the file as one body named after it where it has none
    (or groups is false, or all_cells is true). See add_mesh_file for the other arguments."""
    mesh = _read(path)
    model = Model(model_name, deliver_as_lists=deliver_as_lists)
    part = model.add_part(part_name)
    if groups and not all_cells:
        _add_group_bodies(part, mesh, path, length_unit, kind, color)
    else:
        _whole_file_body(part, mesh, _kept_blocks(mesh, path, all_cells), path, None,
                         length_unit, kind, color)
    return model
