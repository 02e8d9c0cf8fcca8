"""A Fluent ASCII mesh (.msh) and the data file(s) beside it, as OpenFOAM's foamMeshToFluent and
foamDataToFluent write them: each boundary face zone a part (vtkPolyData), its faces' values from
the data file as cell data. VTK's Fluent reader reads the cell zones only, so a wall's pressure
cannot be had from it.

Mesh sections read: (2 dimension), (10 nodes), (13 faces), (39 / 45 zone names); header numbers
of 10 and 13 are hexadecimal, of 39, 45 and the data's (300 ...) decimal. Cells (12) are not
needed for faces and are skipped.
"""
import os
import re
from dataclasses import dataclass

import numpy as np
import vtk
from vtk.util import numpy_support as ns

from .errors import SourceError
from .fluent_sections import body_numbers, header_numbers, read_sections, where
from .parts import Parts
from .times import pick_time

DIMENSION, NODES, FACES, ZONE_NAMES, DATA = 2, 10, 13, (39, 45), 300
INTERIOR, WALL = 2, 3             # face zone types: interior faces, walls (read by default)
MIXED, POLYGON = 0, 5             # face element types with a node count before each face
NODES_PER_FACE = {3: 3, 4: 4}     # triangles, quadrilaterals
# The data sections' field ids, named as VTK's Fluent reader names them, so that one --field
# serves a .cas and a .msh alike; other ids are kept as "field <id>".
FIELD_NAMES = {1: "PRESSURE", 2: "MOMENTUM", 3: "TEMPERATURE", 4: "ENTHALPY", 5: "TKE", 6: "TED",
               7: "SPECIES", 101: "DENSITY", 111: "X_VELOCITY", 112: "Y_VELOCITY",
               113: "Z_VELOCITY", 114: "WALL_VELOCITY", 150: "VOF", 192: "TOTAL_PRESSURE",
               193: "TOTAL_TEMPERATURE"}


@dataclass
class FaceZone:
    id: int
    kind: int
    offsets: np.ndarray       # (faces + 1,) into connectivity
    connectivity: np.ndarray  # 0-based node indices


def read_fluent_mesh(path, time):
    """The Parts of a Fluent .msh: its boundary face zones by name (walls by default), with the
    values of the chosen time's data file (default the latest)."""
    nodes, zones, names = _mesh(path)
    times, files = _data_files(path)
    chosen = pick_time(path, times, time)
    data_path = files[chosen]
    data = _data(data_path)
    datasets, walls = {}, []
    for zone in zones:
        name = names.get(zone.id, f"zone {zone.id}")
        datasets[name] = _zone_polydata(data_path, name, zone, nodes, data)
        if zone.kind == WALL:
            walls.append(name)
    if not datasets:
        raise SourceError(f"{path}: no boundary face zone (faces of type other than interior)")
    return Parts(path, datasets, default=walls or None, times=times, chosen_time=chosen)


def _data_files(path):
    """([times], {time or None: data file}): <stem>.dat beside the mesh, or one <stem><time>.dat
    per time as foamDataToFluent names them."""
    folder, stem = os.path.split(os.path.abspath(path))
    stem = os.path.splitext(stem)[0]
    timed = {}
    pattern = re.compile(re.escape(stem) + r"([-+]?\d[\d.eE+-]*)\.dat")
    for name in os.listdir(folder):
        match = pattern.fullmatch(name)
        try:
            if match:
                timed[float(match.group(1))] = os.path.join(folder, name)
        except ValueError:
            continue  # a name that only looks like a time
    if timed:
        return sorted(timed), timed
    single = os.path.join(folder, stem + ".dat")
    if not os.path.isfile(single):
        raise SourceError(f"{path}: no data file {stem}.dat or {stem}<time>.dat beside the mesh "
                          "(the fields are in the .dat)")
    return [], {None: single}


def _mesh(path):
    """(nodes (n x 3), [FaceZone] of the boundary zones, {zone id: name})."""
    sections = read_sections(path, {DIMENSION, NODES, FACES, *ZONE_NAMES})
    dimension = next((s for s in sections if s.index == DIMENSION), None)
    if dimension is not None and dimension.header.split() not in ([], ["3"]):
        raise SourceError(f"{where(path, dimension)}: a {dimension.header.strip()}-D mesh; only "
                          "3-D meshes' face zones are read")
    nodes = _nodes(path, [s for s in sections if s.index == NODES])
    # Interior faces (most of a mesh's) are no part: their bodies are not read.
    zones = [_face_zone(path, s, len(nodes)) for s in sections
             if s.index == FACES and s.body is not None
             and header_numbers(path, s, 4, 16)[3] != INTERIOR]
    names = {}
    for s in sections:
        if s.index in ZONE_NAMES:
            words = s.header.split()
            if len(words) >= 3 and words[0].isdigit():
                names[int(words[0])] = words[2]
    return nodes, zones, names


