"""The main road, shared by the demo and kelm-map: export the host model (once for every field
mapped from it), map a field, create its load with recording on, save the datasets, take a
picture and write the report.
"""
import contextlib
import io
import os
import time

import gaugeshift
import kelm
import numpy as np
import vtk

import fieldferry
import loadscribe
import treewalk

from mapping_report import mapping_report, report_table, write_report
from report_html import write_html_report

UNIT_ARRAYS = {"Pressure": "units_pressure", "Temperature": "units_temperature"}


class ApartError(ValueError):
    """The source and the model lie apart or at different scales (usually a unit mistake)."""


class Stage:
    """Prints one progress line per stage: '[field] stage ... done in 1.2 s'."""

    def __init__(self, label, quiet=False):
        self.label, self.quiet = label, quiet

    @contextlib.contextmanager
    def __call__(self, what):
        if not self.quiet:
            print(f"[{self.label}] {what} ...", end="", flush=True)
        t0 = time.perf_counter()
        yield
        if not self.quiet:
            print(f" done in {time.perf_counter() - t0:.1f} s", flush=True)


def _text(dataset, name):
    array = dataset.GetFieldData().GetAbstractArray(name)
    return array.GetValue(0) if array is not None else None


def default_radius(model_root):
    """The "Coarse to fine" radius the mapping takes when given none, in the model's length
    unit."""
    model_unit = _text(model_root, "unit_system_label").split("-")[0]
    metre = 1.0 if model_unit == "m" else gaugeshift.gaugeshift_factor().get_gaugeshift_factor(
        "Length", "m", model_unit)[0]
    return fieldferry.default_coarse_radius_metres * metre


def length_factor(source, model_root):
    """The factor the mapping scales the source's lengths by into the model's."""
    source_unit = _text(source, "current_units_length")
    model_unit = _text(model_root, "unit_system_label").split("-")[0]
    if source_unit == model_unit:
        return 1.0
    return gaugeshift.gaugeshift_factor().get_gaugeshift_factor("Length", source_unit,
                                                                model_unit)[0]


def take_picture(mapped, body_map, field_name, unit, path):
    import sceneview  # the viewer needs a display (or Xvfb); only imported when pictures are wanted
    viewer = sceneview.sceneview({"units": unit or ""})
    viewer.initialize_(mapped, body_map)
    viewer.display_mesh(mapped, "Point", field_name)
    return viewer.render_offscreen(path)


def export_model(entities, out_dir):
    """(the model multiblock, its body map), the model saved as out_dir/model.vtm."""
    model = treewalk.create_vtk_dataset_from_kelm_entities(entities)
    body_map = treewalk.blockbook.get_model_map_with_block_id()
    treewalk.blockbook.save(os.path.join(out_dir, "model.vtm"))
    return model, body_map


def whole_source(source, model, copies, tolerance):
    """The source merged with its mirrored or turned copies (`copies`: motion.copies' keyword
    arguments; the source itself without any), in its own coordinates and unit, its faces lying
    in the symmetry plane or on the sector's cut (within `tolerance`, model units) dropped.
    Made once, before the
    road, so that the mapping, the moved source and the force balance all see the same whole;
    its field data "Source copies" tells the report how many copies it holds."""
    if not copies:
        return source
    factor = length_factor(source, model)
    return fieldferry.place_source(
        source, 1.0, None, tolerance=None if tolerance is None else tolerance / factor, **copies)


def write_moved_source(source, model, matrix, out_dir):
    """Writes the source as the mapping places it (scaled into the model's length unit, then
    moved by the 4x4 `matrix`) as out_dir/source_moved.vtp (or .vtu), to be checked against the
    model."""
    import motion
    model_unit = _text(model, "unit_system_label").split("-")[0]
    moving = motion.moved(source, length_factor(source, model), matrix, model_unit)
    fieldferry.export_vtk_file(moving, os.path.join(out_dir, "source_moved"))


def map_field(entities, source, field_name, method, tolerance, boundary_only, out_dir,
              pictures=True, quiet=False, require_overlap=False, exported=None, applied=None,
              transform=None, reverse=()):
    """Runs the road for one field; returns the report (a dict). Files written into out_dir:
    model.vtm, mapped_<field>.vtm, <field>.png, report_<field>.json / .txt / .html; the recorded
    host script accumulates in loadscribe.macro (the caller saves it). `exported`, from
    export_model, maps onto a copy of a model exported before (several fields from one export);
    `applied` ({"array", "scale", "offset"}) tells the report what the source's array was and
    what was done to its values; `transform` (a 4x4 matrix) moves the source in model units;
    `reverse` names the shell bodies whose pressure is turned (their normals face away from the
    fluid)."""
    return map_fields(entities, source, [field_name], method, tolerance, boundary_only, out_dir,
                      pictures, quiet, require_overlap, exported,
                      None if applied is None else {field_name: applied}, transform,
                      reverse=reverse)[0]


