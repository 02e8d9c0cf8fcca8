"""loadscribe at scale: a hexahedral plate of 1,000,000 elements (about two million free faces),
a hexahedral cube of 1,000,000 elements with only its 60,000 outer faces loaded, a shell of
1,000,000 quadrilaterals, each with a mapped pressure, and a 1,000,000-node body with a mapped
temperature. create_kelm_load_from_vtk_field is timed with recording off and on. Arguments, if
any, keep only the cases whose names contain one of them (e.g. "cube").

The floor is building the Python lists the property dictionary holds from NumPy arrays with
tolist() (with recording on, plus str() of those lists), measured in the same run. Time spent in
the stand-in host (getNodes / getElements / getElementFaces parsing IDs and making entity objects,
EntityCollection.extend, the property checks) is measured separately and shown apart, since a real
host does that work its own way. The module pauses Python's cyclic collector while it builds the
value lists (they hold only numbers); the floor is also shown with the collector off."""
import functools
import gc
import sys
import time

import numpy as np
import vtk
from vtk.util import numpy_support as ns

import kelm
import loadscribe
from floor import measure, mib

T = kelm.mesh.ElementTopology
N = 1000  # elements per side


def text_array(dataset, name, value):
    array = vtk.vtkStringArray()
    array.SetName(name)
    array.InsertNextValue(value)
    dataset.GetFieldData().AddArray(array)


def surface(path, mesh_type, node_ids, xyz, quads, element_ids, field, values, unit_array, unit):
    poly = vtk.vtkPolyData()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(xyz, deep=1))
    poly.SetPoints(points)
    if quads is not None:
        cells = vtk.vtkCellArray()
        offsets = np.arange(0, 4 * len(quads) + 1, 4, dtype=np.int64)
        cells.SetData(ns.numpy_to_vtkIdTypeArray(offsets, deep=1),
                      ns.numpy_to_vtkIdTypeArray(quads.reshape(-1).astype(np.int64), deep=1))
        poly.SetPolys(cells)
        ids = ns.numpy_to_vtk(element_ids.astype(np.uint32), deep=1)
        ids.SetName("Element ID")
        poly.GetCellData().AddArray(ids)
    # Every point mapped, as the mapping's mask says: the load reads the mask and keeps all.
    valid = np.ones(len(node_ids), np.uint8)
    for name, data in (("Node ID", node_ids.astype(np.uint32)), (field, values),
                       ("vtkValidPointMask", valid)):
        array = ns.numpy_to_vtk(data, deep=1)
        array.SetName(name)
        poly.GetPointData().AddArray(array)
    text_array(poly, "Body pathName", path)
    text_array(poly, "mesh_type", mesh_type)
    text_array(poly, unit_array, unit)
    return poly


def one_leaf(dataset):
    mb = vtk.vtkMultiBlockDataSet()
    mb.SetBlock(0, dataset)
    return mb


def grid_nodes(layers):
    i, j = np.meshgrid(np.arange(N + 1), np.arange(N + 1), indexing="xy")
    xyz = np.concatenate([np.stack([i.ravel(), j.ravel(), np.full(i.size, k)], 1)
                          for k in range(layers)]).astype(np.float64) * 0.001
    return xyz


def quad_rows(offset=0):
    """Node positions of the N x N quadrilaterals of one layer, counter-clockwise."""
    i, j = np.meshgrid(np.arange(N), np.arange(N), indexing="xy")
    n0 = (j * (N + 1) + i).ravel() + offset
    return np.stack([n0, n0 + 1, n0 + N + 2, n0 + N + 1], 1)


def hexa_block(part, name, nx, ny, nz):
    """An nx x ny x nz block of Hexa8 (x fastest) and a mapped leaf of its free faces only:
    bottom (face 0), top (face 1), the four sides (faces 2 to 5, face 5 rotates)."""
    k, j, i = np.meshgrid(np.arange(nz + 1), np.arange(ny + 1), np.arange(nx + 1), indexing="ij")
    xyz = np.stack([i.ravel(), j.ravel(), k.ravel()], 1).astype(np.float64) * 0.001
    node_ids = np.arange(1, len(xyz) + 1) * 2  # IDs that are not positions
    k, j, i = (a.ravel() for a in np.meshgrid(np.arange(nz), np.arange(ny), np.arange(nx),
                                              indexing="ij"))
    n0 = (k * (ny + 1) + j) * (nx + 1) + i
    bottom = np.stack([n0, n0 + 1, n0 + nx + 2, n0 + nx + 1], 1)
    hexa = np.concatenate([bottom, bottom + (nx + 1) * (ny + 1)], 1)
    element_ids = np.arange(1, len(hexa) + 1) * 3
    part.add_mesh(name, node_ids, xyz, {T.Hexa8: (element_ids, hexa)})
    faces = []
    for face, where in ((0, k == 0), (1, k == nz - 1), (2, j == 0), (3, i == nx - 1),
                        (4, j == ny - 1), (5, i == 0)):
        corners = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6),
                   (3, 0, 4, 7)][face]
        faces.append((hexa[where][:, list(corners)], np.nonzero(where)[0]))
    quads = np.concatenate([f for f, _ in faces])
    elements = element_ids[np.concatenate([e for _, e in faces])]
    pressure = (1e5 + 1e3 * xyz[:, 0]).astype(np.float32)
    return one_leaf(surface(f"Bench/P/{name}", "hexa", node_ids, xyz, quads, elements,
                            "Pressure", pressure, "units_pressure", "Pa")), pressure


