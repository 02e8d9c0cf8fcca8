"""The mapping methods past nearest-point accuracy, against "Point cloud or mesh", and "Face
average" against "Surface projection".

1. Speed: a 1,000,000-point source onto the surface of the 1,000,000-hexahedron body of
   bench_fieldferry ("Pressure", no tolerance): "Surface projection" from a triangulated surface of
   the body's cube (about 1,000,000 points, 2,000,000 triangles), "Linear fit" from the
   1,000,000-point cloud of bench_fieldferry, each against "Point cloud or mesh" from the same
   source in the same run. Seconds of the whole mapping call (the surface extraction of the body
   included) and of the method alone on the extracted surface, best of two, and their ratios.
2. Accuracy: the five methods that give each point its own value on one curved case, a cylindrical shell (radius 0.5 m, height 1 m;
   model in m) whose nodes lie on the true cylinder, from a triangulation of it about four times
   finer each way in mm, and the cloud-capable methods also from a cloud scattered on it; every
   method also from the triangulation holding the field at its faces' centres as face values
   ("faces"), and "Surface projection" from those face values averaged to the points by VTK's
   cell-to-point filter ("averaged", what a script would do). Relative l2 error over the
   mapped points, largest and 99th percentile absolute error (field values 1 to 3.5), unmapped
   points.
   "Face average" from the same triangulated surface, against "Surface projection" in the same
   run; and both from that surface moved 1 mm outwards, off the body's faces (a face centre that
   lies on the source needs no search; off it, every face's centre is searched).
3. Force: a plate of 20 x 20 quadrilaterals from a 240 x 240 triangulation holding face values of
   a stagnation peak about half a target face wide: the force the mapped values carry (faces with
   their own value for "Face average", the mean of their nodes' values for the others, as the
   loads apply them) against the source's, in per cent.
4. One large cell: "Surface projection" from a 7,200-triangle patch (61 x 61 nodes over 1 m^2)
   with and without one far-field panel (a triangle some 200 m across, 50 m away), onto a
   21 x 21 grid of 441 points just above the patch. Seconds of the method alone, best of five,
   and their ratio: the search must not widen for cells far from the point.

Environment: FERRY_BENCH_CELLS (default 100 -> 100^3 elements), as for bench_fieldferry.
"""
import numpy as np
import vtk
from vtk.util import numpy_support as ns

import fieldferry
from bench_fieldferry import CELLS, field, hex_body, model_of, point_cloud, string_array, vtk_points
from floor import measure

fieldferry.diagnostics_dir = None
METHODS = ("Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection",
           "Linear fit")


def triangulated(points, triangles):
    data = vtk.vtkPolyData()
    data.SetPoints(vtk_points(points))
    cells = vtk.vtkCellArray()
    offsets = np.arange(0, 3 * len(triangles) + 1, 3, dtype=np.int64)
    cells.SetData(ns.numpy_to_vtkIdTypeArray(offsets, deep=1),
                  ns.numpy_to_vtkIdTypeArray(triangles.astype(np.int64).ravel(), deep=1))
    data.SetPolys(cells)
    return data


def grid_triangles(rows, columns, first=0, wrap=False):
    """Two triangles per cell of a rows x columns node grid numbered row by row; with `wrap` the
    last column joins the first (a closed ring)."""
    cols = columns if wrap else columns - 1
    i, j = np.meshgrid(np.arange(rows - 1), np.arange(cols), indexing="ij")
    a = first + i * columns + j
    b = first + i * columns + (j + 1) % columns
    c, d = b + columns, a + columns
    return np.vstack([np.column_stack([a.ravel(), b.ravel(), c.ravel()]),
                      np.column_stack([a.ravel(), c.ravel(), d.ravel()])])


def cube_surface(n):
    """The six faces of the unit cube, each an n x n node grid (edge nodes repeated per face)."""
    s = np.linspace(0.0, 1.0, n)
    u, v = [a.ravel() for a in np.meshgrid(s, s, indexing="ij")]
    points, triangles = [], []
    for axis in range(3):
        for side in (0.0, 1.0):
            p = np.empty((n * n, 3))
            p[:, axis] = side
            p[:, (axis + 1) % 3], p[:, (axis + 2) % 3] = u, v
            triangles.append(grid_triangles(n, n, first=len(points) * n * n))
            points.append(p)
    return np.vstack(points), np.vstack(triangles)


