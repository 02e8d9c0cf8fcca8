"""The mapping report as one self-contained HTML page, for an engineer checking a mapping by eye.

The page holds, pictures embedded as PNG data: the source and the mapped model side by side in one
colour range, the points that got no value, the distance to the source where the mapping measured
one, histograms of the mapped values against the source's and of the distances, the per-body
table, the force balance for pressures and the command that produced it. The pictures of models
need sceneview and a display (Xvfb will do); without them (pictures=False) the page has the
histograms, the tables and the command only.
"""
import base64
import html
import io
import math
import os
import shlex
import sys

import numpy as np
from vtk.util import numpy_support as ns

from mapping_report import BEYOND_REACH, _leaves, source_areas

PICTURE_SIZE = (560, 420)
HISTOGRAM_BINS = 40
UNMAPPED_COLOUR = (1.0, 0.0, 1.0)  # magenta: not a colour the host gives bodies by default
DROPPED_COLOUR = (0.55, 0.55, 0.55)  # grey: faces the tolerance leaves out carry no load

STYLE = """
body { font-family: sans-serif; margin: 1.5em; color: #222; max-width: 1200px; }
h1 { font-size: 1.5em; } h2 { font-size: 1.2em; margin-top: 1.6em; }
.row { display: flex; flex-wrap: wrap; gap: 1em; }
figure { margin: 0; } figcaption { font-size: 0.9em; color: #555; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; text-align: right; }
th:first-child, td:first-child { text-align: left; }
code, pre { background: #f3f3f3; padding: 0.2em 0.4em; }
pre { white-space: pre-wrap; overflow-wrap: anywhere; }
.note { color: #555; }
.flag, tr.flag td { color: #a00; font-weight: bold; }
"""


def _point_values(dataset, name):
    array = dataset.GetPointData().GetArray(name)
    if array is None:
        return None
    values = ns.vtk_to_numpy(array).astype(np.float64)
    return values[:, 0] if values.ndim > 1 else values


def _source_values(source, name):
    """The source's values of the field, where the source holds them (points or faces)."""
    values = _point_values(source, name)
    if values is None and source.GetCellData().GetArray(name) is not None:
        values = ns.vtk_to_numpy(source.GetCellData().GetArray(name)).astype(np.float64)
    return values


def mapped_values(mapped, field_name):
    """The values the mapping produced: points whose mask is 1, finite only."""
    parts = []
    for leaf in _leaves(mapped):
        values = _point_values(leaf, field_name)
        if values is None:
            continue
        keep = np.isfinite(values)
        mask = _point_values(leaf, "vtkValidPointMask")
        if mask is not None:
            n = min(len(values), len(mask))
            keep[:n] &= mask[:n] != 0
        parts.append(values[keep])
    return np.concatenate(parts) if parts else np.zeros(0)


def distances(mapped):
    """(every measured "Distance" of the mapped leaves, the number of points beyond reach): a
    distance at the cap (no source point within the distance volume's radius) is no length and
    is counted apart."""
    parts = [d[np.isfinite(d)] for d in (_point_values(leaf, "Distance") for leaf in _leaves(mapped))
             if d is not None]
    every = np.concatenate(parts) if parts else np.zeros(0)
    capped = every >= BEYOND_REACH
    return every[~capped], int(np.count_nonzero(capped))


def _any_point(dataset, flags):
    """Per cell of `dataset`, whether any of its points is flagged."""
    if dataset.IsA("vtkPolyData"):  # cell IDs run over vertices, lines, polygons, strips
        arrays = [dataset.GetVerts(), dataset.GetLines(), dataset.GetPolys(), dataset.GetStrips()]
    elif hasattr(dataset, "GetCells") and dataset.GetCells() is not None:
        arrays = [dataset.GetCells()]
    else:
        points = [[dataset.GetCell(c).GetPointId(k)
                   for k in range(dataset.GetCell(c).GetNumberOfPoints())]
                  for c in range(dataset.GetNumberOfCells())]
        return np.array([bool(flags[p].any()) for p in points], bool)
    parts = []
    for cells in arrays:
        if cells is None or not cells.GetNumberOfCells():
            continue
        offsets = ns.vtk_to_numpy(cells.GetOffsetsArray()).astype(np.int64)
        conn = ns.vtk_to_numpy(cells.GetConnectivityArray()).astype(np.int64)
        hits = np.concatenate([[0], np.cumsum(flags[conn])])
        parts.append(hits[offsets[1:]] > hits[offsets[:-1]])
    return np.concatenate(parts) if parts else np.zeros(0, bool)


