"""The mapping report: what each body got from the source, and for pressures whether the force
was carried over.

Per body: nodes and faces that the load took, what it left out (nodes of a temperature, faces of a
pressure) for want of a value and beyond the tolerance, min / max / mean of the values the load
carries against the source's, the largest distance to the source, and for pressures the force
balance of the body: the source's force over the faces it covers against the load's, in newtons
(force_balance holds the convention and the rule). The load's side is read from what the load
writer did (loadscribe.last_loaded_fields and last_left_out_counts), never re-derived. For the
whole mapping, for pressures: the same balance over all bodies, with the warnings of every
flagged one.
"""
import json
import math

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import force_balance

# A "Distance" this large is the distance volume's cap (no source point within its radius), no
# length: it is counted as beyond reach and kept out of every statistic.
BEYOND_REACH = 1e37


def _array(data, name):
    array = data.GetArray(name)
    return None if array is None else ns.vtk_to_numpy(array).astype(np.float64)


def _text(dataset, name):
    array = dataset.GetFieldData().GetAbstractArray(name)
    return array.GetValue(0) if array is not None and array.GetNumberOfValues() else None


# Where the reading layer read the source (cfdsource's field-data labels), as the report names it.
SOURCE_ORIGIN = {"source_time": "time", "source_layout": "layout", "source_region": "region"}


def source_origin(source):
    """{"time", "layout", "region"} of the source as far as its field data says, and "copies":
    how many mirrored or turned copies of a half or sector model it holds (fieldferry's
    "Source copies"), when it holds any."""
    found = {key: _text(source, label) for label, key in SOURCE_ORIGIN.items()}
    copies = _array(source.GetFieldData(), "Source copies")
    if copies is not None and len(copies):
        found["copies"] = int(copies[0])
    return {key: text for key, text in found.items() if text}


def _face_areas(surface):
    """The area of each cell of a surface (polydata)."""
    sizes = vtk.vtkCellSizeFilter()
    sizes.SetInputData(surface)
    sizes.ComputeAreaOn()
    sizes.ComputeVolumeOff()
    sizes.ComputeLengthOff()
    sizes.ComputeVertexCountOff()
    sizes.Update()
    area = _array(sizes.GetOutput().GetCellData(), "Area")
    # VTK's cell sizes take a polygon of five or more corners as the fan from its first corner,
    # which strays out of one bent in at another (a polyhedral mesh's face): Newell's area
    # instead, exact for a flat polygon, convex or not.
    polys = surface.GetPolys()
    offsets = ns.vtk_to_numpy(polys.GetOffsetsArray()).astype(np.int64)
    polygons = np.flatnonzero(np.diff(offsets) > 4)
    if area is None or not len(polygons):
        return area
    conn = ns.vtk_to_numpy(polys.GetConnectivityArray()).astype(np.int64)
    xyz = ns.vtk_to_numpy(surface.GetPoints().GetData()).astype(np.float64)
    sizes = np.diff(offsets)
    corners = xyz[conn] - np.repeat(xyz[conn[offsets[:-1]]], sizes, axis=0)
    following = np.arange(len(conn)) + 1
    following[offsets[1:] - 1] = offsets[:-1]
    newell = np.add.reduceat(np.cross(corners, corners[following]), offsets[:-1], axis=0)
    first = surface.GetNumberOfVerts() + surface.GetNumberOfLines()
    area[first + polygons] = 0.5 * np.linalg.norm(newell[polygons], axis=1)
    return area


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


def source_areas(source, field_name):
    """(values, weights) of the source's field: each face value weighted by its face's area, each
    point value by a third of the area of the triangles around it; weights None when the source
    has no surface (a point cloud or a volume counts its values alike)."""
    surface = force_balance._as_surface(source)
    held = source if surface is None else surface
    values = _array(held.GetPointData(), field_name)
    on_faces = values is None
    if on_faces:
        values = _array(held.GetCellData(), field_name)
    if values is None:
        return None, None
    values = values.reshape(len(values), -1)[:, 0]
    if surface is None:
        return values, None
    area = _face_areas(surface)
    if on_faces:
        return (values, area) if len(area) == len(values) else (values, None)
    # A point takes a share of every polygon it is a corner of.
    polys = surface.GetPolys()
    offsets = ns.vtk_to_numpy(polys.GetOffsetsArray()).astype(np.int64)
    conn = ns.vtk_to_numpy(polys.GetConnectivityArray()).astype(np.int64)
    sizes_of = np.diff(offsets)
    first = surface.GetNumberOfVerts() + surface.GetNumberOfLines()
    share = np.repeat(area[first:first + len(sizes_of)] / np.maximum(sizes_of, 1), sizes_of)
    weights = np.bincount(conn, weights=share, minlength=len(values))[:len(values)]
    return values, weights


