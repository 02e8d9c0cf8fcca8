"""What a tolerance adds to a mapping: "Pressure" by "Surface projection" from a triangulated
cube surface (about 200,000 triangles) onto the surface of the 1,000,000-element hexahedral body
of bench_fieldferry, without a tolerance and with one (distances of the surface's points and
cell centres to the source, and the faces that face the source). Seconds, best of two, and the
ratio (target: at most 1.5).

Environment: FERRY_BENCH_CELLS (default 100 -> 100^3 elements), as for bench_fieldferry.
"""
import fieldferry
from bench_fieldferry import CELLS, hex_body, model_of, string_array
from bench_methods import cube_surface, labelled_source, triangulated
from floor import measure

fieldferry.diagnostics_dir = None
body = hex_body(CELLS)
body.GetFieldData().AddArray(string_array("mesh_type", "hexa"))  # a solid: the facing test runs
source = labelled_source(triangulated(*cube_surface(130)))


def mapped(tolerance):
    return lambda: fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source,
                                                       model_of(body), True, tolerance)


without, _, _ = measure(mapped(None), repeat=2)
with_tolerance, _, _ = measure(mapped(0.01), repeat=2)
print(f"{source.GetNumberOfCells():,} triangles onto the surface of {CELLS ** 3:,} hexahedra: "
      f"no tolerance {without:.2f} s, tolerance {with_tolerance:.2f} s "
      f"({with_tolerance / without:.2f}x, target <= 1.5x)")