def labelled_source(data, length="m", of=field):
    """`data` with "Pressure" = of(points in m) and its unit labels."""
    values = of(ns.vtk_to_numpy(data.GetPoints().GetData()) / (1000.0 if length == "mm" else 1.0))
    array = ns.numpy_to_vtk(values, deep=1)
    array.SetName("Pressure")
    data.GetPointData().AddArray(array)
    for name, value in (("current_units_length", length), ("units_pressure", "Pa")):
        data.GetFieldData().AddArray(string_array(name, value))
    return data


def outer_surface(body):
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(body)
    surface.SetNonlinearSubdivisionLevel(0)
    surface.Update()
    return surface.GetOutput()


def speed_benchmark():
    body = hex_body(CELLS)
    target = outer_surface(body)
    n = int(round(np.sqrt(1_000_000 / 6)))
    surface = labelled_source(triangulated(*cube_surface(n)))
    rng = np.random.default_rng(1)
    cloud = point_cloud(rng.random((1_000_000, 3)) * 1.02 - 0.01)
    print(f"body {body.GetNumberOfCells():,} hexahedra, surface {target.GetNumberOfPoints():,} "
          f"points; triangulated source {surface.GetNumberOfPoints():,} points, "
          f"{surface.GetNumberOfCells():,} triangles; cloud {cloud.GetNumberOfPoints():,} points")
    print(f"{'method':22s}{'source':9s}{'mapping s':>11s}{'ratio':>7s}{'method s':>10s}"
          f"{'ratio':>7s}")
    bare = {"Point cloud or mesh": fieldferry.interpolate_scalar_field_using_point_interpolator,
            "Surface projection": fieldferry.interpolate_scalar_field_using_surface_projection,
            "Linear fit": fieldferry.interpolate_scalar_field_using_linear_fit}
    bare["Face average"] = fieldferry.interpolate_scalar_field_using_face_average
    moved = vtk.vtkPolyData()
    moved.DeepCopy(surface)
    xyz = ns.vtk_to_numpy(moved.GetPoints().GetData())
    xyz[:] = (xyz - 0.5) * 1.002 + 0.5
    moved.GetPoints().Modified()
    for method, source, name, reference in (
            ("Surface projection", surface, "surface", "Point cloud or mesh"),
            ("Linear fit", cloud, "cloud", "Point cloud or mesh"),
            ("Face average", surface, "surface", "Surface projection"),
            ("Face average", moved, "off 1mm", "Surface projection")):
        times = {}
        for m in (reference, method):
            def mapping():
                fieldferry.map_scalar_field_to_mesh("Pressure", m, source, model_of(body), False,
                                                    None)
            whole, _, _ = measure(mapping, repeat=2)
            alone, _, _ = measure(lambda: bare[m]("Pressure", source, target), repeat=2)
            times[m] = (whole, alone)
        for m in (reference, method):
            whole, alone = times[m]
            print(f"{m:22s}{name:9s}{whole:11.3f}{whole / times[reference][0]:7.2f}{alone:10.3f}"
                  f"{alone / times[reference][1]:7.2f}", flush=True)


def cylinder(rings, around, radius=0.5, height=1.0, phase=0.0):
    """A structured triangulation of a cylinder's lateral surface, nodes on the true cylinder."""
    angle = np.linspace(0.0, 2 * np.pi, around, endpoint=False) + phase
    z = np.linspace(0.0, height, rings)
    a, h = [x.ravel() for x in np.meshgrid(angle, z, indexing="xy")]
    points = np.column_stack([radius * np.cos(a), radius * np.sin(a), h])
    return points, grid_triangles(rings, around, wrap=True)


def curved_field(p):
    return np.sin(4.0 * p[:, 0]) + np.cos(3.0 * p[:, 1]) + 0.5 * p[:, 2] + 2.0


def face_valued(surface, corners):
    """`surface` (in mm) holding curved_field at its faces' centres as face values."""
    values = ns.numpy_to_vtk(curved_field(corners.mean(axis=1)), deep=1)
    values.SetName("Pressure")
    surface.GetCellData().AddArray(values)
    for name, value in (("current_units_length", "mm"), ("units_pressure", "Pa")):
        surface.GetFieldData().AddArray(string_array(name, value))
    return surface


