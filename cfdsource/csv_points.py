"""A point cloud from a CSV file of x, y, z, value rows (a header row is optional); the values
stay 64-bit."""
import csv

import numpy as np
import vtk
from vtk.util import numpy_support as ns

from .errors import SourceError
from .parts import Parts


def read_csv_points(path, array_name):
    """Parts of one polydata of vertices-free points with the values as point array
    `array_name` (the CSV has one value column, so it takes the name the caller asks for)."""
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
                raise SourceError(f"{path}: line {number} is not four numbers: "
                                  f"{','.join(row)}") from None
            if len(values) != 4:
                raise SourceError(f"{path}: line {number} has {len(values)} values; expected "
                                  "x, y, z, value")
            rows.append(values)
    if not rows:
        raise SourceError(f"{path}: no points (expected rows of x, y, z, value)")
    table = np.asarray(rows, dtype=np.float64)
    if not np.isfinite(table).all():
        bad = int(np.argwhere(~np.isfinite(table))[0][0])
        raise SourceError(f"{path}: point {bad + 1} has a value that is not a finite number")
    cloud = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(table[:, :3]), deep=True))
    cloud.SetPoints(points)
    values = ns.numpy_to_vtk(np.ascontiguousarray(table[:, 3]), deep=True)
    values.SetName(array_name)
    cloud.GetPointData().AddArray(values)
    return Parts(path, {"points": cloud})
