"""The distance step of a mapping with a tolerance.

1. A point cloud's unsigned distance volume: map_scalar_field_to_mesh ("Pressure", "Point cloud
   or mesh") without a tolerance, with one on the full 256^3 volume (full_distance_volume=True)
   and with one on the volume evaluated at the corners the leaf reads; seconds, ratios and the
   largest difference of the two "Distance" arrays. Two cases: 100,000 points near the faces of a
   1 m box onto its ~20,000-point surface, and 1,000,000 points in a 1 m cube onto the surface of
   the 1,000,000-hexahedron body.
2. What follows on the tolerance path: loadscribe.filter_by_distance on the mapped leaves, the
   two diagnostic files of the distance step, and the distance to a surface source
   (vtkDistancePolyDataFilter through generate_distance_field) within a mapping from a
   ~100,000-point surface.

Environment: DISTANCE_BENCH_FULL=0 skips the full volume of the million-point cloud (a minute).
"""
import os
import tempfile

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import fieldferry
import loadscribe
from bench_fieldferry import hex_body, model_of, point_cloud
from floor import measure, mib

fieldferry.diagnostics_dir = None  # the diagnostic files are not part of the mapping's cost
FULL_MILLION = os.environ.get("DISTANCE_BENCH_FULL", "1") != "0"
TOLERANCE = 0.01  # 1 cm: the cloud is that dense, so part of each surface is within it


def surface_of(body):
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(body)
    surface.Update()
    return surface.GetOutput()


def near_box_faces(n, size, rng):
    """n points on the faces of a `size` box, scattered by size / 200 off them (a CFD export)."""
    p = rng.random((n, 3))
    face = rng.integers(0, 6, n)
    p[np.arange(n), face // 2] = (face % 2).astype(float)
    p += (rng.random((n, 3)) - 0.5) * 0.01
    return p * size


def map_once(source, body, tolerance, **options):
    model = model_of(body)
    fieldferry.map_scalar_field_to_mesh("Pressure", "Point cloud or mesh", source, model, False,
                                        tolerance, **options)
    return model.GetBlock(0)


def distance_of(leaf):
    return ns.vtk_to_numpy(leaf.GetPointData().GetArray("Distance"))


def volume_case(title, source, body, full=True):
    print(f"{title}: cloud {source.GetNumberOfPoints():,} points, surface "
          f"{surface_of(body).GetNumberOfPoints():,} points", flush=True)
    plain_s, _, _ = measure(lambda: map_once(source, body, None), repeat=3)
    fast_s, fast_peak, fast = measure(lambda: map_once(source, body, TOLERANCE), repeat=3)
    line = (f"  no tolerance {plain_s:.3f} s | tolerance, read corners {fast_s:.3f} s "
            f"(x{fast_s / plain_s:.2f} of no tolerance, peak {mib(fast_peak):.0f} MiB)")
    if full:
        full_s, full_peak, reference = measure(
            lambda: map_once(source, body, TOLERANCE, full_distance_volume=True), repeat=1)
        a, b = distance_of(reference), distance_of(fast)
        finite = a < 1e37
        same = np.abs(a - b)[finite].max() / max(float(a[finite].max()), 1e-30) if finite.any() else 0
        line += (f" | full volume {full_s:.3f} s (peak {mib(full_peak):.0f} MiB): "
                 f"{full_s / fast_s:.1f}x faster, capped alike {bool(np.array_equal(~finite, b >= 1e37))}, "
                 f"largest difference / largest distance {same:.1e}")
    print(line, flush=True)
    return fast


def filter_case(leaf):
    within = int((distance_of(leaf) <= TOLERANCE).sum())
    seconds, _, kept = measure(lambda: loadscribe.filter_by_distance(leaf, TOLERANCE, "Cell"),
                               repeat=3)
    print(f"  loadscribe.filter_by_distance: {leaf.GetNumberOfCells():,} cells, {within:,} points "
          f"within tolerance -> {kept.GetNumberOfCells():,} cells kept, {seconds:.3f} s", flush=True)


def diagnostics_case(source, body):
    """The two diagnostic files the distance step writes for every leaf (into a scratch folder)."""
    with tempfile.TemporaryDirectory() as folder:
        fieldferry.diagnostics_dir = folder
        try:
            seconds, _, _ = measure(lambda: map_once(source, body, TOLERANCE), repeat=2)
            size = sum(os.path.getsize(os.path.join(folder, f)) for f in os.listdir(folder))
        finally:
            fieldferry.diagnostics_dir = None
    print(f"  with the diagnostic files written: {seconds:.3f} s ({size / 2 ** 20:.1f} MiB per leaf, "
          f"rewritten for every leaf)", flush=True)


def surface_source_case():
    """A triangulated ~100,000-point surface carrying the field onto the ~20,000-point surface of a
    slightly smaller box; the distance step is vtkDistancePolyDataFilter."""
    big = hex_body(129, 1.02)
    shift = vtk.vtkTransform()
    shift.Translate(-0.01, -0.01, -0.01)
    moved = vtk.vtkTransformFilter()
    moved.SetInputData(surface_of(big))
    moved.SetTransform(shift)
    triangles = vtk.vtkTriangleFilter()
    triangles.SetInputConnection(moved.GetOutputPort())
    triangles.Update()
    source = point_cloud(ns.vtk_to_numpy(triangles.GetOutput().GetPoints().GetData()))
    source.SetPolys(triangles.GetOutput().GetPolys())
    body = hex_body(58, 1.0)
    target = surface_of(body)
    plain_s, _, _ = measure(lambda: map_once(source, body, None), repeat=2)
    tol_s, _, leaf = measure(lambda: map_once(source, body, TOLERANCE), repeat=2)
    step_s, _, _ = measure(lambda: fieldferry.generate_distance_field(target, source, "Cell"),
                           repeat=2)
    points_s, _, _ = measure(
        lambda: fieldferry.generate_distance_field(target, source, "Point"), repeat=2)
    print(f"surface source: {source.GetNumberOfPoints():,} points, {source.GetNumberOfCells():,} "
          f"triangles onto {target.GetNumberOfPoints():,} points: no tolerance {plain_s:.3f} s, "
          f"tolerance {tol_s:.3f} s, of which the distance filter {step_s:.3f} s (points and "
          f"cell centres; points only {points_s:.3f} s)", flush=True)
    filter_case(leaf)


if __name__ == "__main__":
    rng = np.random.default_rng(2)
    small_source, small_body = point_cloud(near_box_faces(100_000, 1.0, rng)), hex_body(58, 1.0)
    small = volume_case("100,000-point cloud near a 1 m box", small_source, small_body)
    filter_case(small)
    diagnostics_case(small_source, small_body)
    rng = np.random.default_rng(1)
    large_source = point_cloud(rng.random((1_000_000, 3)) * 1.02 - 0.01)
    large_body = hex_body(100)
    large = volume_case("1,000,000-point cloud in a 1 m cube", large_source, large_body,
                        full=FULL_MILLION)
    filter_case(large)
    diagnostics_case(large_source, large_body)
    surface_source_case()