def averaged_to_points(source):
    to_points = vtk.vtkCellDataToPointData()
    to_points.SetInputData(source)
    to_points.Update()
    return to_points.GetOutput()


def accuracy_benchmark():
    coarse_points, coarse_tris = cylinder(21, 64)
    # About four times finer each way and not nested: no target node is a source node.
    fine_points, fine_tris = cylinder(83, 250, phase=0.01)
    surface = labelled_source(triangulated(fine_points * 1000.0, fine_tris), "mm", curved_field)
    rng = np.random.default_rng(5)
    angle, height = rng.random(len(fine_points)) * 2 * np.pi, rng.random(len(fine_points))
    scattered = np.column_stack([0.5 * np.cos(angle), 0.5 * np.sin(angle), height])
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(vtk_points(scattered * 1000.0))
    cloud = labelled_source(cloud, "mm", curved_field)
    faces = face_valued(triangulated(fine_points * 1000.0, fine_tris), fine_points[fine_tris])
    print(f"\ncylindrical shell target: {len(coarse_points):,} nodes on the true cylinder, "
          f"{len(coarse_tris):,} triangles (model in m); sources in mm: a triangulation of "
          f"{len(fine_points):,} nodes (4x finer), a cloud of {len(scattered):,} points on the "
          f"cylinder")
    print(f"{'method':22s}{'source':9s}{'rel l2':>10s}{'max':>10s}{'p99':>10s}{'unmapped':>10s}"
          f"{'seconds':>9s}")
    for name, source in (("surface", surface), ("cloud", cloud), ("faces", faces),
                         ("averaged", averaged_to_points(faces))):
        for method in METHODS:
            if name == "averaged" and method != "Surface projection":
                continue  # the reference a script would make: VTK's face-to-point averaging
            if name == "cloud" and method in ("Mesh only", "Surface projection"):
                continue  # no cells: nothing to probe or project onto
            body = triangulated(coarse_points, coarse_tris)
            body.GetFieldData().AddArray(string_array("Body pathName", "Bench/Shell"))

            def run():
                model = model_of(body)
                fieldferry.map_scalar_field_to_mesh("Pressure", method, source, model, True,
                                                    None)
                return model.GetBlock(0)
            seconds, _, leaf = measure(run, repeat=1)
            p = ns.vtk_to_numpy(leaf.GetPoints().GetData()).astype(float)
            values = ns.vtk_to_numpy(leaf.GetPointData().GetArray("Pressure"))
            mapped = ns.vtk_to_numpy(leaf.GetPointData().GetArray("vtkValidPointMask")) == 1
            exact = curved_field(p)[mapped]
            err = np.abs(values[mapped] - exact)
            if err.size:
                l2 = np.linalg.norm(err) / np.linalg.norm(exact)
                worst, p99 = err.max(), np.percentile(err, 99)
            else:
                l2 = worst = p99 = float("nan")
            print(f"{method:22s}{name:9s}{l2:10.2e}{worst:10.2e}{p99:10.2e}"
                  f"{int((~mapped).sum()):10d}{seconds:9.3f}", flush=True)


def carried_force(leaf, method):
    """-sum(p A n) over the leaf's polygons: each face's own value for "Face average", the mean of
    its corners' values otherwise (the integral of the load's pressure, linear over a triangle,
    bilinear over a parallelogram)."""
    xyz = ns.vtk_to_numpy(leaf.GetPoints().GetData()).astype(float)
    offsets = ns.vtk_to_numpy(leaf.GetPolys().GetOffsetsArray())
    rows = ns.vtk_to_numpy(leaf.GetPolys().GetConnectivityArray()).reshape(len(offsets) - 1, -1)
    corners = xyz[rows]
    area = 0.5 * np.cross(corners[:, 2] - corners[:, 0], corners[:, -1] - corners[:, 1])
    if rows.shape[1] == 3:
        area = 0.5 * np.cross(corners[:, 1] - corners[:, 0], corners[:, 2] - corners[:, 0])
    if method == "Face average":
        p = ns.vtk_to_numpy(leaf.GetCellData().GetArray("Pressure"))[-len(rows):]
    else:
        p = ns.vtk_to_numpy(leaf.GetPointData().GetArray("Pressure"))[rows].mean(axis=1)
    return -(p[:, None] * area).sum(axis=0)


