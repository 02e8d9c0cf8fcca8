"""The mapping report: what each body got from the source, and for pressures whether the force
was carried over.

Per body: nodes and faces that the load took, what it left out (nodes of a temperature, faces of a
pressure) for want of a value and beyond the tolerance, min / max / mean of the values the load
carries against the source's, the largest distance to the source, and for pressures the total
force on the body's loaded faces. The load's side is read from what the load writer did
(loadscribe.last_loaded_fields and last_left_out_counts), never re-derived. For the whole mapping,
for pressures: the total force on the source surface against the total over the loaded target
faces (the conservation check).
"""
import json
import math

import numpy as np
import vtk
from vtk.util import numpy_support as ns


def _array(data, name):
    array = data.GetArray(name)
    return None if array is None else ns.vtk_to_numpy(array).astype(np.float64)


def _text(dataset, name):
    array = dataset.GetFieldData().GetAbstractArray(name)
    return array.GetValue(0) if array is not None and array.GetNumberOfValues() else None


def _leaves(multiblock):
    it = multiblock.NewIterator()
    it.SkipEmptyNodesOn()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        yield it.GetCurrentDataObject()
        it.GoToNextItem()


def _loadable_faces(dataset):
    if not dataset.IsA("vtkPolyData") or dataset.GetNumberOfPolys() == 0:
        return 0
    sizes = np.diff(ns.vtk_to_numpy(dataset.GetPolys().GetOffsetsArray()))
    return int(np.count_nonzero((sizes == 3) | (sizes == 4)))


def _faces_within(dataset, inside):
    """The triangles and quadrilaterals of `dataset` all of whose points are `inside`."""
    if not dataset.IsA("vtkPolyData") or dataset.GetNumberOfPolys() == 0:
        return 0
    polys = dataset.GetPolys()
    offsets = ns.vtk_to_numpy(polys.GetOffsetsArray()).astype(np.int64)
    conn = ns.vtk_to_numpy(polys.GetConnectivityArray()).astype(np.int64)
    sizes = np.diff(offsets)
    outside = np.zeros(sizes.size, bool)
    np.logical_or.at(outside, np.repeat(np.arange(sizes.size), sizes), ~inside[conn])
    return int(np.count_nonzero(((sizes == 3) | (sizes == 4)) & ~outside))


def _coordinates_by_node(leaf):
    """{host node ID: (x, y, z)} of a mapped leaf's points."""
    ids = _array(leaf.GetPointData(), "Node ID")
    if ids is None or leaf.GetNumberOfPoints() == 0:
        return {}
    xyz = ns.vtk_to_numpy(leaf.GetPoints().GetData()).astype(np.float64)
    return dict(zip(ids.astype(np.int64).tolist(), xyz))


def loaded_face_force(leaf, field):
    """Total force sum(-p A n) of the faces a pressure load took ("face_identifiers" and their
    "pressures", as handed to the host), at the leaf's coordinates of their nodes. Each face is
    split into triangles from its first node; a triangle takes the mean of its nodes' pressures."""
    at = _coordinates_by_node(leaf)
    total = np.zeros(3)
    for nodes, pressures in zip(field["face_identifiers"], field["pressures"]):
        xyz = np.array([at[n] for n in nodes])
        p = np.asarray(pressures, dtype=np.float64)
        for k in range(1, len(nodes) - 1):
            area_normal = 0.5 * np.cross(xyz[k] - xyz[0], xyz[k + 1] - xyz[0])
            total -= (p[0] + p[k] + p[k + 1]) / 3.0 * area_normal
    return total.tolist()


def _as_surface(dataset):
    """The polygons of a source: itself when it is polydata, the faces of a grid of surface
    cells, None for a volume or a point cloud (no surface to take a force on)."""
    if dataset.IsA("vtkPolyData"):
        return dataset if dataset.GetNumberOfPolys() else None
    if dataset.GetNumberOfCells() == 0 or dataset.GetMaxCellSize() == 0:
        return None
    types = vtk.vtkCellTypes()
    dataset.GetCellTypes(types)
    cell = vtk.vtkGenericCell()
    for i in range(types.GetNumberOfTypes()):
        cell.SetCellType(types.GetCellType(i))
        if cell.GetCellDimension() != 2:
            return None
    geometry = vtk.vtkGeometryFilter()
    geometry.SetInputData(dataset)
    geometry.Update()
    return geometry.GetOutput()