def within_tolerance(mapped, tolerance):
    """(the mapped multiblock with only the faces a load keeps, a vtkPolyData of the others):
    kept are the faces all of whose points lie within the tolerance and, on a solid's surface the
    mapping marked, that face the source ("Faces source" 1; the dry side is left out)."""
    import vtk
    kept, dropped = vtk.vtkMultiBlockDataSet(), vtk.vtkAppendPolyData()
    for index, leaf in enumerate(_leaves(mapped)):
        distance = _point_values(leaf, "Distance")
        if distance is None or not leaf.GetNumberOfCells():
            kept.SetBlock(index, leaf)
            continue
        drop = _any_point(leaf, ~(distance <= tolerance))
        facing = leaf.GetCellData().GetArray("Faces source")
        if facing is not None:
            drop |= ns.vtk_to_numpy(facing).reshape(len(drop), -1)[:, 0] == 0
        marked = leaf.NewInstance()
        marked.ShallowCopy(leaf)
        flag = ns.numpy_to_vtk(drop.astype(np.uint8), deep=1)
        flag.SetName("report: dropped")
        marked.GetCellData().AddArray(flag)
        for block, value in ((kept, 0), (dropped, 1)):
            threshold = vtk.vtkThreshold()
            threshold.SetInputData(marked)
            threshold.SetInputArrayToProcess(0, 0, 0, vtk.vtkDataObject.FIELD_ASSOCIATION_CELLS,
                                             "report: dropped")
            threshold.SetLowerThreshold(value - 0.5)
            threshold.SetUpperThreshold(value + 0.5)
            threshold.SetThresholdFunction(vtk.vtkThreshold.THRESHOLD_BETWEEN)
            surface = vtk.vtkGeometryFilter()
            surface.SetInputConnection(threshold.GetOutputPort())
            surface.Update()
            part = vtk.vtkPolyData()
            part.DeepCopy(surface.GetOutput())
            part.GetFieldData().DeepCopy(leaf.GetFieldData())
            if block is kept:
                kept.SetBlock(index, part)
            else:
                dropped.AddInputData(part)
    dropped.AddInputData(vtk.vtkPolyData())  # an append filter needs an input
    dropped.Update()
    return kept, dropped.GetOutput()


def label_format(lo, hi, count):
    """A printf format for `count` scalar-bar labels from lo to hi with no two alike: the
    viewer's fixed three digits print a narrow range (100.0 to 100.3) as one value."""
    values = np.linspace(lo, hi, max(count, 2))
    for digits in range(3, 16):
        fmt = f"%.{digits}g"
        if len({fmt % v for v in values}) == len(set(values.tolist())):
            return fmt
    return "%.17g"


def unmapped_cloud(mapped):
    """A vtkPolyData of the mapped model's points whose mask is 0 (no cells)."""
    import vtk
    parts = [np.zeros((0, 3))]
    for leaf in _leaves(mapped):
        mask = _point_values(leaf, "vtkValidPointMask")
        if mask is None or leaf.GetNumberOfPoints() == 0:
            continue
        xyz = ns.vtk_to_numpy(leaf.GetPoints().GetData()).astype(np.float64)
        n = min(len(xyz), len(mask))
        parts.append(xyz[:n][mask[:n] == 0])
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(np.concatenate(parts)), deep=True))
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(points)
    return cloud


def _data_uri(png_bytes):
    return "data:image/png;base64," + base64.b64encode(png_bytes).decode("ascii")


