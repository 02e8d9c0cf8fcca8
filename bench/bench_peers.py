"""fieldferry's methods against the filters a user would script instead, in the same run.

The peers, configured as PyVista configures them: "sample" is vtkResampleWithDataSet with a
vtkStaticCellLocator prototype; "voronoi" and "gaussian" are vtkPointInterpolator over a
vtkStaticPointLocator with a Voronoi (nearest point) or Gaussian kernel (sharpness 2, radius two
source spacings); "cKDTree" is scipy's tree built over the source plus one nearest query per target
point (one thread), the floor of any nearest-point map. PyVista itself runs too where installed.

Cases (a smooth analytic field, in m):
1. volume: the n^3-hexahedron cube of bench_fieldferry (point values) onto the nodes of a
   slightly smaller cube of (n-1)^3 hexahedra (no node on a source node): nearest point, the
   probe in source cells ("Mesh only"), the closest cell ("Surface projection").
2. tetra: the same source onto a tetrahedral volume of about 0.3 n^3 nodes.
3. cylinder wall: a cloud of 100,000 points scattered on a cylinder (radius 0.5 m) and a
   triangulation of it, onto a 50,000-node shell on the cylinder and 2 mm outside it; the error
   is taken against the field at each node's foot on the wall.

Per method: relative l2 error over the mapped points, unmapped points, seconds (median of 3 whole
calls), peak extra memory, and the time over the best peer's on the same work. Where a method and
a peer should give the same values (nearest point, and the probe where both find a cell), the
points that differ are counted, and for nearest point those at an exact tie of distances.

Environment: PEERS_BENCH_CELLS (default 100 -> 100^3 source hexahedra; 30 for a quick run).
"""
import os
import statistics

import numpy as np
import vtk
from scipy.spatial import cKDTree
from vtk.util import numpy_support as ns

import fieldferry
from bench_fieldferry import field, hex_body, point_cloud
from bench_methods import curved_field, cylinder, labelled_source, triangulated
from floor import measure, mib

fieldferry.diagnostics_dir = None
CELLS = int(os.environ.get("PEERS_BENCH_CELLS", "100"))
try:
    import pyvista
except ImportError:
    pyvista = None


def xyz(data):
    return ns.vtk_to_numpy(data.GetPoints().GetData()).astype(float)


def values_and_mask(out, name="Pressure"):
    values = ns.vtk_to_numpy(out.GetPointData().GetArray(name)).astype(float)
    mask = out.GetPointData().GetArray("vtkValidPointMask")
    valid = np.ones(len(values), bool) if mask is None else ns.vtk_to_numpy(mask) == 1
    return values, valid


def with_pressure(data, of=field):
    array = ns.numpy_to_vtk(of(xyz(data)), deep=1)
    array.SetName("Pressure")
    data.GetPointData().AddArray(array)
    return data


def sample(source, target):
    f = vtk.vtkResampleWithDataSet()
    f.SetInputData(target)
    f.SetSourceData(source)
    f.SetCellLocatorPrototype(vtk.vtkStaticCellLocator())
    f.SetPassPointArrays(True)
    f.SetPassCellArrays(True)
    f.SetMarkBlankPointsAndCells(True)
    f.Update()
    return f.GetOutput()


def interpolate(kernel):
    def run(source, target):
        f = vtk.vtkPointInterpolator()
        f.SetInputData(target)
        f.SetSourceData(source)
        f.SetLocator(vtk.vtkStaticPointLocator())
        f.SetKernel(kernel)
        f.SetNullPointsStrategyToMaskPoints()
        f.Update()
        return f.GetOutput()
    return run


def gaussian(radius):
    kernel = vtk.vtkGaussianKernel()
    kernel.SetSharpness(2.0)
    kernel.SetRadius(radius)
    return kernel


def kdtree(source, target):
    """cKDTree's nearest point as a mapped dataset-like pair (values, all valid)."""
    values = ns.vtk_to_numpy(source.GetPointData().GetArray("Pressure"))
    _, nearest = cKDTree(xyz(source)).query(xyz(target), workers=1)
    return values[nearest], np.ones(len(nearest), bool)


def project(method):
    return lambda source, target: getattr(fieldferry, method)("Pressure", source, target)


OURS = {"Point cloud or mesh": project("interpolate_scalar_field_using_point_interpolator"),
        "Mesh only": project("interpolate_scalar_field_using_probe_filter"),
        "Surface projection": project("interpolate_scalar_field_using_surface_projection"),
        "Linear fit": project("interpolate_scalar_field_using_linear_fit")}


def pyvista_peers(radius):
    if pyvista is None:
        return {}
    return {"pyvista sample": lambda s, t: pyvista.wrap(t).sample(pyvista.wrap(s)),
            "pyvista gaussian": lambda s, t: pyvista.wrap(t).interpolate(
                pyvista.wrap(s), radius=radius, sharpness=2.0)}


