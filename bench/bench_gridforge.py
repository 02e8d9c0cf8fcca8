"""ugrid_from_mesh at a million elements: a Hexa8 block (about 1.03 million nodes) and a Tetra10
body, with the stand-in host delivering NumPy arrays and, separately, plain lists.

NumPy: time against the floor (copying the same input bytes once into new memory), peak extra
memory against the size of the output dataset. Lists: time against numpy.asarray reading the
same lists.
"""
import time

import numpy as np

import gridforge
import kelm
from floor import copy_floor, measure, mib
from kelm.mesh import ElementTopology as T


def hexa8_block(n=100):
    """n^3 unit hexahedra on a structured (n+1)^3 grid of nodes."""
    axis = np.arange(n + 1, dtype=float)
    x, y, z = np.meshgrid(axis, axis, axis, indexing="ij")
    coords = np.column_stack([x.ravel(), y.ravel(), z.ravel()])
    i, j, k = np.meshgrid(np.arange(n), np.arange(n), np.arange(n), indexing="ij")
    base = ((i * (n + 1) + j) * (n + 1) + k).ravel()
    di, dj = (n + 1) ** 2, n + 1
    conn = np.column_stack([base, base + di, base + di + dj, base + dj,
                            base + 1, base + di + 1, base + di + dj + 1, base + dj + 1])
    return coords, T.Hexa8, conn


def tetra10_body(elements=1_000_000, nodes=1_400_000, seed=7):
    """Tetra10 connectivity at a realistic node count (node positions scattered: only the
    conversion is measured, not the cell shapes)."""
    rng = np.random.default_rng(seed)
    coords = rng.random((nodes, 3))
    conn = rng.integers(0, nodes, size=(elements, 10))
    return coords, T.Tetra10, conn


def run(label, coords, topology, conn):
    n_nodes, n_elements = len(coords), len(conn)
    node_ids = np.arange(1, n_nodes + 1) * 2
    element_ids = np.arange(1, n_elements + 1) * 3
    results = {}
    for as_lists in (False, True):
        kelm.reset()
        model = kelm.Model(label, deliver_as_lists=as_lists)
        body = model.add_part("P").add_mesh("Body", node_ids, coords,
                                            {topology: (element_ids, conn)}, kind="solid")
        host = [body.nodeIDs, body.nodeCoordinates, body.elementIDs[topology],
                body.elementConnectivities[topology]]  # built and cached by the host before timing
        converter = gridforge.gridforge()
        seconds, peak, grid = measure(lambda: converter.ugrid_from_mesh(body))
        out_bytes = grid.GetActualMemorySize() * 1024
        if not as_lists:
            floor = copy_floor(*host)
            print(f"{label:8s} numpy : {seconds:6.3f} s  floor {floor:6.3f} s  ratio "
                  f"{seconds / floor:4.2f}  peak extra {mib(peak):6.1f} MiB  output "
                  f"{mib(out_bytes):6.1f} MiB  ratio {peak / out_bytes:4.2f}")
        else:
            t0 = time.perf_counter()
            for values in host:
                np.asarray(values)
            asarray = time.perf_counter() - t0
            print(f"{label:8s} lists : {seconds:6.3f} s  numpy.asarray {asarray:6.3f} s  ratio "
                  f"{seconds / asarray:4.2f}")
        results[as_lists] = grid.GetNumberOfCells()
        del grid, body, model, host
    assert results[False] == results[True] == n_elements


if __name__ == "__main__":
    run("Hexa8", *hexa8_block())
    run("Tetra10", *tetra10_body())