def _png_of_figure(figure):
    buffer = io.BytesIO()
    figure.savefig(buffer, format="png", dpi=100)
    return buffer.getvalue()


def histogram_bins(lo, hi):
    """HISTOGRAM_BINS + 1 strictly increasing bin edges over lo..hi. A constant field, or one
    whose values differ by round-off only, would give bins of no width (a density divided by
    zero): its range is widened around the value."""
    edges = np.linspace(lo, hi, HISTOGRAM_BINS + 1)
    if np.all(np.diff(edges) > 0):
        return edges
    centre, half = 0.5 * lo + 0.5 * hi, max(1e-6 * max(abs(lo), abs(hi)), 0.5)
    return np.linspace(centre - half, centre + half, HISTOGRAM_BINS + 1)


def histogram_png(series, xlabel, title, marker=None, note=None):
    """A PNG of overlaid density histograms over shared bins: series = [(label, values), ...] or
    (label, values, weights). `marker` = (label, x) draws a vertical line (the tolerance); `note`
    is written in a corner."""
    import matplotlib
    matplotlib.use("Agg")
    from matplotlib.figure import Figure
    figure = Figure(figsize=(5.6, 3.6))
    axes = figure.subplots()
    series = [(s[0], s[1], s[2] if len(s) > 2 else None) for s in series]
    finite = [v for _, v, _ in series if v.size]
    if finite:
        everything = np.concatenate(finite)
        lo, hi = float(everything.min()), float(everything.max())
        bins = histogram_bins(lo, hi)
        for label, values, weights in series:
            if values.size:
                if weights is not None and not weights.sum() > 0:
                    weights = None  # faces of no area: their values count alike
                axes.hist(values, bins=bins, density=True, histtype="stepfilled", alpha=0.45,
                          weights=weights, label=f"{label} ({values.size})")
        if marker is not None:
            axes.axvline(marker[1], color="k", linestyle="--", label=marker[0])
        axes.legend(fontsize=8)
    else:
        axes.text(0.5, 0.5, "no values", ha="center", va="center", transform=axes.transAxes)
    if note:
        axes.text(0.98, 0.02, note, ha="right", va="bottom", fontsize=8, transform=axes.transAxes)
    axes.set_xlabel(xlabel)
    axes.set_ylabel("share per unit")
    axes.set_title(title, fontsize=10)
    figure.tight_layout()
    return _png_of_figure(figure)


def _render(show, path, value_range=None, unit=None, above_range=None):
    """One off-screen picture of a fresh viewer; `show(viewer)` builds its pipelines. With a
    value_range the field mappers and the lookup table take that range, and the scalar bar's
    labels as many digits as tell them apart; values above it are drawn in the `above_range`
    colour, off the scale."""
    import sceneview
    viewer = sceneview.sceneview({"units": unit} if unit else {})
    show(viewer)
    if value_range is not None:
        viewer.build_lut(*value_range)
        for mapper in (viewer.face_mapper, viewer.point_mapper):
            mapper.SetScalarRange(*value_range)
        bar = viewer.scalar_bar_actor
        bar.SetLabelFormat(label_format(*value_range, bar.GetNumberOfLabels()))
        if above_range is not None:
            viewer.lut.SetAboveRangeColor(*above_range, 1.0)
            viewer.lut.UseAboveRangeColorOn()
            viewer.lut.Build()
    viewer.render_offscreen(path, *PICTURE_SIZE)
    with open(path, "rb") as f:
        return f.read()


