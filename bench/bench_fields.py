"""Several fields in one mapping: "Pressure" and "Temperature" of a 1,000,000-point cloud onto
the surface of the 1,000,000-element hexahedral body of bench_fieldferry, for each method that
reads a source's points or cells, mapped once with more_fields against one field alone and
against two separate calls. Seconds (best of two) and the ratio of the two-field call to the
one-field call (target: at most 1.2).

Environment: FERRY_BENCH_CELLS (default 100 -> 100^3 elements), as for bench_fieldferry.
"""
import numpy as np

import fieldferry
from bench_fieldferry import CELLS, hex_body, model_of, point_cloud
from floor import measure

fieldferry.diagnostics_dir = None

body = hex_body(CELLS)
cloud = point_cloud(np.random.default_rng(1).random(((CELLS + 1) ** 3, 3)))


def mapped(method, field, more=()):
    def run():
        return fieldferry.map_scalar_field_to_mesh(field, method, cloud, model_of(body), True,
                                                   None, more_fields=list(more))
    return run


print(f"{CELLS ** 3:,} hexahedra, {cloud.GetNumberOfPoints():,} source points, onto the surface")
for method in ("Point cloud or mesh", "Linear fit", "Coarse to fine"):
    one, _, _ = measure(mapped(method, "Pressure"), repeat=2)
    both, _, _ = measure(mapped(method, "Pressure", ["Temperature"]), repeat=2)
    print(f"{method:22s} one field {one:6.2f} s   two fields in one call {both:6.2f} s "
          f"({both / one:.2f}x one field)   two calls {2 * one:6.2f} s")
