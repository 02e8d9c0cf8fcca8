"""fieldferry at scale.

1. map_scalar_field_to_mesh: a smooth analytic field from a 1,000,000-point cloud onto a
   1,000,000-element hexahedral body (pressure onto its surface, temperature onto the whole body),
   each method, without and with a tolerance. Seconds, mapping error against the analytic field
   (max and RMS over the points the mask calls mapped, and the unmapped count), and the ratio to
   the floor: the bare VTK filters of the same method run on the same data in the same run.
2. "Coarse to fine" on the surface of a ~20,000-point body against a 100,000-point cloud: the
   full 101^3 pipeline against the evaluation at the read grid corners only; seconds, ratio,
   identical values, mask counts.

Environment: FERRY_BENCH_CELLS (default 100 -> 100^3 elements), FERRY_BENCH_TOLERANCE=0 to skip
the runs with a tolerance (the unsigned distance volume of a million points takes a minute).
"""
import os

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import fieldferry
from floor import measure, mib

fieldferry.diagnostics_dir = None  # the diagnostic files are not part of the mapping's cost
CELLS = int(os.environ.get("FERRY_BENCH_CELLS", "100"))
WITH_TOLERANCE = os.environ.get("FERRY_BENCH_TOLERANCE", "1") != "0"


def field(p):
    return 1000.0 * (np.sin(2.0 * p[:, 0]) + np.cos(1.5 * p[:, 1]) + 0.5 * p[:, 2])


def vtk_points(p):
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(p), deep=1))
    return points