def _nodes(path, sections):
    """The nodes of every node zone, checked to number 1, 2, ... each once."""
    blocks = []
    for s in sections:
        zone, first, last, _ = header_numbers(path, s, 4, 16)
        if zone == 0 or s.body is None:
            continue  # the declaration of the total, without coordinates
        if first < 1 or last < first:
            raise SourceError(f"{where(path, s)}: node indices {first:x} to {last:x}")
        values = body_numbers(path, s, float, (last - first + 1) * 3)
        blocks.append((first, values.reshape(-1, 3), s))
    if not blocks:
        raise SourceError(f"{path}: no node section (10 ...) with coordinates: not a Fluent mesh "
                          "file")
    expected = 1
    for first, xyz, s in sorted(blocks, key=lambda b: b[0]):
        if first != expected:
            raise SourceError(f"{where(path, s)}: starts at node {first:x} where node "
                              f"{expected:x} comes next (nodes missing or given twice)")
        expected += len(xyz)
    return np.concatenate([xyz for _, xyz, _ in sorted(blocks, key=lambda b: b[0])])


def _face_zone(path, section, node_count):
    zone, first, last, kind, element = header_numbers(path, section, 5, 16)
    count = last - first + 1
    if first < 1 or count < 1:
        raise SourceError(f"{where(path, section)}: face indices {first:x} to {last:x}")
    if element in NODES_PER_FACE:
        n = NODES_PER_FACE[element]
        rows = body_numbers(path, section, int, count * (n + 2)).reshape(count, n + 2)
        offsets, connectivity = np.arange(count + 1) * n, rows[:, :n].ravel()
    elif element in (MIXED, POLYGON):
        offsets, connectivity = _counted_faces(path, section, count)
    else:
        raise SourceError(f"{where(path, section)}: face element type {element}; faces of 3 or 4 "
                          "nodes, mixed (0) or polygons (5) are read")
    outside = (connectivity < 1) | (connectivity > node_count)
    if outside.any():
        raise SourceError(f"{where(path, section)}: node {connectivity[outside][0]:x} is not "
                          f"one of the mesh's {node_count:x} nodes")
    return FaceZone(zone, kind, offsets, connectivity[_reversed_faces(offsets)] - 1)


def _reversed_faces(offsets):
    """The order that reverses each face's nodes. A face's nodes turn (right-hand rule) towards
    its cell c0, the fluid's on a boundary; the mapping takes a source's normals to point out
    of the fluid."""
    sizes = np.diff(offsets)
    starts = np.repeat(offsets[:-1], sizes)
    return starts + np.repeat(sizes, sizes) - 1 - (np.arange(offsets[-1]) - starts)


def _counted_faces(path, section, count):
    """(offsets, connectivity) of faces each given as: node count, nodes, two cells."""
    numbers = body_numbers(path, section, int)
    if count * 6 > len(numbers):  # a face takes 6 numbers at least: checked before allocating
        raise SourceError(f"{where(path, section)}: {count} faces cannot fit in its "
                          f"{len(numbers)} numbers")
    n = int(numbers[0])
    if n >= 3 and len(numbers) == count * (n + 3) and (numbers[::n + 3] == n).all():  # one kind
        return np.arange(count + 1) * n, numbers.reshape(count, n + 3)[:, 1:n + 1].ravel()
    offsets, starts, at = np.zeros(count + 1, np.int64), np.zeros(count, np.int64), 0
    for face in range(count):
        n = int(numbers[at]) if at < len(numbers) else 0
        if n < 3 or at + n + 3 > len(numbers):
            raise SourceError(f"{where(path, section)}: face {face + 1} of {count}: a count of "
                              f"{n} nodes that does not fit")
        starts[face], offsets[face + 1] = at + 1, offsets[face] + n
        at += n + 3
    if at != len(numbers):
        raise SourceError(f"{where(path, section)}: {len(numbers) - at} numbers left after its "
                          f"{count} faces")
    sizes = np.diff(offsets)
    within = np.arange(offsets[-1]) - np.repeat(offsets[:-1], sizes)
    return offsets, numbers[np.repeat(starts, sizes) + within]


def _data(path):
    """{(zone id, field id): (values (faces x components), section)} of a data file."""
    found = {}
    for s in read_sections(path, {DATA}):
        field, zone, size, _, _, first, last = header_numbers(path, s, 7, 10)
        count = last - first + 1
        if size < 1 or count < 0:
            raise SourceError(f"{where(path, s)}: {size} components of {count} values")
        found[(zone, field)] = (body_numbers(path, s, float, count * size).reshape(count, size),
                                s)
    return found


def _zone_polydata(data_path, name, zone, nodes, data):
    """The zone's faces as polydata over the nodes they use, each data field as cell data."""
    used, local = np.unique(zone.connectivity, return_inverse=True)
    poly = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(nodes[used], deep=True))
    poly.SetPoints(points)
    cells = vtk.vtkCellArray()
    cells.SetData(ns.numpy_to_vtkIdTypeArray(zone.offsets.astype(np.int64), deep=True),
                  ns.numpy_to_vtkIdTypeArray(local.astype(np.int64), deep=True))
    poly.SetPolys(cells)
    faces = len(zone.offsets) - 1
    for (zone_id, field), (values, section) in data.items():
        if zone_id != zone.id or (len(values) == 0 and faces):
            continue  # another zone's, or none given (the converter's empty patches)
        if len(values) != faces:
            raise SourceError(f"{where(data_path, section)}: {len(values)} values of "
                              f"{_field_name(field)} for the {faces} faces of {name}")
        array = ns.numpy_to_vtk(np.ascontiguousarray(values), deep=True)
        array.SetName(_field_name(field))
        poly.GetCellData().AddArray(array)
    return poly


def _field_name(field):
    return FIELD_NAMES.get(field, f"field {field}")

