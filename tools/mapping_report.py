"""The mapping report: what each body got from the source, and for pressures whether the force
was carried over.

Per body: nodes and faces that a load takes, what the load leaves out (nodes of a temperature,
faces of a pressure) for want of a value (the method's validity mask is 0, or the value is NaN)
and beyond the tolerance, min / max / mean of the values the load carries against the source's, the largest distance to the source, and for pressures the total
force on the body's loaded faces. For the whole mapping, for pressures: the total force on the
source surface against the total over the loaded target faces (the conservation check).
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


def _loaded_region(leaf, tolerance):
    """The part of a mapped leaf that a load takes: all of it, or its cells within tolerance."""
    if tolerance is None or leaf.GetPointData().GetArray("Distance") is None:
        return leaf
    threshold = vtk.vtkThreshold()
    threshold.SetInputData(leaf)
    threshold.SetLowerThreshold(tolerance)
    threshold.SetThresholdFunction(vtk.vtkThreshold.THRESHOLD_LOWER)
    threshold.SetInputArrayToProcess(0, 0, 0, vtk.vtkDataObject.FIELD_ASSOCIATION_POINTS, "Distance")
    geometry = vtk.vtkGeometryFilter()
    geometry.SetInputConnection(threshold.GetOutputPort())
    geometry.Update()
    return geometry.GetOutput()


def _loaded_faces(dataset, valued):
    """The polydata of the faces a pressure load takes: triangles and quadrilaterals all of whose
    points got a value (`valued`, one flag per point), and the number of such faces left out for
    want of a value. None for a dataset without polygons."""
    if not dataset.IsA("vtkPolyData") or dataset.GetNumberOfPolys() == 0:
        return None, 0
    polys = dataset.GetPolys()
    offsets = ns.vtk_to_numpy(polys.GetOffsetsArray()).astype(np.int64)
    conn = ns.vtk_to_numpy(polys.GetConnectivityArray()).astype(np.int64)
    sizes = np.diff(offsets)
    loadable = (sizes == 3) | (sizes == 4)
    face_of_entry = np.repeat(np.arange(sizes.size), sizes)
    missing = np.zeros(sizes.size, bool)
    np.logical_or.at(missing, face_of_entry, ~valued[conn])
    keep = loadable & ~missing
    cells = vtk.vtkCellArray()
    kept_entries = np.repeat(keep, sizes)
    new_offsets = np.concatenate([[0], np.cumsum(sizes[keep])]).astype(np.int64)
    cells.SetData(ns.numpy_to_vtk(new_offsets, deep=1, array_type=vtk.VTK_ID_TYPE),
                  ns.numpy_to_vtk(conn[kept_entries].copy(), deep=1, array_type=vtk.VTK_ID_TYPE))
    faces = vtk.vtkPolyData()
    faces.SetPoints(dataset.GetPoints())
    faces.GetPointData().ShallowCopy(dataset.GetPointData())
    faces.SetPolys(cells)
    return faces, int(np.count_nonzero(loadable & missing))


def _loadable_faces(dataset):
    if not dataset.IsA("vtkPolyData") or dataset.GetNumberOfPolys() == 0:
        return 0
    sizes = np.diff(ns.vtk_to_numpy(dataset.GetPolys().GetOffsetsArray()))
    return int(np.count_nonzero((sizes == 3) | (sizes == 4)))


def surface_force(dataset, field_name):
    """Total force sum(-p A n) of a point pressure field over the polygons of a surface, or None
    when the dataset has no polygons (a point cloud). Each polygon takes the mean of its points."""
    if not dataset.IsA("vtkPolyData") or dataset.GetNumberOfPolys() == 0:
        return None
    pressure = dataset.GetPointData().GetArray(field_name)
    if pressure is None:
        return None
    triangles = vtk.vtkTriangleFilter()
    triangles.SetInputData(dataset)
    triangles.PassLinesOff()
    triangles.PassVertsOff()
    triangles.Update()
    tri = triangles.GetOutput()
    xyz = ns.vtk_to_numpy(tri.GetPoints().GetData()).astype(np.float64)
    conn = ns.vtk_to_numpy(tri.GetPolys().GetConnectivityArray()).reshape(-1, 3)
    p = ns.vtk_to_numpy(tri.GetPointData().GetArray(field_name)).astype(np.float64)
    a, b, c = xyz[conn[:, 0]], xyz[conn[:, 1]], xyz[conn[:, 2]]
    area_normal = 0.5 * np.cross(b - a, c - a)  # |n| = area
    mean_p = p[conn].mean(axis=1)
    ok = np.isfinite(mean_p)
    return (-(mean_p[ok, None] * area_normal[ok]).sum(axis=0)).tolist()


def field_stats(values):
    finite = values[np.isfinite(values)] if values is not None else np.zeros(0)
    if finite.size == 0:
        return {"min": None, "max": None, "mean": None}
    return {"min": float(finite.min()), "max": float(finite.max()), "mean": float(finite.mean())}


def _valued(data, field_name, n):
    """One flag per point: the mapping gave it a value ("vtkValidPointMask" not 0, value not
    NaN). The load writer leaves out every other point (temperatures) or every face touching one
    (pressures)."""
    values = _array(data, field_name)
    mask = _array(data, "vtkValidPointMask")
    valued = np.ones(n, bool)
    if values is not None:
        valued &= ~np.isnan(values)
    if mask is not None:
        valued &= mask != 0
    return values, valued


def body_report(leaf, field_name, tolerance):
    """One body's entry. "no_value" and "dropped_by_tolerance" count what the load leaves out:
    nodes for a temperature, faces for a pressure ("counted" says which); the statistics are
    taken over the values the load carries."""
    n = leaf.GetNumberOfPoints()
    distance = _array(leaf.GetPointData(), "Distance")
    region = _loaded_region(leaf, tolerance)
    values, valued = _valued(region.GetPointData(), field_name, region.GetNumberOfPoints())
    body = {
        "body": _text(leaf, "Body pathName") or "(geometry body)",
        "points": n,
        "largest_distance": float(np.nanmax(distance)) if distance is not None and n else None,
    }
    if field_name == "Pressure":
        faces, no_value = _loaded_faces(region, valued)
        loaded_points = np.zeros(region.GetNumberOfPoints(), bool)
        if faces is not None:
            loaded_points[ns.vtk_to_numpy(faces.GetPolys().GetConnectivityArray())] = True
        body.update({
            "counted": "faces",
            "nodes_loaded": int(loaded_points.sum()),
            "faces_loaded": faces.GetNumberOfPolys() if faces is not None else 0,
            "no_value": no_value,
            "dropped_by_tolerance": (max(0, _loadable_faces(leaf) - _loadable_faces(region))
                                     if region is not leaf else 0),
            "mapped": field_stats(values[loaded_points] if values is not None else None),
            "force_on_loaded_faces": surface_force(faces, field_name) if faces is not None else None,
        })
    else:
        body.update({
            "counted": "nodes",
            "nodes_loaded": int(valued.sum()),
            "faces_loaded": _loadable_faces(region),
            "no_value": int(np.count_nonzero(~valued)),
            "dropped_by_tolerance": n - region.GetNumberOfPoints() if region is not leaf else 0,
            "mapped": field_stats(values[valued] if values is not None else None),
        })
    return body


def mapping_report(mapped, source, field_name, method, tolerance, unit=None,
                   source_length_factor=1.0):
    """A dict for JSON: the mapping's settings, the source's field, one entry per body and, for
    pressures, the force balance. `source_length_factor` turns the source's lengths into the
    model's (the mapping scales a copy of the source by it), so both forces are in model units."""
    source_values = _array(source.GetPointData(), field_name)
    bodies = [body_report(leaf, field_name, tolerance) for leaf in _leaves(mapped)]
    report = {
        "field": field_name, "unit": unit, "method": method, "tolerance": tolerance,
        "source": {"points": source.GetNumberOfPoints(), "cells": source.GetNumberOfCells(),
                   **field_stats(source_values)},
        "bodies": bodies,
    }
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
        f", max {_number(src['max']).strip()}, mean {_number(src['mean']).strip()}",
        f"no value / dropped: the {'faces' if report['field'] == 'Pressure' else 'nodes'} the "
        f"load leaves out (no mapped value / beyond the tolerance); min / max / mean over the "
        f"loaded values",
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
    if "force" in report:
        lines += ["", f"total force on the source surface: {_vector(report['force']['source'])}",
                  f"total force on the loaded faces:   {_vector(report['force']['loaded_faces'])}"]
    return "\n".join(lines)


def write_report(report, json_path, text_path):
    with open(json_path, "w") as f:
        json.dump(report, f, indent=2)
    with open(text_path, "w") as f:
        f.write(report_table(report) + "\n")