def string_array(name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    return array


def point_cloud(p):
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(vtk_points(p))
    values = field(p)
    for name in ("Pressure", "Temperature"):
        array = ns.numpy_to_vtk(values, deep=1)
        array.SetName(name)
        cloud.GetPointData().AddArray(array)
    for name, value in (("current_units_length", "m"), ("units_pressure", "Pa"),
                        ("units_temperature", "K")):
        cloud.GetFieldData().AddArray(string_array(name, value))
    return cloud


def hex_body(n, size=1.0):
    """An n^3-element hexahedral grid over [0, size]^3 with the tag arrays of a model body."""
    axis = np.linspace(0.0, size, n + 1, dtype=np.float32)
    gx, gy, gz = np.meshgrid(axis, axis, axis, indexing="ij")
    grid = vtk.vtkUnstructuredGrid()
    grid.SetPoints(vtk_points(np.column_stack([gz.ravel(), gy.ravel(), gx.ravel()])))
    i, j, k = np.meshgrid(np.arange(n), np.arange(n), np.arange(n), indexing="ij")
    base = ((i * (n + 1) + j) * (n + 1) + k).ravel()
    s, r = 1, n + 1  # strides of k (x) and j (y); i (z) is r * r
    conn = np.column_stack([base, base + s, base + s + r, base + r, base + r * r,
                            base + s + r * r, base + s + r + r * r, base + r + r * r]).ravel()
    cells = vtk.vtkCellArray()
    offsets = ns.numpy_to_vtkIdTypeArray(np.arange(0, 8 * n ** 3 + 1, 8, dtype=np.int64), deep=1)
    cells.SetData(offsets, ns.numpy_to_vtkIdTypeArray(conn.astype(np.int64), deep=1))
    grid.SetCells(vtk.VTK_HEXAHEDRON, cells)
    for name, value in (("Body pathName", "Bench/Part/Block"), ("mesh_type", "Solid"),
                        ("mesh_order", "Linear")):
        grid.GetFieldData().AddArray(string_array(name, value))
    return grid


def model_of(body):
    model = vtk.vtkMultiBlockDataSet()
    model.SetBlock(0, body)
    model.GetFieldData().AddArray(string_array("unit_system_label", "m-kg-s-N-K"))
    return model


def floor_pipeline(algorithm, field_name, source, body, tolerance):
    """The bare VTK filters of the method, as the mapping would run them on this body."""
    target = body
    if field_name == "Pressure":
        surface = vtk.vtkDataSetSurfaceFilter()
        surface.SetInputData(body)
        surface.SetNonlinearSubdivisionLevel(0)
        surface.Update()
        target = surface.GetOutput()
    if tolerance is not None:
        volume = vtk.vtkUnsignedDistance()
        volume.SetInputData(source)
        volume.SetRadius(0.05)
        volume.Update()
        sample = vtk.vtkResampleWithDataSet()
        sample.SetPassPointArrays(True)
        sample.SetPassCellArrays(True)
        sample.SetInputData(target)
        sample.SetSourceData(volume.GetOutput())
        sample.Update()
        target = sample.GetOutput()
    source.GetPointData().SetActiveScalars(field_name)
    if algorithm == "Point cloud or mesh":
        f = vtk.vtkPointInterpolator()
        f.SetSourceData(source)
        f.SetInputData(target)
        f.SetKernel(vtk.vtkVoronoiKernel())
    elif algorithm == "Mesh only":
        f = vtk.vtkProbeFilter()
        f.SetInputData(target)
        f.SetSourceData(source)
    else:
        b = target.GetBounds()
        box = vtk.vtkImageData()
        box.SetDimensions(101, 101, 101)
        box.SetSpacing([(b[1] - b[0]) / 100, (b[3] - b[2]) / 100, (b[5] - b[4]) / 100])
        box.SetOrigin(b[0], b[2], b[4])
        kernel = vtk.vtkGaussianKernel()
        kernel.SetSharpness(2)
        kernel.SetRadius(0.01)
        splat = vtk.vtkPointInterpolator()
        splat.SetInputData(box)
        splat.SetSourceData(source)
        splat.SetKernel(kernel)
        splat.Update()
        f = vtk.vtkResampleWithDataSet()
        f.SetInputData(target)
        f.SetSourceConnection(splat.GetOutputPort())
    f.Update()
    return f.GetOutput()


def errors(mapped, field_name):
    p = ns.vtk_to_numpy(mapped.GetPoints().GetData()).astype(float)
    values = ns.vtk_to_numpy(mapped.GetPointData().GetArray(field_name))
    mask = ns.vtk_to_numpy(mapped.GetPointData().GetArray("vtkValidPointMask")).astype(bool)
    err = np.abs(values - field(p))[mask]
    if err.size == 0:
        return float("nan"), float("nan"), int((~mask).sum())
    return float(err.max()), float(np.sqrt((err ** 2).mean())), int((~mask).sum())


def mapping_benchmark():
    rng = np.random.default_rng(1)
    source = point_cloud(rng.random((1_000_000, 3)) * 1.02 - 0.01)
    body = hex_body(CELLS)
    print(f"source {source.GetNumberOfPoints():,} points; body {body.GetNumberOfCells():,} hexahedra,"
          f" {body.GetNumberOfPoints():,} points; field range about 2000")
    print(f"{'method':22s}{'field':13s}{'tol':>5s}{'seconds':>9s}{'floor s':>9s}{'ratio':>7s}"
          f"{'peak MiB':>10s}{'max err':>10s}{'rms err':>10s}{'unmapped':>10s}")
    tolerances = [None, 0.01] if WITH_TOLERANCE else [None]
    for tolerance in tolerances:
        repeat = 1 if tolerance is not None else 2
        for field_name in ("Pressure", "Temperature"):
            for algorithm in ("Point cloud or mesh", "Mesh only", "Coarse to fine"):
                def run():
                    model = model_of(body)
                    fieldferry.map_scalar_field_to_mesh(field_name, algorithm, source, model,
                                                        False, tolerance)
                    return model.GetBlock(0)
                seconds, peak, mapped = measure(run, repeat=repeat)
                floor_s, _, _ = measure(
                    lambda: floor_pipeline(algorithm, field_name, source, body, tolerance),
                    repeat=repeat)
                max_err, rms, unmapped = errors(mapped, field_name)
                print(f"{algorithm:22s}{field_name:13s}{'yes' if tolerance else 'no':>5s}"
                      f"{seconds:9.3f}{floor_s:9.3f}{seconds / floor_s:7.2f}{mib(peak):10.1f}"
                      f"{max_err:10.3g}{rms:10.3g}{unmapped:10d}", flush=True)


def coarse_to_fine_benchmark(size):
    """A box surface of ~20,000 points and edge `size` m; a CFD-like cloud of 100,000 points within
    `size` / 200 of it. On a 0.1 m box the 10 mm kernel spans ten grid cells: every grid point
    near the surface weighs many neighbours, as on a bracket-sized body."""
    body = hex_body(58, size)
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(body)
    surface.Update()
    target = surface.GetOutput()
    rng = np.random.default_rng(2)
    p = rng.random((100_000, 3))
    face = rng.integers(0, 6, 100_000)
    p[np.arange(100_000), face // 2] = (face % 2).astype(float)  # onto one of the six faces
    p += (rng.random((100_000, 3)) - 0.5) * 0.01
    source = point_cloud(p * size)
    full_s, _, full = measure(lambda: fieldferry.interpolate_coarse_field_onto_fine_field(
        "Pressure", source, target, full_grid=True), repeat=2)
    fast_s, peak, fast = measure(lambda: fieldferry.interpolate_coarse_field_onto_fine_field(
        "Pressure", source, target), repeat=3)
    full_values = ns.vtk_to_numpy(full.GetPointData().GetArray("Pressure"))
    difference = np.abs(full_values - ns.vtk_to_numpy(fast.GetPointData().GetArray("Pressure")))
    same = f"{difference.max() / np.abs(full_values).max():.1e}"
    mask = ns.vtk_to_numpy(fast.GetPointData().GetArray("vtkValidPointMask"))
    print(f"coarse to fine, {size} m box, surface of {target.GetNumberOfPoints():,} points, cloud of "
          f"{source.GetNumberOfPoints():,}: full grid {full_s:.3f} s, read corners {fast_s:.3f} s, "
          f"speed-up {full_s / fast_s:.1f}x, peak {mib(peak):.1f} MiB, largest difference / largest value {same}, "
          f"unmapped {int((mask == 0).sum())} of {mask.size}")
    max_err, rms, _ = errors(fast, "Pressure")
    print(f"  error over mapped points: max {max_err:.3g}, rms {rms:.3g}")


if __name__ == "__main__":
    coarse_to_fine_benchmark(1.0)
    coarse_to_fine_benchmark(0.1)
    mapping_benchmark()
