"""The whole main road at scale, through the public Python API only: export the host model
(treewalk), map a pressure (fieldferry), create the host load (loadscribe).

Model: a cube of 1 m, n x n x n Hexa8 elements (n even, n^3 nearest the size asked), built in the
stand-in host as one mesh body and, in a second case, as 8 bodies (2 x 2 x 2 blocks, each with
its own nodes; the shared inner faces lie inside the cube, far beyond the tolerance from any
source point, so the load leaves them out). Sources, about as many points as elements: a
CFD-like cloud on the cube's six faces (per face the centres of an m x m grid, jittered in the
plane: another grid than the FE nodes) for "Point cloud or mesh" and "Linear fit", and a
triangulated surface of the six faces at the same resolution for "Surface projection", both
carrying "Pressure" = a smooth analytic field, in m and Pa. Tolerance: two element edges.
Recording off (loadscribe.macro = None) and on (""); the load's printed recording goes to a
null writer. fieldferry.diagnostics_dir as shipped: the platform's temporary directory, into
which every mapping with a tolerance writes the source and the last leaf measured as VTK XML
(their size is printed).

Per road run: wall seconds of each stage and their total; the peak resident memory each stage
adds over the resident size before it, and the whole road's over the size before the export,
as multiples of the grid bytes (points, connectivity, offsets, cell types and the point and
cell arrays of the exported grids); the map time over the floor: a scipy cKDTree built over the
cloud plus one nearest-point query (single thread, as the toolkit's own code) per surface node
of the model's bodies, best of three, measured on the same machine in the same benchmark run;
for the nodes of the blocks' inner faces the query is bounded by the tolerance (the unbounded
figure is printed beside it: see nearest_floor). The host's attribute arrays are read once
before anything is timed (the stand-in builds its delivered arrays on first read).

Every road run, and the floor of each (size, bodies) case, runs in a fresh process, so its
memory figures are its own (freed memory a process keeps would hide the next run's). A case
has a time budget: each of its processes may use the budget left over the processes left, so a
fast run leaves time to a slow one and one slow method cannot starve the others. A process
over its share is stopped and its run prints "timeout"; a run whose map timed out with one
recording setting is not started again with the other. After both cases of a size, the mapped
values on the cube's outer nodes of the 8 bodies are compared with the 1 body's (nodes shared
by blocks are compared in every block holding them).

Targets (printed, not asserted) are for 10M elements: total < 10 s, map <= 2x floor, 8 bodies
<= 1.5x the time of 1 body, peak <= 2x grid bytes.

Environment:
  SCALE_BENCH_SIZES        element counts, comma-separated: "1e6" (default), "1e5,1e6",
                           "100k,3M", "10M"
  SCALE_BENCH_BODIES       "1,8" (default), "1" or "8"
  SCALE_BENCH_METHODS      comma-separated, default "Point cloud or mesh,Linear fit,Surface
                           projection"
  SCALE_BENCH_RECORDING    "off,on" (default), "off" or "on"
  SCALE_BENCH_TIMEOUT      seconds per (size, bodies) case, building included, default 300
  SCALE_BENCH_DIAGNOSTICS  "shipped" (default) or "off" (fieldferry.diagnostics_dir = None)
"""
import ctypes
import gc
import itertools
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import numpy as np
import vtk
from vtk.util import numpy_support as ns
from vtkmodules.numpy_interface import dataset_adapter as dsa

import fieldferry
import kelm
import loadscribe
import treewalk
from kelm.mesh import ElementTopology as T

# The shared builders' module switches the diagnostics off when imported; this benchmark measures
# the road as shipped, so the shipped setting is put back.
SHIPPED_DIAGNOSTICS_DIR = fieldferry.diagnostics_dir
from bench_methods import cube_surface, labelled_source, triangulated, vtk_points  # noqa: E402
from floor import mib, peak_rss_bytes, reset_peak, rss_bytes  # noqa: E402

fieldferry.diagnostics_dir = SHIPPED_DIAGNOSTICS_DIR
DIAGNOSTIC_FILES = ("to_mesh_with_distances", "from_mesh_with_unisgned_distances")
ALL_METHODS = ("Point cloud or mesh", "Linear fit", "Surface projection")
TARGETS = "total < 10 s, map <= 2x floor, 8 bodies <= 1.5x 1 body, peak <= 2x grid bytes"


