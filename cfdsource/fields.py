"""The load fields of a source: each taken from the solver's array by name, where its writer put
it (point or cell data; the cell data first when it put both, or where "p@point" / "p@cell" asks),
as value * scale + offset in float64; the chosen parts merged into one dataset that carries only
these fields and the unit labels the mapper reads."""
import numbers

import numpy as np
import vtk
from vtk.util import numpy_support as ns

from .errors import SourceError, names_text

# The field-data label of the unit of each load field the host knows.
UNIT_ARRAYS = {"Pressure": "units_pressure", "Temperature": "units_temperature"}
DEFAULT_UNITS = {"Pressure": "Pa", "Temperature": "K"}
# Where an array is looked for: the face (cell) values first, the solver's own numbers; point
# values are most often the writer's interpolation of them.
LOCATIONS = ("cell", "point")
# The field-data label, per load field, of where its values were taken ("cell" or "point") and
# whether the source held the array at the other place too: the report says which it used.
HELD_PREFIX = "held_"


def field_map(fields):
    """{load field: solver array} from a name, a list of names (each its own array) or a dict.
    An array may end in "@cell" or "@point" to choose where it is read; a bare name "p@cell"
    is the load field "p"."""
    if isinstance(fields, str):
        fields = {fields: fields}
    elif not isinstance(fields, dict):
        fields = {name: name for name in fields}
    fields = {(split_location(load)[0] if load == array else load): array
              for load, array in fields.items()}
    if not fields:
        raise SourceError("fields: no field asked for")
    for load, array in fields.items():
        if not isinstance(load, str) or not load or not isinstance(array, str) or not array:
            raise SourceError(f"fields: {load!r}: {array!r} is not a load field name and an "
                              "array name")
    return dict(fields)


def per_field(option, given, fields, neutral):
    """{load field: number} from a number (for a source of one field) or a dict by field."""
    if given is None:
        return {load: neutral for load in fields}
    if isinstance(given, numbers.Real) and not isinstance(given, bool):
        if len(fields) != 1:
            raise SourceError(f"{option}: {given} is one number for {len(fields)} fields "
                              f"({', '.join(fields)}); give it per field, as a dict")
        given = {next(iter(fields)): given}
    if not isinstance(given, dict):
        raise SourceError(f"{option}: expected a number or a dict by field, not "
                          f"{type(given).__name__}")
    for load, value in given.items():
        if load not in fields:
            raise SourceError(f"{option}: no field '{load}' (fields: {', '.join(fields)})")
        if (not isinstance(value, numbers.Real) or isinstance(value, bool)
                or not np.isfinite(value)):
            raise SourceError(f"{option}: {load} = {value!r} is not a finite number")
    return {load: float(given.get(load, neutral)) for load in fields}


def split_location(array):
    """(array name, "cell", "point" or None) of "p@cell", "p@point" or "p"."""
    if not isinstance(array, str):
        return array, None
    name, at, where = array.rpartition("@")
    return (name, where) if at and name and where in LOCATIONS else (array, None)


def array_names(data):
    return [data.GetArrayName(i) for i in range(data.GetNumberOfArrays()) if data.GetArrayName(i)]


def _find(path, part, dataset, request, several, note=None):
    """(array, "point" or "cell", whether the other place holds it too) of the solver's array
    on one part: cell data first, or where `request` ("p@point") asks. `note` (array -> text)
    adds to a missing array's message the time read and where the array is."""
    array, asked = split_location(request)
    datas = {"cell": dataset.GetCellData(), "point": dataset.GetPointData()}
    held = [where for where in LOCATIONS if datas[where].GetArray(array) is not None]
    on = f" on {part}" if several else ""
    if asked is not None and asked not in held and held:
        raise SourceError(f"{path}: array '{array}'{on} asked as {asked} data is {held[0]} data "
                          f"only; ask for {array}@{held[0]}")
    if not held:
        raise SourceError(
            f"{path}: no array '{array}'{on} (point arrays: "
            f"{names_text(array_names(dataset.GetPointData()))}; cell arrays: "
            f"{names_text(array_names(dataset.GetCellData()))}){note(array) if note else ''}")
    where = asked or held[0]
    found = datas[where].GetArray(array)
    if found.GetNumberOfComponents() != 1:
        raise SourceError(f"{path}: array '{array}'{f' of {part}' if several else ''} has "
                          f"{found.GetNumberOfComponents()} components; a load field takes one "
                          "(a scalar)")
    return found, where, len(held) > 1


def scaled(array, name, scale, offset):
    """A new float64 array `name` = array * scale + offset, written in one pass."""
    out = vtk.vtkDoubleArray()
    out.SetName(name)
    out.SetNumberOfTuples(array.GetNumberOfTuples())
    view = ns.vtk_to_numpy(out)
    values = ns.vtk_to_numpy(array)
    if scale == 1.0:
        view[:] = values
    else:
        np.multiply(values, scale, out=view, dtype=np.float64, casting="unsafe")
    if offset != 0.0:
        view += offset
    return out


def with_fields(path, chosen, fields, scale, offset, note=None, point_values=None):
    """[(part name, dataset carrying only the load fields)] and {load field: where it was taken,
    "cell" or "point", followed by " (both)" when the source held it at the other place too};
    `note` as _find takes it. `point_values` ({part: vtkPointData}): a field taken as cell values
    on such a part also gets those point values under the same name (the methods that give
    nodes values read them)."""
    where_of, placed, both = {}, [], {}
    several = len(chosen) > 1
    for part, dataset in chosen:
        bare = dataset.NewInstance()
        bare.CopyStructure(dataset)  # shares points and cells, no arrays
        for load, array in fields.items():
            found, where, elsewhere = _find(path, f"{part}", dataset, array, several, note)
            both[load] = both.get(load, False) or elsewhere
            first = where_of.setdefault(load, (where, part))
            if first[0] != where:
                name = split_location(array)[0]
                raise SourceError(f"{path}: array '{name}' is {first[0]} data on {first[1]} but "
                                  f"{where} data on {part}; choose parts that agree, or ask for "
                                  f"{name}@{first[0]} or {name}@{where}")
            target = bare.GetPointData() if where == "point" else bare.GetCellData()
            target.AddArray(scaled(found, load, scale[load], offset[load]))
            twin = (point_values or {}).get(part)
            twin = twin.GetArray(found.GetName()) if twin is not None and where == "cell" else None
            if twin is not None:
                bare.GetPointData().AddArray(scaled(twin, load, scale[load], offset[load]))
        placed.append((part, bare))
    return placed, {load: f"{w} (both)" if both[load] else w for load, (w, _) in where_of.items()}


def merged(placed):
    """One dataset of the parts: polydata when every part is, else an unstructured grid."""
    if len(placed) == 1:
        return placed[0][1]
    datasets = [d for _, d in placed]
    append = (vtk.vtkAppendPolyData() if all(d.IsA("vtkPolyData") for d in datasets)
              else vtk.vtkAppendFilter())
    for d in datasets:
        append.AddInputData(d)
    append.Update()
    return append.GetOutput()


def label(dataset, name, value):
    text = vtk.vtkStringArray()
    text.SetName(name)
    text.InsertNextValue(value)
    dataset.GetFieldData().AddArray(text)
