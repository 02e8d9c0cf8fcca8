"""Reading a CFD surface: cfdsource against VTK's reader alone.

A triangulated surface of 1,000,000 faces (a 708 x 708 grid of squares, each split in two, on a
wavy sheet) with a cell field "p" and a point field "T" beside it, written by the benchmark into
a temporary folder as a binary legacy .vtk and as a .vtm of two blocks. Timed, best of three:
VTK's reader alone (Update); cfdsource's reading in this process taking "Pressure" from "p" with
a scale and offset (the reader, the part choice, the field in float64, the labels; for the .vtm
the two blocks merged into one polydata); and cfdsource.read_source, the same reading in a child
process with the dataset handed back. Targets: the reading within 1.3x of the reader alone, and
through the child within 1.3x of the reading in this process (best of five; the first reading
of a session, which starts the child, is timed apart).
"""
import os
import tempfile
import time

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import cfdsource
from floor import measure, mib

SIDE = int(os.environ.get("SOURCES_BENCH_SIDE", "708"))  # 2 x 707^2 = 999,698 faces


def sheet(side, z0=0.0):
    """A side x side point grid on a wavy sheet, two triangles per square, "p" per face."""
    u = np.linspace(0.0, 1.0, side)
    x, y = [a.ravel() for a in np.meshgrid(u, u, indexing="ij")]
    xyz = np.column_stack([x, y, z0 + 0.05 * np.sin(6 * x) * np.cos(4 * y)])
    i, j = [a.ravel() for a in np.meshgrid(np.arange(side - 1), np.arange(side - 1),
                                           indexing="ij")]
    a = i * side + j
    b, c, d = a + side, a + side + 1, a + 1
    triangles = np.vstack([np.column_stack([a, b, c]), np.column_stack([a, c, d])])
    poly = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(xyz, deep=1))
    poly.SetPoints(points)
    cells = vtk.vtkCellArray()
    cells.SetData(ns.numpy_to_vtkIdTypeArray(np.arange(0, 3 * len(triangles) + 1, 3), deep=1),
                  ns.numpy_to_vtkIdTypeArray(triangles.ravel().astype(np.int64), deep=1))
    poly.SetPolys(cells)
    for data, name, values in ((poly.GetCellData(), "p", np.arange(len(triangles)) * 1e-3),
                               (poly.GetPointData(), "T", 300 + xyz[:, 2])):
        array = ns.numpy_to_vtk(values.astype(np.float32), deep=1)
        array.SetName(name)
        data.AddArray(array)
    return poly


def write(folder):
    whole = sheet(SIDE)
    legacy = os.path.join(folder, "wall.vtk")
    writer = vtk.vtkPolyDataWriter()
    writer.SetFileName(legacy)
    writer.SetFileTypeToBinary()
    writer.SetInputData(whole)
    writer.Write()
    half = int(SIDE / np.sqrt(2))  # two blocks of about half the faces each
    blocks = vtk.vtkMultiBlockDataSet()
    for n, z0 in enumerate((0.0, 1.0)):
        blocks.SetBlock(n, sheet(half, z0))
        blocks.GetMetaData(n).Set(vtk.vtkCompositeDataSet.NAME(), f"wall{n}")
    multi = os.path.join(folder, "walls.vtm")
    writer = vtk.vtkXMLMultiBlockDataWriter()
    writer.SetFileName(multi)
    writer.SetInputData(blocks)
    writer.Write()
    return whole.GetNumberOfCells(), legacy, multi


def reader_alone(path):
    reader = vtk.vtkPolyDataReader() if path.endswith(".vtk") else vtk.vtkXMLMultiBlockDataReader()
    reader.SetFileName(path)
    reader.Update()
    return reader.GetOutputDataObject(0)


def main():
    with tempfile.TemporaryDirectory() as folder:
        faces, legacy, multi = write(folder)
        print(f"source: {faces:,} triangles with a cell field, in {folder}")
        for path in (legacy, multi):
            vtk_s, _, _ = measure(lambda: reader_alone(path))
            here, peak, source = measure(lambda: cfdsource._read_source_here(
                path, {"Pressure": "p"}, scale=998.2, offset=101325.0), repeat=5)
            child, child_peak, handed = measure(lambda: cfdsource.read_source(
                path, {"Pressure": "p"}, scale=998.2, offset=101325.0), repeat=5)
            assert handed.GetCellData().GetArray("Pressure").GetDataType() == vtk.VTK_DOUBLE
            assert handed.GetNumberOfCells() == source.GetNumberOfCells()
            print(f"{os.path.basename(path):10s} VTK reader alone {vtk_s:7.3f} s   cfdsource "
                  f"here {here:7.3f} s   ratio {here / vtk_s:5.2f}x (target <= 1.3x)   "
                  f"{source.GetNumberOfCells():,} faces, peak +{mib(peak):.0f} MiB")
            print(f"{'':10s} in a child {child:7.3f} s   ratio to here {child / here:5.2f}x "
                  f"(target <= 1.3x)   peak here +{mib(child_peak):.0f} MiB")
        # The first reading of a session also starts the child's interpreter and its imports.
        cfdsource.isolation.Child.take().end()
        start = time.perf_counter()
        cfdsource.read_source(legacy, {"Pressure": "p"})
        print(f"a first reading (the child's start included): {time.perf_counter() - start:.3f} s")


if __name__ == "__main__":
    main()