def parse_size(text):
    text = text.strip()
    scale = {"k": 1e3, "K": 1e3, "M": 1e6}.get(text[-1:], 1.0)
    return int(float(text[:-1] if scale != 1.0 else text) * scale)


def settings():
    env = os.environ.get
    return {
        "sizes": [parse_size(s) for s in env("SCALE_BENCH_SIZES", "1e6").split(",") if s.strip()],
        "bodies": [int(b) for b in env("SCALE_BENCH_BODIES", "1,8").split(",")],
        "methods": [m.strip()
                    for m in env("SCALE_BENCH_METHODS", ",".join(ALL_METHODS)).split(",")],
        "recording": [r.strip() == "on" for r in env("SCALE_BENCH_RECORDING", "off,on").split(",")],
        "timeout": float(env("SCALE_BENCH_TIMEOUT", "300")),
        "diagnostics": env("SCALE_BENCH_DIAGNOSTICS", "shipped") != "off",
    }


def edge_count(size):
    """Elements per cube edge: even (the 8 blocks halve it), n^3 nearest the size asked."""
    return max(2, 2 * int(round(size ** (1 / 3) / 2)))


# ---------------------------------------------------------------- the model and the sources

def cube_model(n, blocks):
    """The unit cube of n^3 Hexa8 in the stand-in host, as blocks^3 mesh bodies of one part.
    Returns (model, the bodies, the coordinates of every body's surface nodes)."""
    kelm.reset()
    model = kelm.Model(f"Cube{blocks ** 3}")
    part = model.add_part("Cube")
    k, h = n // blocks, 1.0 / n
    axis = np.arange(k + 1)
    i, j, l = [a.ravel() for a in np.meshgrid(axis, axis, axis, indexing="ij")]
    on_surface = (i == 0) | (i == k) | (j == 0) | (j == k) | (l == 0) | (l == k)
    e = np.arange(k)
    ei, ej, el = [a.ravel() for a in np.meshgrid(e, e, e, indexing="ij")]
    sx, sy, sz = (k + 1) ** 2, k + 1, 1
    base = ei * sx + ej * sy + el * sz
    # VTK's (and the host's) Hexa8 order: the bottom 0-1-2-3 turning about +z, then the top.
    rows = np.column_stack([base, base + sx, base + sx + sy, base + sy,
                            base + sz, base + sx + sz, base + sx + sy + sz, base + sy + sz])
    bodies, surface_nodes, first_node, first_element = [], [], 1, 1
    for b, (bx, by, bz) in enumerate(itertools.product(range(blocks), repeat=3)):
        xyz = np.column_stack([i + bx * k, j + by * k, l + bz * k]) * h
        node_ids = first_node + np.arange(len(xyz))
        element_ids = first_element + np.arange(len(rows))
        bodies.append(part.add_mesh(f"Block {b}", node_ids, xyz, {T.Hexa8: (element_ids, rows)}))
        surface_nodes.append(xyz[on_surface])
        first_node += len(xyz)
        first_element += len(rows)
    return model, bodies, np.vstack(surface_nodes)


def face_cloud(m, seed=7):
    """6 m^2 points on the unit cube's faces: per face the centres of an m x m grid, moved in the
    plane by up to a third of a cell (a CFD wall's face centres on a mesh of its own)."""
    rng = np.random.default_rng(seed)
    centres = (np.arange(m) + 0.5) / m
    u, v = [a.ravel() for a in np.meshgrid(centres, centres, indexing="ij")]
    faces = []
    for axis, side in itertools.product(range(3), (0.0, 1.0)):
        p = np.empty((m * m, 3))
        p[:, axis] = side
        jitter = (rng.random((2, m * m)) - 0.5) * (2 / 3 / m)
        p[:, (axis + 1) % 3], p[:, (axis + 2) % 3] = u + jitter[0], v + jitter[1]
        faces.append(p)
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(vtk_points(np.vstack(faces)))
    return labelled_source(cloud)


