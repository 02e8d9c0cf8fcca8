"""kelm-map's mesh check at a million elements: a Hexa8 block and Tetra10 elements of the host's
sample zoo laid side by side, each with one element in a thousand inverted, checked on the
exported grid. Time against the floor (copying the elements' node coordinates once)."""
import sys
import time
from pathlib import Path

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import kelm
from bench_gridforge import hexa8_block
from floor import copy_floor, measure
from kelm.mesh import ElementTopology as T

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tools"))
import mesh_check  # noqa: E402


def tetra10_row(count=1_000_000):
    """`count` separate Tetra10 of the sample zoo (VTK order) along x."""
    xyz = kelm.samples.single_element(T.Tetra10)[0]
    coords = (xyz[None] + np.arange(count)[:, None, None] * (2.0, 0, 0)).reshape(-1, 3)
    return coords, np.arange(count * 10).reshape(count, 10)


def grid(coords, conn, cell_type):
    conn = conn.copy()
    conn[::1000] = conn[::1000, np.roll(np.arange(conn.shape[1]), 1)]  # one in a thousand turned
    out = vtk.vtkUnstructuredGrid()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(coords, deep=1))
    out.SetPoints(points)
    cells = vtk.vtkCellArray()
    cells.SetData(ns.numpy_to_vtk(np.arange(0, conn.size + 1, conn.shape[1]), deep=1,
                                  array_type=vtk.VTK_ID_TYPE),
                  ns.numpy_to_vtk(conn.ravel(), deep=1, array_type=vtk.VTK_ID_TYPE))
    out.SetCells(cell_type, cells)
    return out


block = hexa8_block()
for label, (coords, conn), cell_type in (("Hexa8", block[::2], vtk.VTK_HEXAHEDRON),
                                         ("Tetra10", tetra10_row(), vtk.VTK_QUADRATIC_TETRA)):
    dataset = grid(coords, conn, cell_type)
    cpu = time.process_time()
    seconds, _, bad = measure(lambda: mesh_check.bad_cells(dataset))
    cpu = (time.process_time() - cpu) / 3
    floor = copy_floor(coords[conn])
    print(f"{label:8s} {len(conn)} elements, {len(bad)} bad: {seconds:6.3f} s (CPU {cpu:5.3f} s)"
          f"  floor {floor:6.3f} s  ratio {seconds / floor:5.1f}")
