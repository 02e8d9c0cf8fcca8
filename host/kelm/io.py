"""Build stand-in host models from mesh files (Gmsh .msh, Abaqus .inp, Nastran .bdf, VTK .vtu...)
through meshio, which is optional: only the loader needs it."""
import os

import numpy as np

from ._core import DEFAULT_COLOR, METRES_PER_UNIT, Model, length_unit as _length_unit
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
    return _add(part, _read(path), path, name, length_unit, all_cells, kind, color)


def _topological_dimension(cell_type):
    import meshio
    dimensions = getattr(getattr(meshio, "_mesh", None), "topological_dimension", None)
    return dimensions.get(cell_type) if isinstance(dimensions, dict) else None


def _add(part, mesh, path, name, length_unit, all_cells, kind, color):
    blocks = {}
    top = max((DIMENSION[MESHIO_TOPOLOGY[b.type]] for b in mesh.cells
               if b.type in MESHIO_TOPOLOGY), default=None)
    for block in mesh.cells:
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
        blocks.setdefault(topology, []).append(from_vtk_order(topology, block.data))
    if not all_cells and blocks:
        top = max(DIMENSION[t] for t in blocks)
        blocks = {t: b for t, b in blocks.items() if DIMENSION[t] == top}
    points = np.zeros((len(mesh.points), 3))
    points[:, :mesh.points.shape[1]] = mesh.points
    points *= float(METRES_PER_UNIT[_length_unit(length_unit)])
    elements, next_id = {}, 1
    for topology, rows in blocks.items():
        connectivity = np.concatenate(rows)
        elements[topology] = (np.arange(next_id, next_id + len(connectivity)), connectivity)
        next_id += len(connectivity)
    name = name or os.path.splitext(os.path.basename(path))[0]
    return part.add_mesh(name, np.arange(1, len(points) + 1), points, elements, kind=kind,
                         color=color)


def load_model(path, *, model_name="Model", part_name="Part 1", length_unit="m",
               deliver_as_lists=False, all_cells=False, kind=None, color=DEFAULT_COLOR):
    """A new (current) model holding one part with the mesh of `path` as its one mesh body,
    named after the file. See add_mesh_file for the other arguments."""
    mesh = _read(path)
    model = Model(model_name, deliver_as_lists=deliver_as_lists)
    _add(model.add_part(part_name), mesh, path, None, length_unit, all_cells, kind, color)
    return model
