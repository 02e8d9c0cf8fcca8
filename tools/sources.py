"""Reading a mapping source: a VTK XML dataset (.vtp, .vtu, .vti) or a CSV point cloud.

Whatever the format, the result is a VTK dataset carrying the field as a point array and, in its
field data, the labels the mapper reads: "current_units_length" (the source's length unit) and
"units_pressure" / "units_temperature" (the field's unit, for those two field names).
"""
import csv
import os

import numpy as np
import vtk
from vtk.util import numpy_support

READERS = {".vtp": vtk.vtkXMLPolyDataReader, ".vtu": vtk.vtkXMLUnstructuredGridReader,
           ".vti": vtk.vtkXMLImageDataReader}
UNIT_ARRAYS = {"Pressure": "units_pressure", "Temperature": "units_temperature"}


class SourceError(Exception):
    """A source file that cannot be used; the message says which file and why."""


def string_field(dataset, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    dataset.GetFieldData().AddArray(array)


def read_csv_points(path, field_name):
    """A point cloud from rows of x, y, z, value (a header row is optional)."""
    rows = []
    with open(path, newline="") as f:
        for number, row in enumerate(csv.reader(f), start=1):
            cells = [c.strip() for c in row if c.strip()]
            if not cells or cells[0].startswith("#"):
                continue
            try:
                values = [float(c) for c in cells]
            except ValueError:
                if not rows and number == 1:
                    continue  # a header row
                raise SourceError(f"{path}: line {number} is not four numbers: {','.join(row)}")
            if len(values) != 4:
                raise SourceError(f"{path}: line {number} has {len(values)} values; expected "
                                  "x, y, z, value")
            rows.append(values)
    if not rows:
        raise SourceError(f"{path}: no points (expected rows of x, y, z, value)")
    table = np.asarray(rows)
    if not np.isfinite(table).all():
        bad = int(np.argwhere(~np.isfinite(table))[0][0])
        raise SourceError(f"{path}: point {bad + 1} has a value that is not a finite number")
    poly = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(numpy_support.numpy_to_vtk(np.ascontiguousarray(table[:, :3]), deep=True))
    poly.SetPoints(points)
    values = numpy_support.numpy_to_vtk(np.ascontiguousarray(table[:, 3]).astype(np.float32),
                                        deep=True)
    values.SetName(field_name)
    poly.GetPointData().AddArray(values)
    return poly


def read_vtk_dataset(path, field_name):
    reader = READERS[os.path.splitext(path)[1].lower()]()
    reader.SetFileName(path)
    reader.Update()
    dataset = reader.GetOutput()
    if dataset is None or dataset.GetNumberOfPoints() == 0:
        raise SourceError(f"{path}: not a readable VTK XML dataset with points")
    if dataset.GetPointData().GetArray(field_name) is None:
        def names(data):
            return ", ".join(filter(None, (data.GetArrayName(i)
                                           for i in range(data.GetNumberOfArrays())))) or "none"
        raise SourceError(f"{path}: no point array '{field_name}' (point arrays: "
                          f"{names(dataset.GetPointData())}; cell arrays: "
                          f"{names(dataset.GetCellData())})")
    if not dataset.IsA("vtkPolyData"):
        # The mapper scales sources as polydata: take the surface of a volume dataset.
        surface = vtk.vtkDataSetSurfaceFilter()
        surface.SetInputData(dataset)
        surface.Update()
        dataset = surface.GetOutput()
    return dataset


def read_source(path, field_name, length_unit, field_unit):
    """The source dataset at `path`, labelled with its length unit and the field's unit."""
    if not os.path.isfile(path):
        raise SourceError(f"{path}: no such file")
    extension = os.path.splitext(path)[1].lower()
    if extension == ".csv":
        dataset = read_csv_points(path, field_name)
    elif extension in READERS:
        dataset = read_vtk_dataset(path, field_name)
    else:
        raise SourceError(f"{path}: unknown source format '{extension}' (use .vtp, .vtu, .vti "
                          "or .csv)")
    string_field(dataset, "current_units_length", length_unit)
    if field_name in UNIT_ARRAYS:
        string_field(dataset, UNIT_ARRAYS[field_name], field_unit)
    return dataset