def values_used(source, field_name, method):
    """How the mapping read the source's field: face values as they are, face values fitted to
    the points, or point values; and whether the source also held the other kind (its reader
    labels that: cfdsource's "held_<field>")."""
    also = _held_both(source, field_name)
    if source.GetPointData().GetArray(field_name) is not None:
        if _held(source, field_name).startswith("cell"):  # a volume's cells, and their points
            return ("cell values, interpolated to the points by the reader with the boundary's "
                    "values")
        return "point values" + (also and f"{also} face values (@cell after the array's name takes them)")
    if source.GetCellData().GetArray(field_name) is None:
        return None
    if method == "Face average":
        used = "face values, each face of a body taking their mean over it"
    else:
        used = "face values, made point values by a linear fit through the faces around each point"
    return used + (also and f"{also} point values (@point after the array's name takes them)")


def _held(source, field_name):
    """cfdsource's "held_<field>" label: where the reader took the field, or ""."""
    held = source.GetFieldData().GetAbstractArray("held_" + field_name)
    return str(held.GetValue(0)) if held is not None and held.GetNumberOfValues() else ""


def _held_both(source, field_name):
    """"; the source also held" when the source's reader says it held the field at both places."""
    return "; the source also held" if "both" in _held(source, field_name) else ""


def field_stats(values, weights=None):
    """min / max / mean of the finite values; the mean weighted by `weights` when given (and not
    all zero)."""
    ok = np.isfinite(values) if values is not None else np.zeros(0, bool)
    if not ok.any():
        return {"min": None, "max": None, "mean": None}
    finite = values[ok]
    w = None if weights is None else weights[ok]
    mean = finite.mean() if w is None or not w.sum() > 0 else (finite * w).sum() / w.sum()
    return {"min": float(finite.min()), "max": float(finite.max()), "mean": float(mean)}