def build_case(size, blocks):
    """(n, the model, its bodies, their surface nodes, the cloud, the triangulated surface); the
    host's delivered arrays read once."""
    n = edge_count(size)
    model, bodies, surface_nodes = cube_model(n, blocks)
    for body in bodies:  # read, not used: the stand-in caches what it delivers
        body.nodeIDs, body.nodeCoordinates, body.elementIDs, body.elementConnectivities
    m = max(2, int(round(np.sqrt(size / 6))))
    cloud = face_cloud(m)
    surface = labelled_source(triangulated(*cube_surface(m + 1)))
    return n, model, bodies, surface_nodes, cloud, surface


def on_cube_faces(xyz, n):
    """Which points lie on the cube's outer faces, and their grid indices."""
    index = np.rint(xyz * n).astype(np.int64)
    return ((index == 0) | (index == n)).any(axis=1), index


# ---------------------------------------------------------------- measuring, in the child process

def grid_bytes(root):
    """Bytes of the exported grids: points, connectivity, offsets, cell types, point and cell
    arrays."""
    total = 0
    for grid in leaves(root):
        cells = grid.GetCells()
        arrays = [grid.GetPoints().GetData(), cells.GetConnectivityArray(),
                  cells.GetOffsetsArray(), grid.GetCellTypesArray()]
        for data in (grid.GetPointData(), grid.GetCellData()):
            arrays += [data.GetAbstractArray(a) for a in range(data.GetNumberOfArrays())]
        total += sum(a.GetNumberOfValues() * a.GetDataTypeSize() for a in arrays)
    return total


def leaves(root):
    return [leaf.VTKObject for leaf in dsa.WrapDataObject(root)]


def outer_values(mapped, n):
    """(grid index, value) of every mapped point on the cube's outer faces, in leaf order."""
    keys, values = [], []
    for leaf in dsa.WrapDataObject(mapped):
        outer, index = on_cube_faces(np.asarray(leaf.Points), n)
        value = np.asarray(leaf.PointData["Pressure"], dtype=np.float64)
        keep = outer & (np.asarray(leaf.PointData["vtkValidPointMask"]) == 1)
        keys.append(index[keep] @ np.array([(n + 1) ** 2, n + 1, 1]))
        values.append(value[keep])
    return np.concatenate(keys), np.concatenate(values)


class NullOut:
    """Where the load's printed recording goes: produced, not kept."""

    def write(self, text):
        return len(text)

    def flush(self):
        pass


class Stages:
    """Wall seconds and the peak resident memory each stage adds over the size before it; each
    stage's name is recorded as it starts (where a timeout stopped the run)."""

    def __init__(self, record):
        self.record, self.start = record, rss_bytes()
        self.seconds, self.added, self.highest = {}, {}, 0

    def run(self, name, fn):
        self.record(kind="stage", stage=name)
        before = rss_bytes()
        reset_peak()
        t0 = time.perf_counter()
        result = fn()
        self.seconds[name] = time.perf_counter() - t0
        peak = peak_rss_bytes()
        self.added[name] = max(0, peak - before)
        self.highest = max(self.highest, peak)
        return result


def load(mapped, tolerance):
    stdout, sys.stdout = sys.stdout, NullOut()
    try:
        loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", tolerance)
    finally:
        sys.stdout = stdout


def road(record, model, n, source, method, recording):
    """One export, map and load; returns the row and the outer nodes' mapped values."""
    tolerance = 2.0 / n
    stages = Stages(record)
    root = stages.run("export", lambda: treewalk.create_vtk_dataset_from_kelm_entities([model]))
    grid = grid_bytes(root)
    loadscribe.macro = "" if recording else None
    mapped = stages.run("map", lambda: fieldferry.map_scalar_field_to_mesh(
        "Pressure", method, source, root, True, tolerance))
    unmapped = sum(fieldferry.last_unmapped_counts.values())
    stages.run("load", lambda: load(mapped, tolerance))
    row = {"seconds": stages.seconds, "total": sum(stages.seconds.values()), "grid": grid,
           "peak": {s: a / grid for s, a in stages.added.items()},
           "road peak": max(0, stages.highest - stages.start) / grid, "unmapped": unmapped}
    return row, outer_values(mapped, n)


