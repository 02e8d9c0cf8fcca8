"""kelm-map: the main road on your own files.

    kelm-map MESH SOURCE [options]

MESH is a mesh file the stand-in host loads through meshio (Gmsh .msh, Abaqus .inp, Nastran .bdf,
VTK .vtu); SOURCE is a CFD result read with cfdsource: an OpenFOAM case directory, EnSight Gold
.case, Fluent .cas, CGNS, Tecplot ASCII, VTK (.vtk, .vtp, .vtu, .vti, .vtm, .pvd) or a CSV point
cloud of x, y, z, value rows. Each field is mapped onto the mesh, made into a host load (the
equivalent host script is recorded), and the model, the mapped model, a picture and a mapping
report per field are written to the output folder.
"""
import argparse
import math
import os
import sys
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from methods import AUTO, METHODS, auto_method  # noqa: E402
DEFAULT_UNITS = {"Pressure": "Pa", "Temperature": "K"}


def parse_arguments(argv):
    from cfdsource.isolation import DEFAULT_MEMORY, DEFAULT_TIMEOUT, memory_size

    parser = argparse.ArgumentParser(prog="kelm-map", description=__doc__.split("\n\n")[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mesh", help="the FE mesh file (.msh, .inp, .bdf, .vtu)")
    parser.add_argument("source", help="the field source: an OpenFOAM case directory, .case, "
                                       ".cas, .msh (Fluent), .cgns, .dat, .vtk, .vtp, .vtu, "
                                       ".vti, .vtm, .pvd, .series or .csv")
    parser.add_argument("--field", action="append", metavar="LOAD[=ARRAY][@cell|@point]",
                        help="a field to map: Pressure, Temperature or another name (mapped, no "
                             "load), from the source's array ARRAY (default: the same name), its "
                             "face (cell) values where the source holds both unless @point "
                             "follows; repeat for several [Pressure]")
    parser.add_argument("--scale", action="append", metavar="[LOAD=]S",
                        help="multiply the field's values by S (a density for a kinematic "
                             "pressure), before any unit conversion")
    parser.add_argument("--offset", action="append", metavar="[LOAD=]O",
                        help="add O to the field's values after --scale (a reference pressure "
                             "for gauge values)")
    parser.add_argument("--patches", nargs="+", metavar="NAME",
                        help="the source's parts to read (OpenFOAM patches, EnSight parts, .vtm "
                             "blocks, Fluent .msh face zones) [OpenFOAM and Fluent .msh: the "
                             "walls; else every surface part]")
    parser.add_argument("--time", type=float, help="the time to read [the latest]")
    parser.add_argument("--region", metavar="NAME",
                        help="the region of a multi-region OpenFOAM case (conjugate heat "
                             "transfer: a solid's temperature)")
    parser.add_argument("--read-timeout", type=float, default=DEFAULT_TIMEOUT, metavar="SECONDS",
                        help="stop reading the source after this long (it is read in a child "
                             "process; a damaged file can make a reader loop) [%(default)g]")
    parser.add_argument("--read-memory", metavar="SIZE",
                        help="stop reading the source when its reader holds more memory than "
                             "this, e.g. 512M, 8G [half the machine's memory]")
    parser.add_argument("--translate", nargs=3, type=float, metavar=("X", "Y", "Z"),
                        help="move the source by X Y Z (model units)")
    parser.add_argument("--rotate", nargs="+", metavar="AXIS_X AXIS_Y AXIS_Z ANGLE_DEG",
                        help="turn the source by ANGLE_DEG about the axis, through the origin or "
                             "'about CX CY CZ' (model units)")
    parser.add_argument("--transform", metavar="FILE",
                        help="move the source by the 4x4 matrix in FILE (4 rows of 4 numbers, "
                             "model units); applied first, then --rotate, then --translate")
    parser.add_argument("--mirror", nargs="+", metavar="NX NY NZ",
                        help="merge a copy of the source mirrored in the plane with normal N "
                             "through the origin or 'about CX CY CZ', in the source's own "
                             "coordinates before any motion: a half model with a symmetry plane "
                             "loads the whole structure (faces in the plane are dropped)")
    parser.add_argument("--sector", nargs="+", metavar="N AXIS_X AXIS_Y AXIS_Z",
                        help="merge N-1 copies of the source turned by 360/N degrees about the "
                             "axis, through the origin or 'about CX CY CZ', in the source's own "
                             "coordinates before any motion: one periodic sector loads the whole "
                             "ring (faces on the sector's cut are dropped)")
    parser.add_argument("--method", default=AUTO, choices=(AUTO,) + METHODS,
                        help="mapping method; 'auto' picks one per field from the source: "
                             "\"Face average\" for a pressure from a surface with faces, "
                             "\"Linear fit\" from a point cloud, else \"Surface projection\" "
                             "[%(default)s]")
    parser.add_argument("--tolerance", default="auto",
                        help="load only where the source is within this distance (model units); "
                             "'auto': derived from the face sizes of the source and the model "
                             "(the default for a source with cells), 'none': everywhere")
    parser.add_argument("--radius", type=float, default=None,
                        help="\"Coarse to fine\" kernel radius (model units) [twice the "
                             "source's median point spacing]")
    parser.add_argument("--boundary-only", action="store_true",
                        help="map onto the bodies' outer surfaces (pressures always are)")
    parser.add_argument("--mesh-unit", default="m", help="length unit of the mesh file [m]")
    parser.add_argument("--model-unit", default=None,
                        help="length unit the model is exported in [the mesh unit]")
    parser.add_argument("--source-unit", default="m", help="length unit of the source [m]")
    parser.add_argument("--field-unit", action="append", metavar="[LOAD=]UNIT",
                        help="unit of the field's values after --scale and --offset [Pa for "
                             "Pressure, K for Temperature]")
    parser.add_argument("--reverse", action="append", metavar="BODY", default=[],
                        help="turn the pressure on the shell body BODY (its path name, e.g. "
                             "'plate/Part 1/plate'), whose element normals face away from the "
                             "fluid; repeat for several")
    parser.add_argument("--out", default="kelm-map-out", help="output folder [%(default)s]")
    parser.add_argument("--no-overlap-check", action="store_true",
                        help="map even when the source's and the model's bounding boxes miss "
                             "each other or differ more than 20 times in size (usually a unit "
                             "mistake)")
    parser.add_argument("--no-mesh-check", action="store_true",
                        help="map even when the mesh has inverted or collapsed elements "
                             "(usually a node order a converter got wrong), with a warning")
    parser.add_argument("--diagnostics", action="store_true",
                        help="write the source and the last body with their distances to the "
                             "source into OUT/diagnostics (with a tolerance)")
    parser.add_argument("--no-pictures", action="store_true", help="skip the picture")
    parser.add_argument("--quiet", action="store_true", help="no progress lines")
    parser.add_argument("--debug", action="store_true", help="show tracebacks of errors")
    args = parser.parse_args(argv)
    if args.tolerance not in ("auto", "none"):
        try:
            args.tolerance = float(args.tolerance)
        except ValueError:
            args.tolerance = math.nan
        if not args.tolerance >= 0 or not math.isfinite(args.tolerance):
            parser.error(f"--tolerance must be 'auto', 'none' or a distance of 0 or more")
    if args.radius is not None and not (args.radius > 0 and math.isfinite(args.radius)):
        parser.error(f"--radius must be a positive length, not {args.radius}")
    if not (args.read_timeout > 0 and math.isfinite(args.read_timeout)):
        parser.error(f"--read-timeout must be a number of seconds above 0, not "
                     f"{args.read_timeout:g}")
    try:
        args.read_memory = memory_size(args.read_memory or DEFAULT_MEMORY)
    except ValueError:
        parser.error(f"--read-memory must be a size such as 512M or 8G, not {args.read_memory!r}")
    return args


def field_options(args):
    """{load field: source array, with its "@cell" or "@point" if given} of the --field options,
    in their order."""
    from cfdsource.fields import split_location

    fields = {}
    for entry in args.field or ["Pressure"]:
        load, _, array = entry.partition("=")
        if not _:
            load = split_location(load)[0]
            array = entry
        if not load.strip() or (_ and not split_location(array)[0].strip()):
            raise ValueError(f"--field {entry}: expected LOAD, LOAD=ARRAY or either followed by "
                             "@cell or @point")
        if load in fields:
            raise ValueError(f"--field {entry}: field '{load}' is given twice")
        fields[load] = array or load
    return fields


def per_field(option, entries, fields, convert):
    """{load field: value} of a repeatable [LOAD=]VALUE option; a value without LOAD= is the
    only field's."""
    values = {}
    for entry in entries or []:
        load, _, text = entry.rpartition("=")
        if not _:
            if len(fields) != 1:
                raise ValueError(f"{option} {entry}: say which field, as LOAD={entry} (fields: "
                                 f"{', '.join(fields)})")
            load = next(iter(fields))
        if load not in fields:
            raise ValueError(f"{option} {entry}: no --field '{load}' (fields: "
                             f"{', '.join(fields)})")
        if load in values:
            raise ValueError(f"{option} {entry}: field '{load}' is given twice")
        values[load] = convert(option, entry, text)
    return values


def number(option, entry, text):
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not math.isfinite(value):
        raise ValueError(f"{option} {entry}: '{text}' is not a finite number")
    return value


def check_units(args, field_units):
    """Every unit label the run will need, checked before anything is read or written."""
    import gaugeshift
    import loadscribe

    model_unit = args.model_unit or args.mesh_unit
    for option, unit in (("--mesh-unit", args.mesh_unit), ("--model-unit", model_unit),
                         ("--source-unit", args.source_unit)):
        try:
            gaugeshift.gaugeshift_factor().get_gaugeshift_factor("Length", unit, "m")
        except ValueError as error:
            raise ValueError(f"{option}: {error}") from None
    for field, unit in field_units.items():
        table = {"Pressure": loadscribe.pressure_unit_to_unit_system,
                 "Temperature": loadscribe.temperature_unit_to_unit_system}.get(field)
        if table is not None and unit not in table:
            raise ValueError(f"--field-unit: unknown {field.lower()} unit '{unit}'; "
                             f"known: {', '.join(table)}")


def checked_options(args):
    """The run's fields, their scale, offset and unit, the source's motion (a 4x4 matrix or
    None) and its copies (motion.copies), every option checked before anything is read or
    written."""
    import motion

    fields = field_options(args)
    onto_nodes = [f for f in fields if f != "Pressure" and not args.boundary_only]
    if args.method == "Face average" and onto_nodes:
        raise ValueError(f"\"Face average\" averages over the faces of the bodies' surfaces, but "
                         f"{', '.join(onto_nodes)} would map onto every node: give "
                         "--boundary-only, or map it with another --method")
    scale = per_field("--scale", args.scale, fields, number)
    offset = per_field("--offset", args.offset, fields, number)
    units = {**{f: DEFAULT_UNITS.get(f, "") for f in fields},
             **per_field("--field-unit", args.field_unit, fields, lambda o, e, t: t)}
    check_units(args, units)
    matrix = motion.combined(args.transform, args.rotate, args.translate)
    return fields, scale, offset, units, matrix, motion.copies(args.mirror, args.sector)


def check_method(method, source, path):
    """A method that can give no point a value from this source is refused before mapping."""
    if method in ("Mesh only", "Face average") and source.GetNumberOfCells() == 0:
        raise ValueError(f"{path}: \"{method}\" maps nothing from a source without cells (this "
                         f"one is {source.GetNumberOfPoints()} points); use \"Point cloud or "
                         "mesh\", \"Linear fit\" or \"Coarse to fine\"")


def field_methods(args, fields, source):
    """{load field: (method, reason)}: the --method given (reason None), or with 'auto' the
    method auto_method picks for the field from this source, printed with the reason."""
    if args.method != AUTO:
        check_method(args.method, source, args.source)
        return {load: (args.method, None) for load in fields}
    chosen = {load: auto_method(source, load) for load in fields}
    if not args.quiet:
        for load, (method, reason) in chosen.items():
            print(f"[input] method auto for {load}: \"{method}\", {reason}")
    return chosen


def check_reverse(names, model, source):
    """The --reverse bodies, checked against the exported model: each a shell body of it, and
    only from a source without faces (a surface's normals tell each shell face its side)."""
    import mapping_report
    from force_balance import is_surface
    if names and is_surface(source):
        raise ValueError(f"--reverse {names[0]}: the side comes from the source: it has faces, "
                         "and each shell face takes the pressure of the side the fluid is on, "
                         "whichever way its normal points; --reverse is for sources without "
                         "faces (point clouds)")
    kinds = {mapping_report._text(leaf, "Body pathName"): mapping_report._text(leaf, "mesh_type")
             for leaf in mapping_report._leaves(model)}
    kinds.pop(None, None)
    for name in names:
        if name not in kinds:
            raise ValueError(f"--reverse {name}: no such body; the bodies: "
                             f"{', '.join(repr(k) for k in kinds)}")
        if kinds[name] in ("tetra", "hexa"):
            raise ValueError(f"--reverse {name}: a solid body; a solid's faces push against their "
                             "outward normals, so only a shell body can be reversed")


def check_mesh(args, model, stage):
    """Inverted or collapsed elements refuse the mesh: a node order a converter got wrong maps
    and loads with no other sign than faces beyond the tolerance and a force that does not
    balance. --no-mesh-check maps it anyway, with a warning."""
    import mesh_check
    with stage("check the mesh's elements"):
        found = mesh_check.bad_elements(model)
    if not found:
        return
    problem = f"{args.mesh}: {mesh_check.describe(found)}"
    if not args.no_mesh_check:
        raise ValueError(f"{problem}; the model as read: {os.path.join(args.out, 'model.vtm')}. "
                         "Fix the mesh, or map it anyway with --no-mesh-check")
    print(f"Warning: {problem}; mapped anyway (--no-mesh-check)", flush=True)


def derived_lengths(args, source, model, stage):
    """(tolerance, "Coarse to fine" radius) of the run in model units, derived where the user
    gave none and printed."""
    import fieldferry
    import mainroad
    from auto_sizes import auto_radius, auto_tolerance
    factor = mainroad.length_factor(source, model)
    tolerance = args.tolerance
    if tolerance == "auto":
        tolerance = auto_tolerance(source, model, factor)
        if tolerance is not None and not args.quiet:
            print(f"[input] tolerance auto: {tolerance:.4g} (model units), the larger median face "
                  "size of the source and of the model")
    elif tolerance == "none":
        tolerance = None
    radius = args.radius
    if args.method == "Coarse to fine":
        how = "as given"
        if radius is None:
            radius = auto_radius(source, factor)
            how = "twice the source's median spacing of distinct points"
        if radius is None:
            radius = mainroad.default_radius(model)
            print(f"[input] \"Coarse to fine\" radius: the source has fewer than two distinct "
                  f"points, no spacing to fit a radius to; using the default "
                  f"{fieldferry.default_coarse_radius_metres:g} m = {radius:.4g} (model units)")
        elif not args.quiet:
            print(f"[input] \"Coarse to fine\" radius: {radius:.4g} (model units), {how}")
    return tolerance, radius


def run(args):
    import cfdsource
    import kelm
    import loadscribe
    import mainroad

    fields, scale, offset, units, matrix, copies = checked_options(args)
    kelm.reset()
    model_unit = args.model_unit or args.mesh_unit
    kelm.setApplicationUnitSystem(f"{model_unit}-kg-s-N-K")
    stage = mainroad.Stage("input", args.quiet)
    with stage(f"read the mesh {args.mesh}"):
        if not os.path.isfile(args.mesh):
            raise FileNotFoundError(f"{args.mesh}: no such file")
        try:
            model = kelm.io.load_model(args.mesh, model_name=os.path.splitext(
                os.path.basename(args.mesh))[0], length_unit=args.mesh_unit)
        except (ImportError, OSError) as error:
            raise type(error)(f"{args.mesh}: {error}") from error
        except Exception as error:  # meshio's own errors for files it cannot read
            raise ValueError(f"{args.mesh}: not a mesh file this tool can read ({error})") from error
    with stage(f"read the source {args.source}"):
        source = cfdsource.read_source(args.source, fields, patches=args.patches, time=args.time,
                                       region=args.region, scale=scale, offset=offset,
                                       length_unit=args.source_unit, field_units=units,
                                       timeout=args.read_timeout, max_memory=args.read_memory)
    methods = field_methods(args, fields, source)
    os.makedirs(args.out, exist_ok=True)
    with stage("export the host model"):
        exported = mainroad.export_model([model], args.out)
    check_mesh(args, exported[0], stage)
    check_reverse(args.reverse, exported[0], source)
    # Fields that map onto the same places with the same method share one mapping: a pressure
    # always maps onto the bodies' surfaces, other fields onto the whole bodies unless
    # --boundary-only.
    groups = {}
    for load in fields:
        groups.setdefault((load == "Pressure" or args.boundary_only, methods[load]),
                          []).append(load)
    applied = {load: {"array": array, "scale": scale.get(load, 1.0),
                      "offset": offset.get(load, 0.0)} for load, array in fields.items()}
    tolerance, radius = derived_lengths(args, source, exported[0], stage)
    if copies:
        with stage("merge the source's copies"):
            source = mainroad.whole_source(source, exported[0], copies, tolerance)
    if matrix is not None or copies:
        with stage("write the moved source"):
            mainroad.write_moved_source(source, exported[0], matrix, args.out)
    reports = []
    loadscribe.macro = ""
    for (_, (method, reason)), group in groups.items():
        try:
            reports += mainroad.map_fields(
                [model], source, group, method, tolerance, args.boundary_only,
                args.out, pictures=not args.no_pictures, quiet=args.quiet,
                require_overlap=not args.no_overlap_check, exported=exported, applied=applied,
                transform=matrix, record_each=True, radius=radius,
                diagnostics=args.diagnostics, reverse=args.reverse, method_reason=reason)
        except mainroad.ApartError as error:
            raise ValueError(f"{error} Give the units with --mesh-unit, --model-unit and "
                             "--source-unit, or map anyway with --no-overlap-check") from None
    script = os.path.join(args.out, "recorded_loads.py")
    notes = [f"no host load for '{load}': only Pressure and Temperature become host loads"
             for load in fields if load not in ("Pressure", "Temperature")]
    print(mainroad.summary(reports))
    for note in notes:
        print(f"\n{note}")
    print(f"\nrecorded host script: {script}\noutputs in {os.path.abspath(args.out)}")


def main(argv=None):
    args = parse_arguments(sys.argv[1:] if argv is None else argv)
    try:
        run(args)
    except KeyboardInterrupt:
        print("kelm-map: interrupted", file=sys.stderr)
        return 130
    except Exception as error:  # a problem in the user's files or options: one clear line
        if args.debug:
            traceback.print_exc()
        message = error.args[0] if isinstance(error, KeyError) and error.args else error
        print(f"\nkelm-map: error: {message}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