def model_pictures(report, mapped, source, work_dir):
    """(caption, PNG bytes) of the source, the mapped model, the unmapped points and the
    distance, the first two in one colour range."""
    field = report["field"]
    unit = f" [{report['unit']}]" if report.get("unit") else ""
    mapped_range = mapped_values(mapped, field)
    source_values = _source_values(source, field)
    source_values = source_values[np.isfinite(source_values)] if source_values is not None else []
    everything = np.concatenate([mapped_range, source_values])
    value_range = (float(everything.min()), float(everything.max())) if everything.size else None
    tag = field.lower()

    def path(name):
        return os.path.join(work_dir, f".report_{tag}_{name}.png")

    shown_source = source
    if not source.IsA("vtkPolyData"):  # the viewer shows polydata and multiblocks only
        import vtk
        surface = vtk.vtkDataSetSurfaceFilter()
        surface.SetInputData(source)
        surface.Update()
        shown_source = surface.GetOutput()
    if shown_source.GetPointData().GetArray(field) is None:
        # The viewer colours by point values: face values are drawn through their points.
        import vtk
        to_points = vtk.vtkCellDataToPointData()
        to_points.SetInputData(shown_source)
        to_points.Update()
        shown_source = to_points.GetOutput()
    tolerance = report.get("tolerance")
    if tolerance is None:
        def show_mapped(viewer):
            viewer.display_mesh(mapped, "Point", field)
        caption = f"Mapped model: {field}{unit} (yellow: no value)"
    else:
        # Faces the load leaves out carry nothing: drawn grey, not in the field's colours.
        kept, dropped = within_tolerance(mapped, tolerance)

        def show_mapped(viewer):
            import vtk
            if any(leaf.GetPointData().GetArray(field) for leaf in _leaves(kept)):
                viewer.display_mesh(kept, "Point", field)
            if dropped.GetNumberOfCells():
                mapper = vtk.vtkPolyDataMapper()
                mapper.SetInputData(dropped)
                mapper.ScalarVisibilityOff()
                actor = vtk.vtkActor()
                actor.SetMapper(mapper)
                actor.GetProperty().SetColor(*DROPPED_COLOUR)
                viewer.scene_renderer.AddActor(actor)
        caption = (f"Mapped model: {field}{unit} (yellow: no value; grey: faces the load leaves "
                   f"out, beyond the tolerance or facing away, {dropped.GetNumberOfCells()})")
    pictures = [
        (f"Source: {field}{unit}",
         _render(lambda v: v.display_mesh(shown_source, "Point", field), path("source"), value_range,
                 report.get("unit"))),
        (caption, _render(show_mapped, path("mapped"), value_range, report.get("unit"))),
    ]
    cloud = unmapped_cloud(mapped)
    if cloud.GetNumberOfPoints():
        def show_unmapped(viewer):
            viewer.display_mesh(mapped)  # the bodies in their own colours
            viewer.build_polydata_pipeline(cloud)
            viewer.point_actor.GetProperty().SetColor(*UNMAPPED_COLOUR)
        pictures.append((f"Points without a value ({cloud.GetNumberOfPoints()}, magenta)",
                         _render(show_unmapped, path("unmapped"))))
    measured, beyond = distances(mapped)
    if measured.size or beyond:
        top = float(measured.max()) if measured.size else 1.0
        low = float(measured.min()) if measured.size else 0.0
        pictures.append((
            "Distance to the source (model length unit)"
            + (f"; white: beyond reach, no source point within the distance volume's radius "
               f"({beyond} points)" if beyond else ""),
            _render(lambda v: v.display_mesh(mapped, "Point", "Distance"), path("distance"),
                    (low, top if top > low else low + 1.0), above_range=(1.0, 1.0, 1.0))))
    for name in ("source", "mapped", "unmapped", "distance"):
        if os.path.exists(path(name)):
            os.remove(path(name))
    return pictures


def _cell(value):
    if value is None:
        return "-"
    if isinstance(value, bool):
        return str(value)
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return f"{value:.4g}" if math.isfinite(value) else str(value)
    if isinstance(value, (list, tuple)):
        return "(" + ", ".join(_cell(v) for v in value) + ")"
    return str(value)


def _magnitude(vector):
    return math.sqrt(sum(c * c for c in vector)) if vector else None