PEAK_WIDTH = 0.03  # m, about half a target face


def peak(p):
    """A stagnation peak of 1 bar, PEAK_WIDTH wide, off the target's nodes."""
    r2 = (p[:, 0] - 0.513) ** 2 + (p[:, 1] - 0.468) ** 2
    return 1e5 * np.exp(-r2 / PEAK_WIDTH ** 2)


def force_benchmark():
    n = 240
    s = np.linspace(0.0, 1.0, n + 1)
    u, v = [a.ravel() for a in np.meshgrid(s, s, indexing="ij")]
    points = np.column_stack([u, v, np.zeros_like(u)])
    source = triangulated(points, grid_triangles(n + 1, n + 1))
    corners = points[grid_triangles(n + 1, n + 1)]
    centres = corners.mean(axis=1)
    faces = ns.numpy_to_vtk(peak(centres), deep=1)
    faces.SetName("Pressure")
    source.GetCellData().AddArray(faces)
    for name, value in (("current_units_length", "m"), ("units_pressure", "Pa")):
        source.GetFieldData().AddArray(string_array(name, value))
    exact = -(peak(centres)[:, None] * 0.5 * np.cross(
        corners[:, 1] - corners[:, 0], corners[:, 2] - corners[:, 0])).sum(axis=0)
    plate = vtk.vtkPlaneSource()
    plate.SetResolution(20, 20)
    plate.SetOrigin(0, 0, 0)
    plate.SetPoint1(1, 0, 0)
    plate.SetPoint2(0, 1, 0)
    plate.Update()
    print(f"\nforce on a 1 x 1 m plate of 20 x 20 quadrilaterals from {source.GetNumberOfCells():,} "
          f"triangles holding face values of a peak {PEAK_WIDTH} m wide: |F| = "
          f"{np.linalg.norm(exact):.1f} N")
    print(f"{'method':22s}{'|F| off by %':>14s}{'seconds':>9s}")
    for method in ("Point cloud or mesh", "Surface projection", "Linear fit", "Face average"):
        body = vtk.vtkPolyData()
        body.DeepCopy(plate.GetOutput())
        body.GetFieldData().AddArray(string_array("Body pathName", "Bench/Plate"))

        def run():
            model = model_of(body)
            fieldferry.map_scalar_field_to_mesh("Pressure", method, source, model, True, None)
            return model.GetBlock(0)
        seconds, _, leaf = measure(run, repeat=1)
        off = 100 * (np.linalg.norm(carried_force(leaf, method)) / np.linalg.norm(exact) - 1)
        print(f"{method:22s}{off:14.3f}{seconds:9.3f}", flush=True)


def large_cell_benchmark():
    s = np.linspace(0.0, 1.0, 61)
    u, v = [a.ravel() for a in np.meshgrid(s, s, indexing="ij")]
    patch = np.column_stack([u, v, np.zeros_like(u)])
    triangles = grid_triangles(61, 61)
    panel = np.array([[-100.0, -100.0, -50.0], [100.0, -100.0, -50.0], [0.0, 100.0, -50.0]])
    sources = {"patch": labelled_source(triangulated(patch, triangles)),
               "patch + panel": labelled_source(triangulated(
                   np.vstack([patch, panel]), np.vstack([triangles, len(patch) + np.arange(3)])))}
    t = np.linspace(0.0, 1.0, 21)
    x, y = [a.ravel() for a in np.meshgrid(t, t, indexing="ij")]
    target = point_cloud(np.column_stack([x, y, np.full_like(x, 0.01)]))
    print(f"\none large cell: {len(triangles):,} triangles with and without one far-field panel "
          f"onto {target.GetNumberOfPoints()} points")
    print(f"{'method':22s}{'source':15s}{'method s':>10s}{'ratio':>9s}")
    seconds = {}
    for name, source in sources.items():
        seconds[name], _, _ = measure(
            lambda: fieldferry.interpolate_scalar_field_using_surface_projection(
                "Pressure", source, target), repeat=5)
        print(f"{'Surface projection':22s}{name:15s}{seconds[name]:10.4f}"
              f"{seconds[name] / seconds['patch']:9.2f}", flush=True)


if __name__ == "__main__":
    accuracy_benchmark()
    force_benchmark()
    large_cell_benchmark()
    speed_benchmark()