def map_fields(entities, source, field_names, method, tolerance, boundary_only, out_dir,
               pictures=True, quiet=False, require_overlap=False, exported=None, applied=None,
               transform=None, record_each=False, radius=None, diagnostics=False, reverse=(),
               method_reason=None):
    """map_field for several fields of one source that map onto the same places (all onto the
    bodies' surfaces, or all onto the whole bodies): one mapping call finds the source points or
    cells each target point uses once and applies them to every field. Then each field gets its
    load, picture and report; with `record_each` each field's recording is saved on its own
    (save_recording) and loadscribe.macro starts empty for the next. `reverse` applies to the
    pressure's load; `method_reason`, why the method was picked for the user, goes into the
    reports. Returns the reports; each report's force warnings are printed."""
    first = field_names[0]
    stage = Stage(", ".join(field_names), quiet)
    if exported is None:
        with stage("export the host model"):
            model, body_map = export_model(entities, out_dir)
    else:
        # The mapping replaces the model's leaves: each mapping gets its own copy of the export.
        model, body_map = vtk.vtkMultiBlockDataSet(), exported[1]
        model.DeepCopy(exported[0])
    factor = length_factor(source, model)
    if method == "Coarse to fine" and radius is None:  # named, so that the report can say it
        radius = default_radius(model)
    with stage(f"map with \"{method}\""):
        fieldferry.diagnostics_dir = None
        if diagnostics:  # the source and the last leaf with their distances, for checking
            fieldferry.diagnostics_dir = os.path.join(out_dir, "diagnostics")
            os.makedirs(fieldferry.diagnostics_dir, exist_ok=True)
        try:
            mapped = fieldferry.map_scalar_field_to_mesh(
                first, method, source, model, boundary_only, tolerance,
                require_overlap=require_overlap, more_fields=field_names[1:], radius=radius,
                transform=None if transform is None else np.asarray(transform).tolist())
        except ValueError as error:
            if require_overlap and "bounding box" in str(error):
                raise ApartError(str(error)) from None
            raise
        for field_name in field_names:
            fieldferry.export_vtk_file(mapped, os.path.join(out_dir, f"mapped_{field_name.lower()}"))
    unmapped = dict(fieldferry.last_unmapped_counts)
    reports = []
    for field_name in field_names:
        reports.append(_load_and_report(
            mapped, body_map, source, field_name, method, tolerance, boundary_only, out_dir,
            pictures, quiet, factor, unmapped, (applied or {}).get(field_name), transform,
            reverse, radius if method == "Coarse to fine" else None, method_reason))
        if record_each:
            save_recording(out_dir, field_name)
            loadscribe.macro = ""
    return reports


def _load_and_report(mapped, body_map, source, field_name, method, tolerance, boundary_only,
                     out_dir, pictures, quiet, factor, unmapped, applied, transform, reverse,
                     radius=None, method_reason=None):
    stage = Stage(field_name, quiet)
    tag = field_name.lower()
    unit = _text(source, UNIT_ARRAYS.get(field_name, ""))
    with stage("create the host load"):
        if loadscribe.macro is None:
            loadscribe.macro = ""
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):  # the load prints the whole recording
            loadscribe.create_kelm_load_from_vtk_field(
                mapped, field_name, tolerance,
                reverse=tuple(reverse) if field_name == "Pressure" else ())
    if not quiet:  # but what it left out is worth seeing at once
        for line in printed.getvalue().splitlines():
            if line.startswith("Left out of the "):
                print(f"[{field_name}] {line}")
    if pictures:
        with stage("render a picture"):
            take_picture(mapped, body_map, field_name, unit, os.path.join(out_dir, f"{tag}.png"))
    with stage("write the report"):
        report = mapping_report(mapped, source, field_name, method, tolerance, unit, factor,
                                applied=applied, transform=transform, radius=radius)
        report["unmapped_points"] = unmapped
        if method_reason:
            report["method_reason"] = method_reason
        write_report(report, os.path.join(out_dir, f"report_{tag}.json"),
                     os.path.join(out_dir, f"report_{tag}.txt"))
        moved = "" if transform is None else f", transform={np.asarray(transform).tolist()!r}"
        moved += "" if radius is None else f", radius={radius!r}"
        turned = f", reverse={tuple(reverse)!r}" if reverse and field_name == "Pressure" else ""
        call = (f"mapped = fieldferry.map_scalar_field_to_mesh({field_name!r}, {method!r}, source, "
                f"model, {boundary_only!r}, {tolerance!r}{moved})\n"
                f"loadscribe.create_kelm_load_from_vtk_field(mapped, {field_name!r}, "
                f"{tolerance!r}{turned})")
        write_html_report(report, mapped, source, os.path.join(out_dir, f"report_{tag}.html"),
                          pictures=pictures, call=call)
    # The balance is the first thing an engineer checks: a load that is off is said at once,
    # also in a quiet run.
    for line in report.get("force", {}).get("warnings", []):
        print(line, flush=True)
    return report


def save_recording(out_dir, field_name=None):
    """Writes the recorded host script. With a field name (kelm-map: one field per run) the
    recording goes to recorded_<field>_load.py, and recorded_loads.py recreates the loads of every
    field recorded into the folder, so a second run for another field keeps the first one's."""
    path = os.path.join(out_dir, "recorded_loads.py")
    if field_name is None:
        with open(path, "w") as f:
            f.write("import kelm\n\n" + (loadscribe.macro or ""))
        return path
    if loadscribe.macro:  # a field that makes no load records nothing
        with open(os.path.join(out_dir, f"recorded_{field_name.lower()}_load.py"), "w") as f:
            f.write(loadscribe.macro)
    recorded = sorted(n for n in os.listdir(out_dir)
                      if n.startswith("recorded_") and n.endswith("_load.py"))
    with open(path, "w") as f:
        f.write("import kelm\n")
        for name in recorded:
            with open(os.path.join(out_dir, name)) as part:
                f.write(f"\n# {name}\n" + part.read())
    return path


def summary(reports):
    """One table over all mapped fields."""
    return "\n\n".join(report_table(r) for r in reports)