def nearest_floor(cloud_xyz, nodes, n, repeat=3, sample=5000):
    """Best seconds of a cKDTree build over the cloud, of one nearest-point query per node on
    the cube's faces, of the unbounded queries of the blocks' inner faces' nodes (every k-th of
    them, about `sample`, scaled to their count) and of all those queries bounded by the
    tolerance. The floor counts the bounded ones: a node beyond the tolerance is left out of the
    load whatever value it gets, and from inside a closed cloud an unbounded query costs up to
    milliseconds (the search ball of a point 0.1-0.5 m from every face meets many of the tree's
    boxes), which would measure the tree's pruning rather than the work the road needs and make
    any map look near its floor. The sample keeps that figure from eating the case's budget;
    every k-th node, not a random choice, because successive queries of neighbouring nodes share
    the tree's cached paths, as the whole set's do."""
    import scipy.spatial
    outer, _ = on_cube_faces(nodes, n)
    inner = nodes[~outer]
    picked = inner[::max(1, len(inner) // sample)]
    scale = len(inner) / max(len(picked), 1)
    best = [float("inf")] * 4
    for _ in range(repeat):
        t = [time.perf_counter()]
        tree = scipy.spatial.cKDTree(cloud_xyz)
        t.append(time.perf_counter())
        tree.query(nodes[outer], k=1, workers=1)
        t.append(time.perf_counter())
        tree.query(picked, k=1, workers=1)
        t.append(time.perf_counter())
        tree.query(inner, k=1, workers=1, distance_upper_bound=2.0 / n)
        t.append(time.perf_counter())
        seconds = [t[1] - t[0], t[2] - t[1], (t[3] - t[2]) * scale, t[4] - t[3]]
        best = [min(b, s) for b, s in zip(best, seconds)]
        if t[-1] - t[0] > 5:
            break
    return best, int(outer.sum()), len(inner), len(picked)


def diagnostics_bytes(since):
    """Bytes of the diagnostic files the mapping wrote (modified since `since`)."""
    folder = fieldferry.diagnostics_dir
    if folder is None:
        return 0
    return sum(p.stat().st_size for p in Path(folder).iterdir() if p.is_file()
               and p.stem in DIAGNOSTIC_FILES and p.stat().st_mtime >= since)


def child(job, size, blocks, method_index, recording, out_dir):
    """One process: the floor of a case ("floor") or one road run ("road"); records are appended
    to the case's JSON-lines file as they are made, so the parent keeps what a timeout cut off."""
    if not settings()["diagnostics"]:
        fieldferry.diagnostics_dir = None
    tag = f"{size}_{blocks ** 3}"
    records = open(os.path.join(out_dir, f"case_{tag}.jsonl"), "a")

    def record(**fields):
        records.write(json.dumps(fields) + "\n")
        records.flush()

    t0 = time.perf_counter()
    n, model, bodies, surface_nodes, cloud, surface = build_case(size, blocks)
    if job == "floor":
        record(kind="case", n=n, elements=n ** 3, cloud=cloud.GetNumberOfPoints(),
               surface_points=surface.GetNumberOfPoints(), triangles=surface.GetNumberOfCells(),
               build=time.perf_counter() - t0, diagnostics_dir=fieldferry.diagnostics_dir)
        seconds, outer, inner, sampled = nearest_floor(
            ns.vtk_to_numpy(cloud.GetPoints().GetData()), surface_nodes, n)
        record(kind="floor", seconds=seconds, outer=outer, inner=inner, sampled=sampled)
        return
    method = ALL_METHODS[method_index]
    source = surface if method == "Surface projection" else cloud
    del bodies, surface_nodes
    gc.collect()
    # Building leaves freed memory that the allocator keeps resident; a stage reusing it would
    # seem to add nothing. Handed back, the stages' peaks are what they allocate.
    ctypes.CDLL(None).malloc_trim(0)
    since = time.time()
    row, (keys, values) = road(record, model, n, source, method, recording)
    record(kind="row", method=method, recording=recording, diagnostics=diagnostics_bytes(since),
           **row)
    np.savez(os.path.join(out_dir, f"outer_{tag}_{method_index}_{int(recording)}.npz"),
             keys=keys, values=values)


# ---------------------------------------------------------------- the parent: cases and table

def read_records(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def label(size):
    return f"{size / 1e6:g}M"


def compare_outer(out_dir, size, method_index):
    """(mismatches, values compared, largest difference) of the 8 bodies' outer values against
    the 1 body's, from runs with the same recording setting; None when there are none."""
    for recording in (0, 1):
        paths = [os.path.join(out_dir, f"outer_{size}_{b}_{method_index}_{recording}.npz")
                 for b in (1, 8)]
        if all(os.path.exists(p) for p in paths):
            break
    else:
        return None
    one, eight = (np.load(p) for p in paths)
    order = np.argsort(one["keys"])
    keys, values = one["keys"][order], one["values"][order]
    slot = np.minimum(np.searchsorted(keys, eight["keys"]), len(keys) - 1)
    found = keys[slot] == eight["keys"]
    difference = np.abs(values[slot] - eight["values"])
    scale = max(np.abs(values).max(initial=0.0), 1.0)
    mismatches = int((~found).sum() + (found & (difference > 1e-6 * scale)).sum())
    return mismatches, len(eight["keys"]), float(difference[found].max(initial=0.0))


HEADER = (f"{'size':>5s} {'bodies':>6s} {'method':20s} {'rec':>3s} {'export s':>8s} "
          f"{'map s':>8s} {'load s':>7s} {'total s':>8s} {'map/floor':>9s} {'8b/1b':>6s} "
          f"{'peak/grid: export':>17s} {'map':>5s} {'load':>5s} {'road':>5s} {'unmapped':>8s}")


def table_row(size, bodies, row, floor, single):
    s, p = row["seconds"], row["peak"]
    ratio = f"{row['total'] / single['total']:6.2f}" if single else f"{'':6s}"
    over_floor = f"{s['map'] / floor:9.1f}" if floor else f"{'-':>9s}"
    return (f"{label(size):>5s} {bodies:6d} {row['method']:20s} "
            f"{'on' if row['recording'] else 'off':>3s} {s['export']:8.3f} {s['map']:8.2f} "
            f"{s['load']:7.3f} {row['total']:8.2f} {over_floor} {ratio} "
            f"{p['export']:17.2f} {p['map']:5.2f} {p['load']:5.2f} {row['road peak']:5.2f} "
            f"{row['unmapped']:8d}")


class Case:
    """One (size, bodies) case: its processes one after the other within the case's budget."""

    def __init__(self, size, bodies, out_dir, config):
        self.size, self.bodies, self.out_dir, self.config = size, bodies, out_dir, config
        self.path = os.path.join(out_dir, f"case_{size}_{bodies}.jsonl")
        self.deadline = time.perf_counter() + config["timeout"]

    def spawn(self, job, processes_left, method_index=0, recording=False):
        """Runs one child within its share of the budget left: None, or why it stopped."""
        share = max(0.0, (self.deadline - time.perf_counter()) / processes_left)
        command = [sys.executable, os.path.abspath(__file__), "--child", job, str(self.size),
                   str({1: 1, 8: 2}[self.bodies]), str(method_index), str(int(recording)),
                   self.out_dir]
        before = len(read_records(self.path))
        process = subprocess.Popen(command)
        t0 = time.perf_counter()
        try:
            code = process.wait(timeout=share)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            new = read_records(self.path)[before:]
            stages = [r["stage"] for r in new if r["kind"] == "stage"] or ["build"]
            at = stages[-1] if job == "road" else "floor"
            return f"timeout in the {at} after {time.perf_counter() - t0:.0f} s", at
        return (None, None) if code == 0 else (f"failed (exit status {code})", None)


def run_case(case, singles, floors, notes):
    """Runs a case's floor and roads; returns its table lines."""
    config, lines = case.config, []
    runs = [(m, r) for m in config["methods"] for r in config["recording"]]
    why, _ = case.spawn("floor", len(runs) + 1)
    records = read_records(case.path)
    info = next((r for r in records if r["kind"] == "case"), None)
    floor = next((r for r in records if r["kind"] == "floor"), None)
    # The inner faces' nodes count with their query bounded by the tolerance (see nearest_floor).
    floor_s = sum(floor["seconds"][i] for i in (0, 1, 3)) if floor else None
    if info:
        floors.append(
            f"{label(case.size):>5s} {case.bodies:6d}  {info['elements']:,} Hexa8 (n = "
            f"{info['n']}); cloud {info['cloud']:,} points; surface {info['surface_points']:,} "
            f"points, {info['triangles']:,} triangles; built in {info['build']:.1f} s; floor "
            + (f"{floor_s:.3f} s: cKDTree build {floor['seconds'][0]:.3f} s, {floor['outer']:,} "
               f"queries on the cube's faces {floor['seconds'][1]:.3f} s" if floor else why)
            + (f", {floor['inner']:,} on inner faces bounded by the tolerance "
               f"{floor['seconds'][3]:.3f} s (unbounded {floor['seconds'][2]:.3f} s, from "
               f"{floor['sampled']:,} of them)" if floor and floor["inner"] else ""))
    map_timed_out, diagnostics = set(), {}
    for left, (method, recording) in zip(range(len(runs), 0, -1), runs):
        rec = "on" if recording else "off"
        if method in map_timed_out:
            lines.append(f"{label(case.size):>5s} {case.bodies:6d} {method:20s} {rec:>3s} "
                         f"timeout (not run: the map timed out with the other recording)")
            print(lines[-1], flush=True)
            continue
        before = len(read_records(case.path))
        why, at = case.spawn("road", left, ALL_METHODS.index(method), recording)
        row = next((r for r in read_records(case.path)[before:] if r["kind"] == "row"), None)
        if row is None:
            if at in ("build", "export", "map"):
                map_timed_out.add(method)
            lines.append(f"{label(case.size):>5s} {case.bodies:6d} {method:20s} {rec:>3s} {why}")
        else:
            if case.bodies == 1:
                singles[(method, recording)] = row
            lines.append(table_row(case.size, case.bodies, row, floor_s,
                                   singles.get((method, recording)) if case.bodies != 1 else None))
            if row["diagnostics"]:
                diagnostics[method] = row["diagnostics"]
        print(lines[-1], flush=True)
    if diagnostics:
        bodies = "1 body" if case.bodies == 1 else f"{case.bodies} bodies"
        notes.append(f"{label(case.size)}, {bodies}: the two diagnostic files each mapping wrote "
                     f"into {info['diagnostics_dir']}: " + ", ".join(
                         f"{m} {mib(b):.0f} MiB" for m, b in diagnostics.items()))
    return lines


def main():
    config = settings()
    diagnostics = (f"{fieldferry.diagnostics_dir!r} (as shipped)" if config["diagnostics"]
                   else "None")
    print(f"sizes {', '.join(label(s) for s in config['sizes'])}; bodies "
          f"{', '.join(map(str, config['bodies']))}; methods {', '.join(config['methods'])}; "
          f"recording {', '.join('on' if r else 'off' for r in config['recording'])}; "
          f"{config['timeout']:g} s per case; fieldferry.diagnostics_dir {diagnostics}", flush=True)
    lines, floors, notes = [], [], []
    with tempfile.TemporaryDirectory(prefix="bench_scale_") as out_dir:
        for size in config["sizes"]:
            singles = {}
            for bodies in config["bodies"]:
                lines += run_case(Case(size, bodies, out_dir, config), singles, floors, notes)
            if set(config["bodies"]) == {1, 8}:
                for method in config["methods"]:
                    result = compare_outer(out_dir, size, ALL_METHODS.index(method))
                    if result is not None:
                        notes.append(f"{label(size)}, 8 bodies against 1 body, {method}: "
                                     f"{result[0]} of {result[1]:,} outer node values differ "
                                     f"(largest difference {result[2]:.3g} Pa)")
    print(f"\n{HEADER}\n" + "\n".join(lines))
    print("\nfloor per case (cKDTree, one thread):\n" + "\n".join(floors))
    if notes:
        print("\n" + "\n".join(notes))
    print(f"\ntargets at 10M elements (not asserted): {TARGETS}")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        job, size, blocks, method_index, recording, out_dir = sys.argv[2:8]
        child(job, int(size), int(blocks), int(method_index), recording == "1", out_dir)
    else:
        main()
