"""kelm-map: the main road on your own files.

    kelm-map MESH SOURCE [options]

MESH is a mesh file the stand-in host loads through meshio (Gmsh .msh, Abaqus .inp, Nastran .bdf,
VTK .vtu); SOURCE is a VTK XML dataset (.vtp, .vtu, .vti) carrying the field as a point array, or
a CSV point cloud of x, y, z, value rows. The field is mapped onto the mesh, made into a host load
(the equivalent host script is recorded), and the model, the mapped model, a picture and a mapping
report are written to the output folder.
"""
import argparse
import os
import sys
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

METHODS = ("Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection", "Linear fit")
DEFAULT_UNITS = {"Pressure": "Pa", "Temperature": "K"}


def parse_arguments(argv):
    parser = argparse.ArgumentParser(prog="kelm-map", description=__doc__.split("\n\n")[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mesh", help="the FE mesh file (.msh, .inp, .bdf, .vtu)")
    parser.add_argument("source", help="the field source (.vtp, .vtu, .vti or .csv)")
    parser.add_argument("--field", default="Pressure",
                        help="field name: Pressure, Temperature, or another point array "
                             "(mapped, no load) [Pressure]")
    parser.add_argument("--method", default=METHODS[0], choices=METHODS,
                        help="mapping method [%(default)s]")
    parser.add_argument("--tolerance", type=float, default=None,
                        help="load only where the source is within this distance (model units)")
    parser.add_argument("--boundary-only", action="store_true",
                        help="map onto the bodies' outer surfaces (pressures always are)")
    parser.add_argument("--mesh-unit", default="m", help="length unit of the mesh file [m]")
    parser.add_argument("--model-unit", default=None,
                        help="length unit the model is exported in [the mesh unit]")
    parser.add_argument("--source-unit", default="m", help="length unit of the source [m]")
    parser.add_argument("--field-unit", default=None,
                        help="unit of the field values [Pa for Pressure, K for Temperature]")
    parser.add_argument("--out", default="kelm-map-out", help="output folder [%(default)s]")
    parser.add_argument("--no-overlap-check", action="store_true",
                        help="map even when the source's and the model's bounding boxes miss "
                             "each other or differ more than 20 times in size (usually a unit "
                             "mistake)")
    parser.add_argument("--no-pictures", action="store_true", help="skip the picture")
    parser.add_argument("--quiet", action="store_true", help="no progress lines")
    parser.add_argument("--debug", action="store_true", help="show tracebacks of errors")
    args = parser.parse_args(argv)
    if args.tolerance is not None and not args.tolerance >= 0:
        parser.error(f"--tolerance must be a distance of 0 or more, not {args.tolerance}")
    return args


def check_units(args, field_unit):
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
    table = {"Pressure": loadscribe.pressure_unit_to_unit_system,
             "Temperature": loadscribe.temperature_unit_to_unit_system}.get(args.field)
    if table is not None and field_unit not in table:
        raise ValueError(f"--field-unit: unknown {args.field.lower()} unit '{field_unit}'; "
                         f"known: {', '.join(table)}")


def check_method(method, source, path):
    """A method that can give no point a value from this source is refused before mapping."""
    if method == "Mesh only" and source.GetNumberOfCells() == 0:
        raise ValueError(f"{path}: \"Mesh only\" maps nothing from a source without cells (this "
                         f"one is {source.GetNumberOfPoints()} points); use \"Point cloud or "
                         "mesh\", \"Linear fit\" or \"Coarse to fine\"")


def run(args):
    import kelm
    import loadscribe
    import mainroad
    from sources import read_source

    field_unit = args.field_unit or DEFAULT_UNITS.get(args.field, "")
    check_units(args, field_unit)
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
        source = read_source(args.source, args.field, args.source_unit, field_unit)
    check_method(args.method, source, args.source)
    os.makedirs(args.out, exist_ok=True)
    loadscribe.macro = ""
    try:
        report = mainroad.map_field([model], source, args.field, args.method, args.tolerance,
                                    args.boundary_only, args.out, pictures=not args.no_pictures,
                                    quiet=args.quiet, require_overlap=not args.no_overlap_check)
    except mainroad.ApartError as error:
        raise ValueError(f"{error} Give the units with --mesh-unit, --model-unit and "
                         "--source-unit, or map anyway with --no-overlap-check") from None
    script = mainroad.save_recording(args.out, args.field)
    print(mainroad.summary([report]))
    if not loadscribe.macro:
        print(f"\nno host load for '{args.field}': only Pressure and Temperature become host loads")
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