BODY_COLUMNS = [
    ("body", lambda b: b.get("body")),
    ("points", lambda b: b.get("points")),
    ("nodes loaded", lambda b: b.get("nodes_loaded")),
    ("faces loaded", lambda b: b.get("faces_loaded")),
    ("no value", lambda b: b.get("no_value")),
    ("dropped by tolerance", lambda b: b.get("dropped_by_tolerance")),
    ("min", lambda b: (b.get("mapped") or {}).get("min")),
    ("max", lambda b: (b.get("mapped") or {}).get("max")),
    ("mean", lambda b: (b.get("mapped") or {}).get("mean")),
    ("shell faces: fluid in front / behind / both",
     lambda b: b.get("sides") and "{front} / {behind} / {both}".format(**b["sides"])),
    ("largest distance", lambda b: b.get("largest_distance")),
    ("beyond reach", lambda b: b.get("beyond_reach")),
    ("|force| on loaded faces", lambda b: _magnitude((b.get("balance") or {}).get("loaded"))),
]


def body_table(report):
    unit = (report.get("force") or {}).get("unit")
    head = "".join(f"<th>{html.escape(name)}"
                   f"{f' [{html.escape(unit)}]' if unit and name.startswith('|force|') else ''}"
                   "</th>" for name, _ in BODY_COLUMNS)
    rows = []
    for body in report["bodies"]:
        cells = "".join(f"<td>{html.escape(_cell(get(body)))}</td>" for _, get in BODY_COLUMNS)
        rows.append(f"<tr>{cells}</tr>")
    return f"<table class=\"bodies\"><tr>{head}</tr>\n" + "\n".join(rows) + "</table>"


CHECKS = {"ok": ("ok", ""), "differs": ("differs", "flag"), "opposite": ("opposite", "flag"),
          "no source": ("no source near", "flag"), "not judged": ("net ~ 0, not judged", ""),
          "nothing loaded": ("nothing loaded", ""), "n/a": ("-", "")}


def _balance_row(name, entry, unit):
    label, css = CHECKS.get(entry.get("check"), (entry.get("check") or "-", ""))
    ratio, angle = entry.get("ratio"), entry.get("angle")
    cells = [html.escape(name), html.escape(_cell(entry.get("source"))),
             html.escape(_cell(entry.get("loaded"))),
             "-" if ratio is None else f"{ratio:.4f}", "-" if angle is None else f"{angle:.1f}",
             html.escape(_cell(entry.get("source_moment"))),
             html.escape(_cell(entry.get("loaded_moment"))), html.escape(label)]
    mark = f" class=\"{css}\"" if css else ""
    return f"<tr{mark}>" + "".join(f"<td>{c}</td>" for c in cells) + "</tr>"


def force_section(report):
    force = report.get("force")
    if force is None:
        return ""
    unit, moment_unit = force.get("unit"), force.get("moment_unit")
    rows = [_balance_row(b["body"], b["balance"], unit) for b in report["bodies"]
            if "balance" in b]
    rows.append(_balance_row("all bodies", force, unit))
    head = "".join(f"<th>{html.escape(h)}</th>" for h in (
        "body", f"source force (Fx, Fy, Fz) [{unit}]", f"loaded force (Fx, Fy, Fz) [{unit}]",
        "|loaded| / |source|", "angle [deg]", f"source moment [{moment_unit}]",
        f"loaded moment [{moment_unit}]", "check"))
    whole = force.get("source_surface")
    notes = [f"Convention: {html.escape(force.get('convention', ''))}",
             "A body's source force is that of the wetted source faces over its whole surface, "
             "loaded or not, whatever the method (for a solid, the faces facing it).",
             "A body is flagged when its loaded force differs from the source's by more than 2 % "
             "in size or 5 degrees in direction."]
    if whole is None:
        notes.append("The source is a point cloud or a volume: it has no surface to take a "
                     "force on, so only the loaded side is given.")
    else:
        copies = (f" (with its {force['copies']} mirrored or turned copies)"
                  if force.get("copies") else "")
        notes.append(f"Whole source surface{copies}: {html.escape(_cell(whole))} "
                     f"{html.escape(unit)}"
                     + (f"; {force['uncovered_source_faces']} source faces lie beyond every "
                        "body's reach" if force.get("uncovered_source_faces") else "") + ".")
    area = report.get("source_area")
    if area and area.get("share") is not None:
        notes.append(f"Source area covered by the bodies' faces (face average): "
                     f"{area['covered']:.4g} of {area['whole']:.4g} ({100 * area['share']:.1f} %).")
    warnings = "".join(f"<p class=\"flag\">{html.escape(w)}</p>"
                       for w in force.get("warnings", []))
    return (f"<h2>Force balance</h2>{warnings}<table class=\"balance\"><tr>{head}</tr>"
            + "\n".join(rows) + "</table>"
            + "".join(f"<p class=\"note\">{n}</p>" for n in notes))


