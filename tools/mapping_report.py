"""The mapping report: what each body got from the source, and for pressures whether the force
was carried over.

Per body: nodes and faces that a load takes, target points with no value (unmapped by the
method's validity mask, or NaN) and dropped by the tolerance, min / max / mean of the mapped
field against the source's, the largest distance to the source, and for pressures the total
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


def _faces(dataset):
    """Polygons of 3 or 4 points (the faces a pressure load takes)."""
    if not dataset.IsA("vtkPolyData") or dataset.GetPolys() is None:
        return 0
    polys = dataset.GetPolys()
    offsets = ns.vtk_to_numpy(polys.GetOffsetsArray())
    sizes = np.diff(offsets)
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


def body_report(leaf, field_name, tolerance):
    pd = leaf.GetPointData()
    values = _array(pd, field_name)
    mask = _array(pd, "vtkValidPointMask")
    distance = _array(pd, "Distance")
    n = leaf.GetNumberOfPoints()
    no_value = np.zeros(n, bool)
    if values is not None:
        no_value |= ~np.isfinite(values)
    if mask is not None:
        no_value |= mask == 0
    region = _loaded_region(leaf, tolerance)
    body = {
        "body": _text(leaf, "Body pathName") or "(geometry body)",
        "points": n,
        "nodes_loaded": region.GetNumberOfPoints(),
        "faces_loaded": _faces(region),
        "no_value": int(no_value.sum()),
        "dropped_by_tolerance": (int(np.count_nonzero(distance > tolerance))
                                 if tolerance is not None and distance is not None else 0),
        "mapped": field_stats(values),
        "largest_distance": float(np.nanmax(distance)) if distance is not None and n else None,
    }
    if field_name == "Pressure":
        body["force_on_loaded_faces"] = surface_force(region, field_name)
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