def build():
    model = kelm.Model("Bench")
    part = model.add_part("P")
    layer = (N + 1) ** 2
    # One layer of N x N Hexa8, every element loaded; and a cube of as many elements with only
    # its skin loaded (60,000 faces), as a wetted surface on a big solid is.
    plate, pressure = hexa_block(part, "Plate", N, N, 1)
    cube, _ = hexa_block(part, "Cube", 100, 100, 100)
    # Shell: N x N Quad4 on one node layer; the same nodes carry the temperature.
    xyz1 = grid_nodes(1)
    shell_ids = np.arange(1, layer + 1) * 2 + 10_000_000
    shell_elements = np.arange(1, N * N + 1) * 3 + 10_000_000
    part.add_mesh("Shell", shell_ids, xyz1, {T.Quad4: (shell_elements, quad_rows())})
    shell = surface("Bench/P/Shell", "quad", shell_ids, xyz1, quad_rows(), shell_elements,
                    "Pressure", pressure[:layer], "units_pressure", "Pa")
    temperature = surface("Bench/P/Shell", "quad", shell_ids, xyz1, None, None, "Temperature",
                          (293.15 + xyz1[:, 0]).astype(np.float32), "units_temperature", "K")
    return {"solid pressure (hexa plate)": (plate, "Pressure"),
            "solid pressure (cube skin)": (cube, "Pressure"),
            "shell pressure (quads)": (one_leaf(shell), "Pressure"),
            "temperature (nodes)": (one_leaf(temperature), "Temperature")}


class HostClock:
    """Adds up the time spent inside the stand-in host's calls."""

    def __init__(self):
        self.seconds = 0.0
        targets = [(kelm.mesh.MeshBody, n) for n in ("getNodes", "getElements", "getElementFaces")]
        targets += [(kelm.EntityCollection, "extend")]
        targets += [(kelm.environment, n) for n in (
            "createTemperaturePropertyStaticVariable", "createLoadTemperature",
            "createPressurePropertyStaticVariable", "createLoadPressure")]
        for owner, name in targets:
            setattr(owner, name, self.wrap(getattr(owner, name)))

    def wrap(self, fn):
        @functools.wraps(fn)
        def timed(*args, **kwargs):
            t0 = time.perf_counter()
            try:
                return fn(*args, **kwargs)
            finally:
                self.seconds += time.perf_counter() - t0
        return timed


class NullOut:
    def write(self, text):
        return len(text)

    def flush(self):
        pass


def floor_of(mesh, field_name, recording):
    """tolist() of the arrays the property dictionary holds (and str() of them when recording)."""
    leaf = mesh.GetBlock(0)
    pd, cd = leaf.GetPointData(), leaf.GetCellData()
    node_ids = ns.vtk_to_numpy(pd.GetArray("Node ID"))
    values = ns.vtk_to_numpy(pd.GetArray(field_name))
    if field_name == "Temperature":
        arrays = [node_ids, values]
    else:
        quads = ns.vtk_to_numpy(leaf.GetPolys().GetConnectivityArray()).reshape(-1, 4)
        arrays = [ns.vtk_to_numpy(cd.GetArray("Element ID")), node_ids[quads], values[quads]]

    def run():
        lists = [a.tolist() for a in arrays]
        if recording:
            for item in lists:
                str(item)
        return lists
    return run


def without_gc(fn):
    def run():
        gc.disable()
        try:
            return fn()
        finally:
            gc.enable()
    return run


def main():
    t0 = time.perf_counter()
    cases = build()
    print(f"built the bodies in {time.perf_counter() - t0:.1f} s", flush=True)
    clock = HostClock()
    print(f"{'case':30s} {'rec':>4s} {'total s':>8s} {'host s':>7s} {'own s':>7s} "
          f"{'floor s':>8s} {'own/floor':>9s} {'total/floor':>11s} {'peak MiB':>9s} "
          f"{'floor s (gc off)':>16s}")
    for name, (mesh, field_name) in cases.items():
        if sys.argv[1:] and not any(word in name for word in sys.argv[1:]):
            continue
        for recording in (False, True):
            best = None
            for _ in range(2):
                kelm.environment.created.clear()
                kelm.call_log.clear()
                loadscribe.macro = "" if recording else None
                clock.seconds = 0.0
                stdout, sys.stdout = sys.stdout, NullOut()
                try:
                    seconds, peak, _ = measure(
                        lambda: loadscribe.create_kelm_load_from_vtk_field(mesh, field_name, None),
                        repeat=1)
                finally:
                    sys.stdout = stdout
                run = (seconds, clock.seconds, peak)
                best = run if best is None or run[0] < best[0] else best
            floor, _, _ = measure(floor_of(mesh, field_name, recording), repeat=2)
            floor_nogc, _, _ = measure(without_gc(floor_of(mesh, field_name, recording)), repeat=2)
            seconds, host, peak = best
            own = seconds - host
            print(f"{name:30s} {'on' if recording else 'off':>4s} {seconds:8.2f} {host:7.2f} "
                  f"{own:7.2f} {floor:8.2f} {own / floor:9.2f} {seconds / floor:11.2f} "
                  f"{mib(peak):9.0f} {floor_nogc:16.2f}", flush=True)
    loadscribe.macro = None


if __name__ == "__main__":
    main()