def run_case(title, source, target, ours, peers, exact):
    """Runs every method on (source, target); prints one row each and returns their values."""
    print(f"\n{title}: source {source.GetNumberOfPoints():,} points, "
          f"{source.GetNumberOfCells():,} cells; target {target.GetNumberOfPoints():,} points")
    print(f"{'method':22s}{'rel l2':>10s}{'unmapped':>10s}{'seconds':>9s}{'MiB':>8s}"
          f"{'/best peer':>11s}")
    rows = {}
    for name, fn in list(peers.items()) + list(ours.items()):
        seconds, peak, out = measure(lambda: fn(source, target), 3, statistics.median)
        values, valid = out if isinstance(out, tuple) else values_and_mask(out)
        err = values[valid] - exact[valid]
        l2 = np.linalg.norm(err) / np.linalg.norm(exact[valid]) if valid.any() else np.nan
        rows[name] = (values, valid, seconds, peak, l2)
    best = min(rows[p][2] for p in peers if p != "cKDTree")
    for name, (values, valid, seconds, peak, l2) in rows.items():
        print(f"{name:22s}{l2:10.2e}{int((~valid).sum()):10d}{seconds:9.3f}{mib(peak):8.0f}"
              f"{seconds / best:11.2f}", flush=True)
    return rows


def compare(rows, ours, peer, ties=None):
    a, va = rows[ours][:2]
    b, vb = rows[peer][:2]
    both = va & vb
    differ = both & (a != b)
    gap = np.abs(a - b)[differ].max() if differ.any() else 0.0
    line = (f"{ours} vs {peer}: {int(differ.sum())} of {int(both.sum())} values differ (at most "
            f"by {gap:.1e})")
    if ties is not None:
        line += f" ({int((differ & ties).sum())} of them at exact ties; {int(ties.sum())} ties)"
    print(line)


def exact_ties(source, target):
    d, _ = cKDTree(xyz(source)).query(xyz(target), k=2, workers=1)
    return d[:, 0] == d[:, 1]


def tetra_volume(nodes_per_axis, lo, hi):
    image = vtk.vtkImageData()
    image.SetDimensions(nodes_per_axis, nodes_per_axis, nodes_per_axis)
    image.SetOrigin(lo, lo, lo)
    step = (hi - lo) / (nodes_per_axis - 1)
    image.SetSpacing(step, step, step)
    tetra = vtk.vtkDataSetTriangleFilter()
    tetra.SetInputData(image)
    tetra.Update()
    return tetra.GetOutput()


def shrunk(body, lo, hi):
    points = xyz(body)
    body.GetPoints().SetData(ns.numpy_to_vtk(lo + points * (hi - lo), deep=1))
    return body


def volume_cases():
    source = with_pressure(hex_body(CELLS))
    spacing = 1.0 / CELLS
    peers = {"cKDTree": kdtree, "voronoi": interpolate(vtk.vtkVoronoiKernel()),
             "sample": sample, **pyvista_peers(2 * spacing)}
    target = shrunk(hex_body(CELLS - 1), 0.3 * spacing, 1.0 - 0.3 * spacing)
    rows = run_case("volume", source, target, OURS_VOLUME, peers, field(xyz(target)))
    compare(rows, "Point cloud or mesh", "voronoi", exact_ties(source, target))
    compare(rows, "Mesh only", "sample")
    compare(rows, "Surface projection", "sample")
    del rows
    tetra = tetra_volume(int(round(0.67 * CELLS)), 0.3 * spacing, 1.0 - 0.3 * spacing)
    rows = run_case("tetra", source, tetra, {k: OURS[k] for k in ("Mesh only",
                                                                  "Surface projection")},
                    {"sample": sample}, field(xyz(tetra)))
    compare(rows, "Mesh only", "sample")


OURS_VOLUME = {k: OURS[k] for k in ("Point cloud or mesh", "Mesh only", "Surface projection")}


def wall_target(gap):
    points, triangles = cylinder(101, 500, radius=0.5 + gap, phase=0.003)
    return triangulated(points, triangles)


def foot_values(target):
    p = xyz(target)
    r = np.hypot(p[:, 0], p[:, 1])
    return curved_field(np.column_stack([0.5 * p[:, 0] / r, 0.5 * p[:, 1] / r, p[:, 2]]))


def cylinder_cases():
    rng = np.random.default_rng(7)
    angle, height = rng.random(100_000) * 2 * np.pi, rng.random(100_000)
    cloud = labelled_source(point_cloud(np.column_stack(
        [0.5 * np.cos(angle), 0.5 * np.sin(angle), height])), "m", curved_field)
    wall = labelled_source(triangulated(*cylinder(126, 800)), "m", curved_field)
    spacing = np.sqrt(np.pi / 100_000)
    peers = {"cKDTree": kdtree, "voronoi": interpolate(vtk.vtkVoronoiKernel()),
             "gaussian": interpolate(gaussian(2 * spacing)), **pyvista_peers(2 * spacing)}
    for gap in (0.0, 0.002):
        target = wall_target(gap)
        exact = foot_values(target)
        run_case(f"cylinder cloud, {gap * 1000:.0f} mm gap", cloud, target,
                 {"Point cloud or mesh": OURS["Point cloud or mesh"],
                  "Linear fit": OURS["Linear fit"]}, peers, exact)
        run_case(f"cylinder triangulation, {gap * 1000:.0f} mm gap", wall, target,
                 {"Surface projection": OURS["Surface projection"]},
                 {"sample": sample, "voronoi": interpolate(vtk.vtkVoronoiKernel())}, exact)


if __name__ == "__main__":
    print(f"PyVista: {'installed' if pyvista else 'not installed, skipped'}")
    cylinder_cases()
    volume_cases()
