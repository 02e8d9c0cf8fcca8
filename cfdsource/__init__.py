"""cfdsource: a CFD solver's results as a mapping source, read with VTK's own readers.

    source = cfdsource.read_source("pipe_case", {"Pressure": "p"}, scale={"Pressure": 998.2})

reads an OpenFOAM case (its wall patches at the latest time), an EnSight Gold .case, a Fluent
.cas/.dat or ASCII .msh/.dat (its wall zones), a CGNS file, a Tecplot ASCII file, a legacy .vtk,
VTK XML (.vtp, .vtu, .vti, .vts, .vtr, .vtm, .pvd, .series) or a CSV point cloud, and returns
one vtkPolyData (surfaces, point clouds) or vtkUnstructuredGrid (volumes) carrying each load
field under its load name, as cell or point data where the solver put it (cell data first),
in float64, with the unit labels that fieldferry reads in its field data. See README.md beside
this file.
"""
import os

from .errors import SourceError
from .fields import DEFAULT_UNITS, UNIT_ARRAYS
from . import fields as _fields
from .csv_points import read_csv_points
from .formats import openfoam_case, read_parts
from .openfoam import describe_case
from .parts import choose, is_volume
from . import isolation
from .isolation import DEFAULT_MEMORY, DEFAULT_TIMEOUT

__all__ = ["read_source", "describe", "SourceError", "UNIT_ARRAYS", "DEFAULT_UNITS"]


def read_source(path, *args, timeout=DEFAULT_TIMEOUT, max_memory=DEFAULT_MEMORY, **kwargs):
    # A CSV point cloud is read by Python's csv alone: no reader that could crash, so here.
    if os.fspath(path).lower().endswith(".csv"):
        return _read_source_here(path, *args, **kwargs)
    return isolation.run("read_source", path, args, kwargs, timeout, max_memory)


def _read_source_here(path, fields="Pressure", *, patches=None, time=None, scale=None,
                      offset=None, length_unit="m", field_units=None, region=None):
    """Reads the source at `path` as one dataset for fieldferry.

    fields: the load fields and the solver arrays they come from: {"Pressure": "p"}, or a name
        or list of names that are both. Each array is looked up in cell data (the solver's face
        values), then point data, and stays where it was found; "p@point" or "p@cell" chooses.
        Field data "held_<load field>" says where it was taken ("cell", "point", followed by
        " (both)" when the source held the array at the other place too).
    patches: names of the parts to read (OpenFOAM patches, EnSight parts, .vtm blocks, ...);
        default: an OpenFOAM case's wall patches, else every surface part (the volume parts
        when there are none). The parts are merged into one dataset.
    time: the time to read (OpenFOAM, EnSight, CGNS, .series, .pvd, Fluent .msh); default the
        latest.
    region: the region of a multi-region OpenFOAM case (conjugate heat transfer).
    scale, offset: value * scale + offset, per load field ({"Pressure": 998.2}) or one number
        for a single field; in float64, before any unit conversion.
    length_unit: the unit of the source's coordinates (field data "current_units_length").
    field_units: {"Pressure": "kPa", ...}: "units_pressure" / "units_temperature"; default Pa, K.

    Returns a vtkPolyData or vtkUnstructuredGrid whose field data also says where it was read
    ("source_time", "source_layout", "source_region": see README.md). Raises SourceError (a
    ValueError) naming the file and the part, array, time or value at fault and listing what
    the source has, and FileNotFoundError for a path that does not exist."""
    path = os.fspath(path)
    wanted = _fields.field_map(fields)
    scales = _fields.per_field("scale", scale, wanted, 1.0)
    offsets = _fields.per_field("offset", offset, wanted, 0.0)
    units = {**DEFAULT_UNITS, **(field_units or {})}
    if path.lower().endswith(".csv"):
        if not os.path.isfile(path):
            raise FileNotFoundError(f"{path}: no such file")
        if len(set(wanted.values())) != 1:
            raise SourceError(f"{path}: a CSV point cloud holds one value column, not fields "
                              f"{', '.join(wanted)}")
        parts = read_csv_points(path, _fields.split_location(next(iter(wanted.values())))[0])
        _no_time_or_parts(parts, time, patches)
    else:
        parts = read_parts(path, time, patches, region)
    chosen = choose(parts, None if parts.noun == "patch" else patches)
    placed, held = _fields.with_fields(parts.path, chosen, wanted, scales, offsets,
                                       parts.missing_array_note, parts.point_values)
    source = _fields.merged(placed)
    _origin_labels(source, parts)
    _fields.label(source, "current_units_length", length_unit)
    for load, where in held.items():
        _fields.label(source, _fields.HELD_PREFIX + load, where)
    for load in wanted:
        if load in UNIT_ARRAYS:
            _fields.label(source, UNIT_ARRAYS[load], units[load])
    return source


def _origin_labels(source, parts):
    if parts.chosen_time is not None:
        _fields.label(source, "source_time", f"{parts.chosen_time:.12g}")
    for name, text in parts.labels.items():
        _fields.label(source, name, text)


def _no_time_or_parts(parts, time, patches):
    if time is not None:
        raise SourceError(f"{parts.path}: a CSV point cloud has no time steps")
    if patches is not None:
        choose(parts, patches)  # names the one part there is


def describe(path, *, timeout=DEFAULT_TIMEOUT, max_memory=DEFAULT_MEMORY, **kwargs):
    return isolation.run("describe", path, (), kwargs, timeout, max_memory)


def _describe_here(path, *, time=None, region=None):
    """What a source holds: {"times": [...], "time": the one read, "parts": {name: "surface" or
    "volume"}, "default": [the parts read_source takes by default], "point_arrays": [...],
    "cell_arrays": [...]} (the arrays over every part). An OpenFOAM case lists its patches and
    internalMesh, and reads them all; it adds "layout" (serial or decomposed) and "regions"
    ({region: {"patches", "walls", "fields", "layout", "time"}}, empty for a single region).
    A multi-region case described without a region lists its regions only."""
    path = os.fspath(path)
    extra = {}
    if openfoam_case(path) is not None:
        parts, default, extra = describe_case(path, time, region)
        if parts is None:
            return {"times": [], "time": None, "parts": {}, "default": [], "point_arrays": [],
                    "cell_arrays": [], **extra}
    else:
        parts = read_parts(path, time, None, region)
        default = [n for n, _ in choose(parts, None)]
    point, cell = {}, {}
    for dataset in parts.datasets.values():
        point.update(dict.fromkeys(_fields.array_names(dataset.GetPointData())))
        cell.update(dict.fromkeys(_fields.array_names(dataset.GetCellData())))
    return {"times": parts.times, "time": parts.chosen_time,
            "parts": {n: "volume" if is_volume(d) else "surface"
                      for n, d in parts.datasets.items()},
            "default": default, "point_arrays": list(point), "cell_arrays": list(cell), **extra}


LIMITS = """
    Read in a child process (a CSV point cloud, read by Python's csv alone, in this one), with
    two limits of its own:
    timeout: seconds the reader may take (None: no limit); default 600.
    max_memory: the resident memory the reader may hold, in bytes or as "512M", "8G" (None: no
        limit); default half the machine's physical memory.
    A reader that crashes, or passes a limit and is stopped, raises a SourceError naming the file
    and what happened; the caller goes on."""
read_source.__doc__ = _read_source_here.__doc__ + "\n" + LIMITS
describe.__doc__ = _describe_here.__doc__ + "\n" + LIMITS