def command_line():
    """This process's command line; kelm-map runs tools/kelm_map.py and is shown by its name."""
    argv = list(sys.argv)
    if argv and os.path.basename(argv[0]) == "kelm_map.py":
        return shlex.join(["kelm-map", *argv[1:]])
    return shlex.join([sys.executable, *argv])


def _figure(caption, png):
    return (f"<figure><img src=\"{_data_uri(png)}\" alt=\"{html.escape(caption)}\">"
            f"<figcaption>{html.escape(caption)}</figcaption></figure>")


def write_html_report(report, mapped, source, path, pictures=True, call=None, command=None):
    """Writes the report page to `path` and returns the path. `report` is mapping_report's dict,
    `mapped` the mapped multiblock, `source` the source dataset; `call` the Python call that
    mapped the field, `command` the command line (this process's by default)."""
    field = report["field"]
    unit = report.get("unit") or ""
    source_values, areas = source_areas(source, field)
    if source_values is None:
        source_values = np.zeros(0)
    finite = np.isfinite(source_values)
    source_series = (("source, by area", source_values[finite], areas[finite])
                     if areas is not None else ("source", source_values[finite]))
    value_plot = histogram_png([source_series, ("mapped", mapped_values(mapped, field))],
                               f"{field} [{unit}]" if unit else field,
                               "Mapped values against the source's")
    parts = [
        f"<h1>Mapping report: {html.escape(field)}</h1>",
        f"<p>Method \"{html.escape(str(report.get('method')))}\""
        + (f" (auto: {html.escape(report['method_reason'])})" if report.get("method_reason")
           else "") + ", tolerance "
        f"{html.escape(_cell(report.get('tolerance')))}; source: "
        f"{report['source'].get('points')} points, {report['source'].get('cells')} cells.</p>",
    ]
    if pictures:
        work_dir = os.path.dirname(os.path.abspath(path))
        parts.append("<h2>Pictures</h2><div class=\"row\">" + "".join(
            _figure(c, png) for c, png in model_pictures(report, mapped, source, work_dir))
            + "</div>")
    plots = [_figure("Mapped values against the source's", value_plot)]
    distance, beyond = distances(mapped)
    if distance.size or beyond:
        tolerance = report.get("tolerance")
        plots.append(_figure("Distance to the source", histogram_png(
            [("target points", distance)], "distance (model length unit)",
            "Distance from each target point to the source",
            marker=("tolerance", tolerance) if tolerance is not None else None,
            note=f"beyond reach (not drawn): {beyond} points" if beyond else None)))
    parts.append("<h2>Histograms</h2><div class=\"row\">" + "".join(plots) + "</div>")
    parts.append("<h2>Bodies</h2>" + body_table(report))
    parts.append(force_section(report))
    parts.append("<h2>Produced by</h2><pre>" + html.escape(command or command_line()) + "</pre>")
    if call:
        parts.append("<pre>" + html.escape(call) + "</pre>")
    page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
            f"<title>Mapping report: {html.escape(field)}</title><style>{STYLE}</style></head>"
            "<body>\n" + "\n".join(parts) + "\n</body></html>\n")
    with open(path, "w", encoding="utf-8") as f:
        f.write(page)
    return path