def surface_force(dataset, field_name):
    """Total force sum(-p A n) of a pressure field over the polygons of a surface, or None when
    the dataset has no surface (a point cloud, a volume). Face values (cell data) act on their own
    face; point values are taken as the mean of each triangle's points."""
    surface = _as_surface(dataset)
    if surface is None:
        return None
    on_faces = surface.GetPointData().GetArray(field_name) is None
    if on_faces and surface.GetCellData().GetArray(field_name) is None:
        return None
    triangles = vtk.vtkTriangleFilter()
    triangles.SetInputData(surface)
    triangles.PassLinesOff()
    triangles.PassVertsOff()
    triangles.Update()
    tri = triangles.GetOutput()
    xyz = ns.vtk_to_numpy(tri.GetPoints().GetData()).astype(np.float64)
    conn = ns.vtk_to_numpy(tri.GetPolys().GetConnectivityArray()).reshape(-1, 3)
    a, b, c = xyz[conn[:, 0]], xyz[conn[:, 1]], xyz[conn[:, 2]]
    area_normal = 0.5 * np.cross(b - a, c - a)  # |n| = area
    if on_faces:
        pressure = ns.vtk_to_numpy(tri.GetCellData().GetArray(field_name)).astype(np.float64)
        pressure = pressure[-len(conn):]  # the triangles follow any vertices and lines
    else:
        p = ns.vtk_to_numpy(tri.GetPointData().GetArray(field_name)).astype(np.float64)
        pressure = p[conn].mean(axis=1)
    ok = np.isfinite(pressure)
    return (-(pressure[ok, None] * area_normal[ok]).sum(axis=0)).tolist()


def values_used(source, field_name, method):
    """How the mapping read the source's field: face values as they are, face values averaged to
    the points, or point values."""
    if source.GetPointData().GetArray(field_name) is not None:
        return "point values"
    if source.GetCellData().GetArray(field_name) is None:
        return None
    if method in ("Mesh only", "Surface projection"):
        return "face values, each point taking the face it lands in"
    return "face values averaged to the points by face area"


def field_stats(values):
    finite = values[np.isfinite(values)] if values is not None else np.zeros(0)
    if finite.size == 0:
        return {"min": None, "max": None, "mean": None}
    return {"min": float(finite.min()), "max": float(finite.max()), "mean": float(finite.mean())}


def body_report(leaf, field_name, loaded, left_out):
    """One body's entry, from what the load writer handed the host for it (`loaded`, its FE field,
    None when it got no load) and what it left out (`left_out`, loadscribe's counts).
    "no_value" and "dropped_by_tolerance" count nodes for a temperature and faces for a pressure
    ("counted" says which); the statistics are taken over the values the load carries."""
    n = leaf.GetNumberOfPoints()
    distance = _array(leaf.GetPointData(), "Distance")
    body = {
        "body": _text(leaf, "Body pathName") or "(geometry body)",
        "points": n,
        "largest_distance": float(np.nanmax(distance)) if distance is not None and n else None,
        "no_value": (left_out or {}).get("no value", 0),
        "dropped_by_tolerance": (left_out or {}).get("beyond tolerance", 0),
        "facing_away": (left_out or {}).get("facing away", 0),
    }
    if field_name == "Pressure":
        faces = loaded["face_identifiers"] if loaded else []
        by_node = {}
        for nodes, pressures in zip(faces, loaded["pressures"] if loaded else []):
            by_node.update(zip(nodes, pressures))
        body.update({
            "counted": "faces",
            "nodes_loaded": len(by_node),
            "faces_loaded": len(faces),
            "mapped": field_stats(np.fromiter(by_node.values(), float, len(by_node))),
            "force_on_loaded_faces": loaded_face_force(leaf, loaded) if loaded else None,
        })
    elif field_name == "Temperature":
        node_ids = loaded["node_ids"] if loaded else []
        ids = _array(leaf.GetPointData(), "Node ID")
        inside = (np.isin(ids, node_ids) if ids is not None and len(node_ids)
                  else np.zeros(n, bool))
        body.update({
            "counted": "nodes",
            "nodes_loaded": len(node_ids),
            "faces_loaded": _faces_within(leaf, inside),
            "mapped": field_stats(np.asarray(loaded["temperatures"] if loaded else [], float)),
        })
    else:  # mapped for viewing; only pressures and temperatures become host loads
        values = _array(leaf.GetPointData(), field_name)
        mask = _array(leaf.GetPointData(), "vtkValidPointMask")
        valued = np.ones(n, bool) if mask is None else mask != 0
        if values is not None:
            valued &= ~np.isnan(values)
        body.update({
            "counted": "nodes", "nodes_loaded": 0, "faces_loaded": 0,
            "no_value": int(np.count_nonzero(~valued)),
            "mapped": field_stats(values[valued] if values is not None else None),
        })
    return body


NO_LOAD = ("mapped, no host load: only \"Pressure\" and \"Temperature\" become host loads "
           "(the recorded host script has no load for this field)")