def body_report(leaf, field_name, loaded, left_out):
    """One body's entry, from what the load writer handed the host for it (`loaded`, its FE field,
    None when it got no load) and what it left out (`left_out`, loadscribe's counts).
    "no_value" and "dropped_by_tolerance" count nodes for a temperature and faces for a pressure
    ("counted" says which); the statistics are taken over the values the load carries."""
    n = leaf.GetNumberOfPoints()
    distance = _array(leaf.GetPointData(), "Distance")
    capped = distance >= BEYOND_REACH if distance is not None else np.zeros(0, bool)
    measured = distance[~capped & np.isfinite(distance)] if distance is not None else []
    body = {
        "body": _text(leaf, "Body pathName") or "(geometry body)",
        "points": n,
        "largest_distance": float(measured.max()) if len(measured) else None,
        **({"beyond_reach": int(capped.sum())} if capped.any() else {}),
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
            **_shell_sides(leaf, loaded["element_ids"] if loaded else []),
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


SIDES = {1: "front", 2: "behind", 3: "both"}


def _shell_sides(leaf, element_ids):
    """{"sides": {"front": n, "behind": n, "both": n}}: the loaded faces of a shell mapped from a
    source with faces by the sides the fluid wets (fieldferry's "Wetted sides", in the terms of
    each element's normal); {} for any other body."""
    wetted = _array(leaf.GetCellData(), "Wetted sides")
    elements = _array(leaf.GetCellData(), "Element ID")
    if wetted is None or elements is None:
        return {}
    side_of = dict(zip(elements.tolist(), wetted.tolist()))
    counts = dict.fromkeys(SIDES.values(), 0)
    for element in element_ids:
        if side_of.get(element) in SIDES:
            counts[SIDES[side_of[element]]] += 1
    return {"sides": counts}


NO_LOAD = ("mapped, no host load: only \"Pressure\" and \"Temperature\" become host loads "
           "(the recorded host script has no load for this field)")


def _model_length_unit(mapped):
    """The model's length unit: the first part of the unit-system label the export gave the
    root (or, failing that, its first leaf)."""
    label = _text(mapped, "unit_system_label")
    if label is None:
        label = next((_text(leaf, "unit_system_label") for leaf in _leaves(mapped)
                      if _text(leaf, "unit_system_label")), None)
    return label.split("-")[0] if label else None


def force_units(length_unit, pressure_unit):
    """(newtons per force unit, N m per moment unit, force unit, moment unit) of forces summed
    as pressure x area in the model's units: N and N m through the unit converter, or the
    model's own units, named, when either unit is unknown to it."""
    import gaugeshift
    convert = gaugeshift.gaugeshift_factor().get_gaugeshift_factor
    try:
        metres = convert("Length", length_unit, "m")[0]
        pascals = convert("Pressure", pressure_unit, "Pa")[0]
    except (ValueError, AttributeError):
        length, pressure = length_unit or "model length unit", pressure_unit or "pressure unit"
        return 1.0, 1.0, f"{pressure} x {length}^2", f"{pressure} x {length}^3"
    return pascals * metres ** 2, pascals * metres ** 3, "N", "N m"


def _copies_of(source):
    copies = source_origin(source).get("copies")
    return {"copies": copies} if copies else {}


def force_report(mapped, source, bodies, loaded, tolerance, unit, length_factor, transform):
    """The force balance (see force_balance): a "balance" entry in each body of `bodies` that got
    a load, and the whole mapping's entry (returned), with the warnings of every flagged one."""
    if unit is None:
        unit = next((_text(leaf, "units_pressure") for leaf in _leaves(mapped)
                     if _text(leaf, "units_pressure")), None)
    force_factor, moment_factor, force_unit, moment_unit = force_units(
        _model_length_unit(mapped), unit)
    out = {"convention": force_balance.CONVENTION, "unit": force_unit,
           "moment_unit": moment_unit, **_copies_of(source)}
    leaf_of = {_text(leaf, "Body pathName"): leaf for leaf in _leaves(mapped)}
    paths = [path for path in loaded if path in leaf_of]
    loaded_tris = [force_balance.loaded_triangles(leaf_of[path], loaded[path]) for path in paths]
    source_tris = force_balance.source_triangles(source, "Pressure", length_factor, transform)
    everything = force_balance.Triangles.joined(loaded_tris)
    out["warnings"] = warnings = []
    if source_tris is None:  # a point cloud or a volume: no surface to take the force on
        def loaded_only(tris):
            f, m, _ = tris.force(-1.0)
            return {"source": None, "loaded": (f * force_factor + 0.0).tolist(),
                    "loaded_moment": (m * moment_factor + 0.0).tolist(), "check": "n/a"}
        by_path = {path: loaded_only(tris) for path, tris in zip(paths, loaded_tris)}
        for body in bodies:
            if body["body"] in by_path:
                body["balance"] = by_path[body["body"]]
        out.update({"source_surface": None, **loaded_only(everything)})
        return out
    f, m, _ = source_tris.force(+1.0)
    out.update({"source_surface": (f * force_factor + 0.0).tolist(),
                "source_surface_moment": (m * moment_factor + 0.0).tolist()})
    # Which source faces are a body's is decided on its whole surface, loaded or not: its
    # source force is the same whatever the method; the loaded faces judge only the direction.
    surfaces = [force_balance.surface_triangles(leaf_of[path]) for path in paths]
    solid = [_text(leaf_of[path], "mesh_type") in ("tetra", "hexa") for path in paths]
    owner = force_balance.ownership(source_tris, surfaces, solid, tolerance)
    _, agree = force_balance.coverage(source_tris, loaded_tris, tolerance)
    by_path = {}
    for index, (path, tris) in enumerate(zip(paths, loaded_tris)):
        mine = owner == index
        entry = force_balance.balance(source_tris.part(mine), tris, force_factor, moment_factor,
                                      agree[mine])
        by_path[path] = entry
        line = force_balance.warning(f"body '{path}'", entry, force_unit)
        if line:
            warnings.append(line)
    for body in bodies:
        if body["body"] in by_path:
            body["balance"] = by_path[body["body"]]
    total = force_balance.balance(source_tris.part(owner >= 0), everything, force_factor,
                                  moment_factor, agree[owner >= 0])
    out.update(total)
    out["uncovered_source_faces"] = int(np.count_nonzero(owner < 0))
    line = force_balance.warning("all bodies", total, force_unit)
    if line:
        warnings.append(line)
    return out


def source_area_covered(mapped, source, length_factor=1.0):
    """{"whole": the source surface's area, "covered": the source area the bodies' faces cover,
    "share": covered / whole}, in model units, from the "Source area covered" a face average
    leaves on each mapped body (the source faces its faces' samples reached, summed over the
    bodies: a source face under two bodies counts twice); None without it."""
    covered = [_array(leaf.GetFieldData(), "Source area covered") for leaf in _leaves(mapped)]
    covered = [float(c[0]) for c in covered if c is not None and len(c)]
    surface = force_balance._as_surface(source)
    if not covered or surface is None:
        return None
    whole = float(np.nansum(_face_areas(surface))) * length_factor ** 2
    return {"whole": whole, "covered": sum(covered),
            "share": sum(covered) / whole if whole > 0 else None}


def mapping_report(mapped, source, field_name, method, tolerance, unit=None,
                   source_length_factor=1.0, loaded=None, left_out=None, applied=None,
                   transform=None, radius=None):
    """A dict for JSON: the mapping's settings, the source's field, one entry per body and, for
    pressures, the force balance. The loads' side comes from what the load writer did:
    `loaded` ({body path: FE field handed to the host}) and `left_out` ({body path: counts}),
    by default loadscribe's `last_loaded_fields` and `last_left_out_counts` of the last load.
    `source_length_factor` turns the source's lengths into the model's and `transform` (a 4x4
    matrix, model units) moves it, as the mapping placed the source, so both forces are in the
    model's axes. `applied` (a dict, e.g. {"array": "p", "scale": 1.2, "offset": 0.0}) says what
    was done to the source's array before the mapping; the report repeats it. `radius` (model
    units): the "Coarse to fine" kernel radius the mapping used."""
    import loadscribe
    loaded = loadscribe.last_loaded_fields if loaded is None else loaded
    left_out = loadscribe.last_left_out_counts if left_out is None else left_out
    makes_load = field_name in ("Pressure", "Temperature")
    source_values, source_weights = source_areas(source, field_name)
    bodies = []
    for leaf in _leaves(mapped):
        path = _text(leaf, "Body pathName")
        bodies.append(body_report(leaf, field_name, loaded.get(path) if makes_load else None,
                                  left_out.get(path) if makes_load else None))
    report = {
        "field": field_name, "unit": unit, "method": method, "tolerance": tolerance,
        "source": {"points": source.GetNumberOfPoints(), "cells": source.GetNumberOfCells(),
                   **source_origin(source),
                   "values": values_used(source, field_name, method),
                   **({"applied": applied} if applied else {}),
                   **({"mean_weighted_by": "area"} if source_weights is not None else {}),
                   **field_stats(source_values, source_weights)},
        "bodies": bodies,
    }
    if radius is not None:
        report["radius"] = radius
    if not makes_load:
        report["load"] = NO_LOAD
    area = source_area_covered(mapped, source, source_length_factor)
    if area is not None:
        report["source_area"] = area
    if field_name == "Pressure":
        report["force"] = force_report(mapped, source, bodies, loaded, tolerance, unit,
                                       source_length_factor, transform)
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


MARKS = {"ok": "ok", "differs": "! DIFFERS", "opposite": "! OPPOSITE", "no source": "! NO SOURCE",
         "not judged": "net ~ 0", "nothing loaded": "-", "n/a": "-"}


def _balance_row(name, entry):
    ratio, angle = entry.get("ratio"), entry.get("angle")
    return (f"{name:48s} {_triple(entry.get('source'))} {_triple(entry.get('loaded'))} "
            f"{'-' if ratio is None else f'{ratio:.4f}':>7s} "
            f"{'-' if angle is None else f'{angle:.1f}':>6s}  {MARKS.get(entry.get('check'), '')}")


def _triple(v):
    text = "-" if v is None else "(" + ", ".join(f"{c:.4g}" for c in v) + ")"
    return f"{text:34s}"


def force_lines(force, bodies):
    """The force balance as text: the convention, one row per loaded body and the total."""
    unit, moment_unit = force["unit"], force["moment_unit"]
    lines = ["", f"Force balance, in {unit} (moments in {moment_unit}): {force['convention']}",
             f"{'body':48s} {'source force (Fx, Fy, Fz)':34s} {'loaded force (Fx, Fy, Fz)':34s} "
             f"{'ratio':>7s} {'angle':>6s}  check"]
    for b in bodies:
        if "balance" in b:
            name = b["body"] if len(b["body"]) <= 48 else "..." + b["body"][-45:]
            lines.append(_balance_row(name, b["balance"]))
    lines.append(_balance_row("all bodies", force))
    lines += ["source force of a body: the wetted source faces over its whole surface, loaded "
              "or not, whatever the method (for a solid, those facing it)",
              f"source surface, whole{' (copies included)' if force.get('copies') else ''}: "
              f"{_vector(force.get('source_surface'))}",
              f"moment of the loaded faces: {_triple(force.get('loaded_moment')).strip()}"
              + (f", of the source faces the bodies take: {_triple(force['source_moment']).strip()}"
                 if force.get("source_moment") else "")]
    if force.get("uncovered_source_faces"):
        lines.append(f"source faces no body takes: {force['uncovered_source_faces']} "
                     "(beyond every body's reach, or facing away from every solid)")
    return lines


def report_table(report):
    """The report as readable text."""
    unit = f" [{report['unit']}]" if report.get("unit") else ""
    src = report["source"]
    lines = [
        f"{report['field']}{unit} mapped with \"{report['method']}\", tolerance "
        f"{report['tolerance']}"
        + (f", radius {report['radius']:.4g}" if report.get("radius") is not None else "")
        + (f"; method auto: {report['method_reason']}" if report.get("method_reason") else ""),
        f"source: {src['points']} points, {src['cells']} cells, min {_number(src['min']).strip()}"
        f", max {_number(src['max']).strip()}, mean {_number(src['mean']).strip()}"
        + (f"; {src['values']}" if src.get("values") else "")
        + "".join(f"; {key} {src[key]}" for key in SOURCE_ORIGIN.values() if key in src)
        + (f"; with {src['copies']} mirrored or turned copies (the whole)"
           if src.get("copies") else "")
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
                     f"{_number(m['max'])} {_number(m['mean'])} {_number(b['largest_distance'])}"
                     + (f"  ({b['beyond_reach']} points beyond reach)"
                        if b.get("beyond_reach") else ""))
    away = [(b["body"], b["facing_away"]) for b in report["bodies"] if b.get("facing_away")]
    if away:
        lines += ["", "faces of solids left out as facing away from the source (a thin wall's dry "
                  "side, the rims of its ends): " + ", ".join(f"{n} of {body}" for body, n in away)]
    sides = [(b["body"], b["sides"]) for b in report["bodies"] if b.get("sides")]
    if sides:
        lines += ["", "faces of shells loaded from the fluid in front (along the element normal), "
                  "behind and on both sides (the net pressure): " + ", ".join(
                      f"{body} {s['front']} / {s['behind']} / {s['both']}" for body, s in sides)]
    if report.get("source_area"):
        area = report["source_area"]
        share = "" if area["share"] is None else f" ({100 * area['share']:.1f} %)"
        lines += ["", f"source area covered by the bodies' faces: {area['covered']:.4g} of "
                      f"{area['whole']:.4g}{share}"]
    if "force" in report:
        lines += force_lines(report["force"], report["bodies"])
    return "\n".join(lines)


def write_report(report, json_path, text_path):
    with open(json_path, "w") as f:
        json.dump(report, f, indent=2)
    with open(text_path, "w") as f:
        f.write(report_table(report) + "\n")