def mapping_report(mapped, source, field_name, method, tolerance, unit=None,
                   source_length_factor=1.0, loaded=None, left_out=None, applied=None):
    """A dict for JSON: the mapping's settings, the source's field, one entry per body and, for
    pressures, the force balance. The loads' side comes from what the load writer did:
    `loaded` ({body path: FE field handed to the host}) and `left_out` ({body path: counts}),
    by default loadscribe's `last_loaded_fields` and `last_left_out_counts` of the last load.
    `source_length_factor` turns the source's lengths into the model's (the mapping scales a
    copy of the source by it), so both forces are in model units. `applied` (a dict, e.g.
    {"array": "p", "scale": 1.2, "offset": 0.0}) says what was done to the source's array before
    the mapping; the report repeats it."""
    import loadscribe
    loaded = loadscribe.last_loaded_fields if loaded is None else loaded
    left_out = loadscribe.last_left_out_counts if left_out is None else left_out
    makes_load = field_name in ("Pressure", "Temperature")
    source_values = _array(source.GetPointData(), field_name)
    if source_values is None:
        source_values = _array(source.GetCellData(), field_name)
    bodies = []
    for leaf in _leaves(mapped):
        path = _text(leaf, "Body pathName")
        bodies.append(body_report(leaf, field_name, loaded.get(path) if makes_load else None,
                                  left_out.get(path) if makes_load else None))
    report = {
        "field": field_name, "unit": unit, "method": method, "tolerance": tolerance,
        "source": {"points": source.GetNumberOfPoints(), "cells": source.GetNumberOfCells(),
                   "values": values_used(source, field_name, method),
                   **({"applied": applied} if applied else {}),
                   **field_stats(source_values)},
        "bodies": bodies,
    }
    if not makes_load:
        report["load"] = NO_LOAD
    if field_name == "Pressure":
        forces = [b["force_on_loaded_faces"] for b in bodies if b.get("force_on_loaded_faces")]
        source_force = surface_force(source, field_name)
        if source_force is not None:
            source_force = [c * source_length_factor ** 2 for c in source_force]
        report["force"] = {
            "source": source_force,
            "loaded_faces": np.sum(forces, axis=0).tolist() if forces else [0.0, 0.0, 0.0],
        }
    return report


def _number(value, width=11):
    if value is None:
        return "-".rjust(width)
    if isinstance(value, float) and (abs(value) >= 1e5 or (value != 0 and abs(value) < 1e-3)):
        return f"{value:{width}.3e}"
    if isinstance(value, float):
        return f"{value:{width}.4g}"
    return f"{value:{width}d}"


def _vector(v):
    if v is None:
        return "n/a (the source has no surface)"
    return "(" + ", ".join(f"{c:.4g}" for c in v) + f")  |F| = {math.sqrt(sum(c * c for c in v)):.4g}"


def report_table(report):
    """The report as readable text."""
    unit = f" [{report['unit']}]" if report.get("unit") else ""
    src = report["source"]
    lines = [
        f"{report['field']}{unit} mapped with \"{report['method']}\", tolerance "
        f"{report['tolerance']}",
        f"source: {src['points']} points, {src['cells']} cells, min {_number(src['min']).strip()}"
        f", max {_number(src['max']).strip()}, mean {_number(src['mean']).strip()}"
        + (f"; {src['values']}" if src.get("values") else "")
        + "".join(f"; {k} {v}" for k, v in (src.get("applied") or {}).items()),
        (f"{report['field']}: {report['load']}" if "load" in report else
         f"no value / dropped: the {'faces' if report['field'] == 'Pressure' else 'nodes'} the "
         f"load leaves out (no mapped value / beyond the tolerance); min / max / mean over the "
         f"loaded values"),
        "",
        f"{'body':48s} {'nodes':>7s} {'faces':>7s} {'no value':>8s} {'dropped':>8s} "
        f"{'min':>11s} {'max':>11s} {'mean':>11s} {'max dist':>11s}",
    ]
    for b in report["bodies"]:
        m = b["mapped"]
        name = b["body"] if len(b["body"]) <= 48 else "..." + b["body"][-45:]
        lines.append(f"{name:48s} {b['nodes_loaded']:7d} {b['faces_loaded']:7d} "
                     f"{b['no_value']:8d} {b['dropped_by_tolerance']:8d} {_number(m['min'])} "
                     f"{_number(m['max'])} {_number(m['mean'])} {_number(b['largest_distance'])}")
    away = [(b["body"], b["facing_away"]) for b in report["bodies"] if b.get("facing_away")]
    if away:
        lines += ["", "faces of solids left out as facing away from the source (a thin wall's dry "
                  "side, the rims of its ends): " + ", ".join(f"{n} of {body}" for body, n in away)]
    if "force" in report:
        lines += ["", f"total force on the source surface: {_vector(report['force']['source'])}",
                  f"total force on the loaded faces:   {_vector(report['force']['loaded_faces'])}"]
    return "\n".join(lines)


def write_report(report, json_path, text_path):
    with open(json_path, "w") as f:
        json.dump(report, f, indent=2)
    with open(text_path, "w") as f:
        f.write(report_table(report) + "\n")
