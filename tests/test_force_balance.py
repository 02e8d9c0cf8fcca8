"""The force balance tells the truth: the force on the structure, in newtons, the same on the
source's side and the load's when the load is right, turned round when a shell's normals face away
from the fluid, and flagged when the two differ by more than 2 % or 5 degrees.

Flat plates and a closed box, in mm, under a pressure linear in position (kPa), so that every
force and moment is known in closed form; mapped with "Surface projection", which carries a
linear field exactly.
"""
import json
import sys
from pathlib import Path

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import fieldferry
import kelm
import loadscribe
import treewalk

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "tools"), str(ROOT / "cfdsource" / "tests")]
from case_writers import L_SHAPE, NOTCH, flat_polygons, plane, write_xml  # noqa: E402
import force_balance  # noqa: E402
from mapping_report import mapping_report, report_table, source_areas  # noqa: E402

T = kelm.mesh.ElementTopology
METHOD = "Surface projection"
P0, GX, GY = 100.0, 0.1, 0.05  # p = P0 + GX x + GY y in kPa, x and y in mm


def pressure(xyz):
    return P0 + GX * xyz[:, 0] + GY * xyz[:, 1]


def labelled(poly, values, length_unit="mm", unit="kPa", on_cells=False):
    array = ns.numpy_to_vtk(np.asarray(values, np.float64), deep=1)
    array.SetName("Pressure")
    (poly.GetCellData() if on_cells else poly.GetPointData()).AddArray(array)
    for name, value in (("current_units_length", length_unit), ("units_pressure", unit)):
        label = vtk.vtkStringArray()
        label.SetName(name)
        label.InsertNextValue(value)
        poly.GetFieldData().AddArray(label)
    return poly


def plate_source():
    """A CFD wall at z = 0 whose normals point up (+z): the fluid lies below and pushes the
    plates up. It reaches beyond the plates, which take only the part over them."""
    poly = plane((-100, -100, 0), (1100, -100, 0), (-100, 1600, 0), (24, 34))
    return labelled(poly, pressure(ns.vtk_to_numpy(poly.GetPoints().GetData())))


def add_plate(part, name, y0, normal_up, n=(10, 5), checkered=False):
    """A 1000 x 500 mm Quad4 plate at z = 0 from y = y0, element normals +z or -z (`checkered`:
    every other quadrilateral turned round, as a CAD-derived shell mesh may come)."""
    nx, ny = n
    xs, ys = np.linspace(0, 1000, nx + 1), np.linspace(y0, y0 + 500, ny + 1)
    xyz = np.array([(x, y, 0.0) for y in ys for x in xs]) / 1000.0
    quads = [[i + (nx + 1) * j, i + 1 + (nx + 1) * j, i + 1 + (nx + 1) * (j + 1),
              i + (nx + 1) * (j + 1)] for j in range(ny) for i in range(nx)]
    up = [normal_up != (checkered and (k + k // nx) % 2 == 1) for k in range(len(quads))]
    quads = [q if u else q[::-1] for q, u in zip(quads, up)]
    return part.add_mesh(name, np.arange(1, len(xyz) + 1), xyz,
                         {T.Quad4: (np.arange(1, len(quads) + 1), quads)})


def plate_force(y0):
    """(force z in N, moment (x, y) in N m) of p over the plate [0, 1000] x [y0, y0 + 500] mm
    pushing along +z: F = int p dA, M = int (y p, -x p) dA."""
    a, b0, b1 = 1000.0, y0, y0 + 500.0
    dy, dy2, dy3 = b1 - b0, (b1 ** 2 - b0 ** 2) / 2, (b1 ** 3 - b0 ** 3) / 3
    force = P0 * a * dy + GX * a ** 2 / 2 * dy + GY * a * dy2          # kPa mm^2
    m_x = P0 * a * dy2 + GX * a ** 2 / 2 * dy2 + GY * a * dy3          # kPa mm^3
    m_y = -(P0 * a ** 2 / 2 * dy + GX * a ** 3 / 3 * dy + GY * a ** 2 / 2 * dy2)
    return force * 1e-3, (m_x * 1e-6, m_y * 1e-6)  # kPa mm^2 = 1e-3 N, kPa mm^3 = 1e-6 N m


def add_box(part, name, topology, n=(4, 2, 2), size=(200.0, 100.0, 50.0)):
    """A solid box of Hexa8 elements, or Tetra4 (six per hexahedron), size in mm."""
    nx, ny, nz = n
    grid = np.stack(np.meshgrid(*(np.linspace(0, s, k + 1) for s, k in zip(size, n)),
                                indexing="ij"), -1)
    index = np.arange(grid[..., 0].size).reshape(grid.shape[:3])
    xyz = grid.reshape(-1, 3) / 1000.0
    hexes = [[index[i, j, k], index[i + 1, j, k], index[i + 1, j + 1, k], index[i, j + 1, k],
              index[i, j, k + 1], index[i + 1, j, k + 1], index[i + 1, j + 1, k + 1],
              index[i, j + 1, k + 1]]
             for i in range(nx) for j in range(ny) for k in range(nz)]
    rows = hexes
    if topology == T.Tetra4:  # six tetrahedra around the diagonal 0-6, each turned positive
        rows = []
        for h in hexes:
            for a, b in ((1, 2), (2, 3), (3, 7), (7, 4), (4, 5), (5, 1)):
                tet = [h[0], h[a], h[b], h[6]]
                e = xyz[tet[1:]] - xyz[tet[0]]
                rows.append(tet if np.linalg.det(e) > 0 else [tet[0], tet[2], tet[1], tet[3]])
    return part.add_mesh(name, np.arange(1, len(xyz) + 1), xyz,
                         {topology: (np.arange(1, len(rows) + 1), rows)})


def box_source(size=(200.0, 100.0, 50.0), even=False):
    """The box's wall as the CFD of a flow around it sees it: normals out of the fluid, into
    the box; the linear pressure, or an even 100 kPa."""
    cube = vtk.vtkCubeSource()
    cube.SetBounds(0, size[0], 0, size[1], 0, size[2])
    clean = vtk.vtkCleanPolyData()
    clean.SetInputConnection(cube.GetOutputPort())
    turn = vtk.vtkReverseSense()
    turn.SetInputConnection(clean.GetOutputPort())
    turn.ReverseCellsOn()
    turn.Update()
    poly = vtk.vtkPolyData()
    poly.DeepCopy(turn.GetOutput())
    poly.GetPointData().Initialize()
    xyz = ns.vtk_to_numpy(poly.GetPoints().GetData())
    return labelled(poly, np.full(len(xyz), P0) if even else pressure(xyz))


def mapped_report(build, source, reverse=(), tamper=None, tolerance=None, method=METHOD,
                  unit="kPa"):
    """Builds a model in mm with `build(part)`, maps `source` onto it, loads it (turning the
    `reverse` bodies) and returns the report, of the load as `tamper` changes it if given."""
    kelm.reset()
    kelm.setApplicationUnitSystem("mm-kg-s-mN-K")
    model = kelm.Model("M")
    build(model.add_part("P"))
    exported = treewalk.create_vtk_dataset_from_kelm_entities([model])
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", method, source, exported, True,
                                                 tolerance)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", tolerance, reverse=reverse)
    loaded = loadscribe.last_loaded_fields
    return mapping_report(mapped, source, "Pressure", method, tolerance, unit,
                          loaded=tamper(loaded) if tamper else loaded)


def points_only(poly):
    """The points of `poly` with their values, no cells: a point cloud."""
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(poly.GetPoints())
    cloud.GetPointData().ShallowCopy(poly.GetPointData())
    cloud.GetFieldData().ShallowCopy(poly.GetFieldData())
    return cloud


def balances(report):
    return {b["body"]: b["balance"] for b in report["bodies"] if "balance" in b}


def build_plates(part):
    add_plate(part, "Away", 0.0, normal_up=True)      # normals away from the fluid
    add_plate(part, "Toward", 1000.0, normal_up=False)  # normals toward it


class TestShellPlates:
    def test_forces_in_newtons_and_the_plate_facing_away_from_a_cloud_is_turned_round(self):
        # A point cloud cannot tell the fluid's side: the load follows the element normals.
        report = mapped_report(build_plates, points_only(plate_source()), method="Linear fit")
        force = report["force"]
        assert (force["unit"], force["moment_unit"]) == ("N", "N m")
        by_body = balances(report)
        for name, y0 in (("M/P/Away", 0.0), ("M/P/Toward", 1000.0)):
            fz, (mx, my) = plate_force(y0)
            entry = by_body[name]
            # The plate facing away from the fluid pushes it down: the force turned round.
            sign = -1 if name == "M/P/Away" else 1
            assert entry["loaded"] == pytest.approx([0, 0, sign * fz], abs=1e-6 * fz)
            assert entry["loaded_moment"] == pytest.approx([sign * mx, sign * my, 0],
                                                           abs=1e-6 * fz)
            assert entry["source"] is None and entry["check"] == "n/a"

    def test_a_source_with_faces_loads_both_plates_the_way_the_fluid_pushes(self):
        report = mapped_report(build_plates, plate_source())
        by_body = balances(report)
        for name, y0 in (("M/P/Away", 0.0), ("M/P/Toward", 1000.0)):
            fz = plate_force(y0)[0]
            assert by_body[name]["source"] == pytest.approx([0, 0, fz], abs=1e-6 * fz)
            assert by_body[name]["loaded"] == pytest.approx([0, 0, fz], abs=1e-6 * fz)
            assert by_body[name]["check"] == "ok"
        sides = {b["body"]: b["sides"] for b in report["bodies"]}
        assert sides["M/P/Away"] == {"front": 0, "behind": 50, "both": 0}
        assert sides["M/P/Toward"] == {"front": 50, "behind": 0, "both": 0}
        # The source reaches 100 mm beyond the plates on every side: those faces are nobody's.
        force = report["force"]
        assert force["source_surface"][2] > force["source"][2] > 0
        assert force["uncovered_source_faces"] > 0 and force["warnings"] == []
        with pytest.raises(ValueError, match="whose side comes from the source"):
            mapped_report(build_plates, plate_source(), reverse=["M/P/Away"])

    def test_reverse_turns_the_plate_facing_away_and_the_recording_with_it(self):
        loadscribe.macro = ""
        report = mapped_report(build_plates, points_only(plate_source()), reverse=["M/P/Away"],
                               method="Linear fit")
        fz = plate_force(0.0)[0]
        assert balances(report)["M/P/Away"]["loaded"] == pytest.approx([0, 0, fz], abs=1e-6 * fz)
        away = loadscribe.last_loaded_fields["M/P/Away"]["pressures"]
        assert max(max(row) for row in away) < 0  # the pressures handed over are negated
        assert str(away[0]) in loadscribe.macro
        loadscribe.macro = None


def sheet(z, value, facing_up):
    """A CFD wall over the 1000 x 500 mm plate at height z (mm), its normals up or down, with
    the face value `value` (Pa)."""
    corner, along_x, along_y = (0, 0, z), (1000, 0, z), (0, 500, z)
    poly = (plane(corner, along_x, along_y, (10, 5)) if facing_up else
            plane(corner, along_y, along_x, (5, 10)))
    return poly, np.full(poly.GetNumberOfCells(), float(value))


def wetted(*sheets):
    """The sheets as one source with face values in Pa."""
    append = vtk.vtkAppendPolyData()
    for poly, _ in sheets:
        append.AddInputData(poly)
    append.Update()
    values = np.concatenate([v for _, v in sheets])
    return labelled(append.GetOutput(), values, unit="Pa", on_cells=True)


class TestShellSides:
    """A mid-surface shell of a 10 mm plate takes the pressure of the side the fluid is on: the
    net pressure where it wets both sides, whichever way each element normal points."""
    METHODS = ["Face average", "Surface projection", "Point cloud or mesh"]

    @pytest.mark.parametrize("method", METHODS)
    @pytest.mark.parametrize("normal_up", [True, False])
    def test_a_plate_wetted_on_both_sides_takes_the_net_pressure(self, method, normal_up):
        # 100 Pa above (the wall at z = 5 mm, its normal down, out of the fluid), 20 Pa below.
        source = wetted(sheet(5.0, 100.0, facing_up=False), sheet(-5.0, 20.0, facing_up=True))
        report = mapped_report(lambda part: add_plate(part, "Plate", 0.0, normal_up), source,
                               tolerance=8.0, method=method, unit="Pa")
        pressures = np.array(loadscribe.last_loaded_fields["M/P/Plate"]["pressures"])
        assert pressures.shape == (50, 4)
        assert np.all(pressures == (80.0 if normal_up else -80.0))
        (entry,) = balances(report).values()
        assert entry["loaded"] == pytest.approx([0, 0, -40.0], abs=1e-9)
        assert entry["source"] == pytest.approx([0, 0, -40.0], abs=1e-9)
        assert entry["check"] == "ok"
        assert report["bodies"][0]["sides"] == {"front": 0, "behind": 0, "both": 50}

    @pytest.mark.parametrize("method", ["Face average", "Surface projection"])
    def test_turned_elements_carry_the_force_of_the_plate_meshed_one_way(self, method):
        # Fluid above only, 50 to 150 Pa along x (point values): 50 N down on the plate.
        poly = plane((0, 0, 5.0), (0, 500, 5.0), (1000, 0, 5.0), (7, 13))
        x = ns.vtk_to_numpy(poly.GetPoints().GetData())[:, 0]
        source = labelled(poly, 50.0 + 0.1 * x, unit="Pa")
        one_way, mixed = (mapped_report(
            lambda part: add_plate(part, "Plate", 0.0, True, checkered=checkered), source,
            method=method, unit="Pa") for checkered in (False, True))
        (one,), (mix,) = (list(balances(r).values()) for r in (one_way, mixed))
        assert one["source"] == pytest.approx([0, 0, -50.0], rel=1e-6)
        assert one["loaded"] == pytest.approx([0, 0, -50.0], rel=1e-6)
        assert mix["loaded"] == pytest.approx(one["loaded"], abs=1e-9)
        assert one["check"] == mix["check"] == "ok"
        assert mixed["bodies"][0]["sides"] == {"front": 25, "behind": 25, "both": 0}


class TestSolidBox:
    @pytest.mark.parametrize("topology", [T.Hexa8, T.Tetra4])
    def test_solid_faces_push_inward_like_the_fluid(self, topology):
        report = mapped_report(lambda part: add_box(part, "Box", topology), box_source())
        # F = -grad p V: (0.1, 0.05) kPa/mm over a 200 x 100 x 50 mm box, (-100, -50, 0) N.
        (entry,) = balances(report).values()
        assert entry["source"] == pytest.approx([-100.0, -50.0, 0], abs=1e-6)
        assert entry["loaded"] == pytest.approx([-100.0, -50.0, 0], abs=1e-6)
        assert entry["loaded_moment"] == pytest.approx(entry["source_moment"], abs=1e-9)
        assert entry["check"] == "ok" and report["force"]["uncovered_source_faces"] == 0

    def test_an_even_pressure_on_a_closed_box_is_judged_by_direction_only(self):
        # Its net force is nothing but round-off on either side: no ratio or angle means anything.
        report = mapped_report(lambda part: add_box(part, "Box", T.Hexa8), box_source(even=True))
        (entry,) = balances(report).values()
        assert entry["check"] == "not judged" and report["force"]["warnings"] == []
        # The same load pushing the walls into the fluid has a net force as small, yet is wrong.
        def turned(loaded):
            return {path: {**field, "pressures": [[-p for p in face] for face in field["pressures"]]}
                    for path, field in loaded.items()}
        report = mapped_report(lambda part: add_box(part, "Box", T.Hexa8), box_source(even=True),
                               tamper=turned)
        (entry,) = balances(report).values()
        assert entry["check"] == "opposite" and len(report["force"]["warnings"]) == 2

    @pytest.mark.parametrize("error, check", [(("size", 1.01), "ok"), (("size", 1.03), "differs"),
                                              (("size", 0.0), "differs"),
                                              (("tilt", 3.0), "ok"), (("tilt", 8.0), "differs")])
    def test_a_load_off_by_more_than_2_percent_or_5_degrees_is_flagged(self, error, check):
        def wrong(loaded):
            (field,) = loaded.values()
            kind, amount = error
            if kind == "size":
                field["pressures"] = [[amount * p for p in row] for row in field["pressures"]]
            else:  # a pressure added on the top (z = 50 mm) pushes the box down, across F
                extra = np.hypot(100, 50) * np.tan(np.radians(amount)) / 20.0  # 20 N per kPa
                field["pressures"] = [
                    [p + extra for p in row] if all((n - 1) % 3 == 2 for n in nodes) else row
                    for nodes, row in zip(field["face_identifiers"], field["pressures"])]
            return loaded

        report = mapped_report(lambda part: add_box(part, "Box", T.Hexa8), box_source(),
                               tamper=wrong)
        (entry,) = balances(report).values()
        assert entry["check"] == check
        if check == "differs":
            assert report["force"]["warnings"][0].startswith(
                "Warning: body 'M/P/Box': loaded force ")
            assert " N differs from the source's 111.8 N by " in report["force"]["warnings"][0]


class TestFacesThatAreNotConvex:
    @pytest.mark.parametrize("turned", range(4))
    def test_an_arrowhead_face_is_loaded_over_its_own_area(self, turned):
        # An arrowhead quadrilateral of area 1.7, normal +z, bent in at its corner (1, 0.3), its
        # row starting at each corner in turn: a fan from the first corner strays out of it
        # when the bent corner is the second or the fourth.
        xyz = np.array([(0, 0, 0), (1, 0.3, 0), (2, 0, 0), (1, 2, 0)], float)
        leaf = vtk.vtkPolyData()
        leaf.SetPoints(vtk.vtkPoints())
        leaf.GetPoints().SetData(ns.numpy_to_vtk(xyz, deep=1))
        ids = ns.numpy_to_vtk(np.array([10, 20, 30, 40], np.int64), deep=1)
        ids.SetName("Node ID")
        leaf.GetPointData().AddArray(ids)
        row = np.roll([10, 20, 30, 40], -turned).tolist()
        triangles = force_balance.loaded_triangles(
            leaf, {"face_identifiers": [row], "pressures": [[5.0] * 4]})
        assert (triangles.a[:, 2] > 0).all()
        force, _, gross = triangles.force(-1.0)
        assert force == pytest.approx([0, 0, -5.0 * 1.7], abs=1e-12)
        assert gross == pytest.approx(5.0 * 1.7, rel=1e-12)

    def test_a_source_l_shape_is_weighed_by_its_own_area(self):
        source = labelled(flat_polygons(L_SHAPE, NOTCH), [1.0, 2.0], on_cells=True)
        values, areas = source_areas(source, "Pressure")
        assert areas.tolist() == pytest.approx([3.0, 1.0], rel=1e-12)
        assert force_balance.source_triangles(source, "Pressure").force(1.0)[0] == pytest.approx(
            [0, 0, 3.0 * 1.0 + 1.0 * 2.0], rel=1e-12)


def plate_files(folder, wall, method=METHOD):
    """The "Away" plate as a mesh file in mm (its quadrilaterals' normals +z) and `wall` as the
    source, with the kelm-map options that read them."""
    grid = vtk.vtkUnstructuredGrid()
    plate = plane((0, 0, 0), (1000, 0, 0), (0, 500, 0), (10, 5))
    grid.SetPoints(plate.GetPoints())
    grid.SetCells(vtk.VTK_QUAD, plate.GetPolys())
    return [write_xml(folder / "plate.vtu", grid), write_xml(folder / "wall.vtp", wall),
            "--mesh-unit", "mm", "--source-unit", "mm", "--field-unit", "kPa", "--method",
            method, "--no-pictures", "--quiet"]


def standing_box_source(with_ground=True):
    """The box's walls and roof (no bottom: it stands on the ground) with the ground around it,
    whose normals point down, out of the fluid: the CFD of a building on the ground."""
    walls = box_source()
    bottom = [c for c in range(walls.GetNumberOfCells())
              if np.allclose(ns.vtk_to_numpy(walls.GetCell(c).GetPoints().GetData())[:, 2], 0)]
    ground = plane((-100, -100, 0), (-100, 200, 0), (300, -100, 0), (6, 8))
    centres = vtk.vtkCellCenters()
    centres.SetInputData(ground)
    centres.Update()
    c = ns.vtk_to_numpy(centres.GetOutput().GetPoints().GetData())
    under = np.flatnonzero((c[:, 0] > 0) & (c[:, 0] < 200) & (c[:, 1] > 0) & (c[:, 1] < 100))
    both = vtk.vtkAppendPolyData()
    for part, dropped in ((walls, bottom), (ground, under))[:2 if with_ground else 1]:
        part.BuildCells()
        for cell in dropped:
            part.DeleteCell(cell)
        part.RemoveDeletedCells()
        part.GetPointData().Initialize()
        both.AddInputData(part)
    both.Update()
    xyz = ns.vtk_to_numpy(both.GetOutput().GetPoints().GetData())
    return labelled(both.GetOutput(), pressure(xyz))


class TestSourceFacesOfABody:
    """A body's source force is that of the wetted source faces over its surface, whatever the
    mapping loaded, and not that of the ground beside it."""

    def box_report(self, tamper=None):
        return mapped_report(lambda part: add_box(part, "Box", T.Hexa8), standing_box_source(),
                             tolerance=30.0, tamper=tamper)

    def test_ground_beside_a_building_is_not_the_buildings(self):
        (entry,) = balances(self.box_report()).values()
        # The linear pressure on the walls and roof: -grad p V sideways, P0 + ... on the roof.
        roof = -(P0 + GX * 100 + GY * 50) * 200 * 100 / 1000.0
        assert entry["source"] == pytest.approx([-100.0, -50.0, roof], abs=1e-6)

    def test_the_bottom_of_a_building_is_dry(self):
        # The CFD's walls lean out by a degree (two meshings of one wall are seldom parallel):
        # beside the bottom's faces they turn their normals a little against the bottom's.
        source = standing_box_source(with_ground=False)
        xyz = ns.vtk_to_numpy(source.GetPoints().GetData())
        xyz[:, :2] += (xyz[:, :2] - [100.0, 50.0]) * xyz[:, 2:] * np.tan(np.radians(1.0)) / 50.0
        report = mapped_report(lambda part: add_box(part, "Box", T.Hexa8), source, tolerance=60.0)
        (box,) = report["bodies"]
        assert (box["faces_loaded"], box["facing_away"]) == (32, 8)

    def test_the_bottom_of_a_building_meshed_as_a_shell_is_dry(self):
        # Its bottom faces lie within reach of the walls' source faces, edge-on to them: no side
        # of the bottom is wetted, and the shell carries the walls' and the roof's force alone.
        def add_skin(part, name):
            grid = part.add_mesh  # the box's outer quadrilaterals, one shell body
            n, size = (4, 2, 2), (200.0, 100.0, 50.0)
            xyz = np.stack(np.meshgrid(*(np.linspace(0, s, k + 1) for s, k in zip(size, n)),
                                       indexing="ij"), -1)
            index = np.arange(xyz[..., 0].size).reshape(xyz.shape[:3])
            quads = []
            for axis in range(3):
                for end in (0, n[axis]):
                    face = np.moveaxis(index, axis, 0)[end]
                    for i in range(face.shape[0] - 1):
                        for j in range(face.shape[1] - 1):
                            quads.append([face[i, j], face[i + 1, j], face[i + 1, j + 1],
                                          face[i, j + 1]])
            return grid(name, np.arange(1, index.size + 1), xyz.reshape(-1, 3) / 1000.0,
                        {T.Quad4: (np.arange(1, len(quads) + 1), quads)})

        report = mapped_report(lambda part: add_skin(part, "Skin"),
                               standing_box_source(with_ground=False), tolerance=60.0,
                               method="Face average")
        (entry,) = balances(report).values()
        assert entry["loaded"] == pytest.approx(entry["source"], abs=1e-6)
        bottom = 4 * 2
        assert sum(report["bodies"][0]["sides"].values()) == 40 - bottom

    def test_faces_the_load_left_out_do_not_change_the_source_force(self):
        def without_roof(loaded):
            (field,) = loaded.values()
            kept = [k for k, nodes in enumerate(field["face_identifiers"])
                    if not all((n - 1) % 3 == 2 for n in nodes)]
            for key in ("face_identifiers", "pressures"):
                field[key] = [field[key][k] for k in kept]
            return loaded

        (whole,) = balances(self.box_report()).values()
        (less,) = balances(self.box_report(tamper=without_roof)).values()
        assert less["source"] == whole["source"] and less["check"] == "differs"


class TestKelmMap:
    def test_reverse_turns_a_plate_under_a_cloud_and_is_refused_with_faces(self, tmp_path):
        from test_demo_and_cli import kelm_map
        common = plate_files(tmp_path, points_only(plate_source()), "Linear fit")
        body = "plate/Part 1/plate"
        run = kelm_map(*common, "--out", tmp_path / "as-meshed")
        assert run.returncode == 0, run.stderr
        report = json.loads((tmp_path / "as-meshed" / "report_pressure.json").read_text())
        assert report["force"]["loaded"] == pytest.approx([0, 0, -81250.0])

        turned = kelm_map(*common, "--reverse", body, "--out", tmp_path / "turned")
        assert turned.returncode == 0, turned.stderr
        assert "Warning" not in turned.stdout
        report = json.loads((tmp_path / "turned" / "report_pressure.json").read_text())
        assert report["force"]["loaded"] == pytest.approx([0, 0, 81250.0])
        assert 'pressures"] = [[-99.99' in (tmp_path / "turned" / "recorded_loads.py").read_text()

        (tmp_path / "faces").mkdir()
        faces = kelm_map(*plate_files(tmp_path / "faces", plate_source()), "--reverse", body,
                         "--out", tmp_path / "faces")
        assert faces.returncode == 1
        assert f"kelm-map: error: --reverse {body}: the side comes from the source" in faces.stderr

        unknown = kelm_map(*common, "--reverse", "plate", "--out", tmp_path / "unknown")
        assert unknown.returncode == 1
        assert (f"kelm-map: error: --reverse plate: no such body; the bodies: '{body}'"
                in unknown.stderr)

    def test_a_pressure_of_0_everywhere_is_mapped_and_not_judged(self, tmp_path):
        from test_demo_and_cli import kelm_map
        wall = plate_source()  # a fluid at rest: a gauge pressure of 0
        wall.GetPointData().GetArray("Pressure").Fill(0.0)
        out = tmp_path / "out"
        run = kelm_map(*plate_files(tmp_path, wall), "--out", out)
        assert run.returncode == 0, run.stderr
        assert "Warning" not in run.stdout and "Warning" not in run.stderr
        report = json.loads((out / "report_pressure.json").read_text())
        assert report["force"]["check"] == report["bodies"][0]["balance"]["check"] == "not judged"
        assert (out / "recorded_loads.py").exists() and (out / "report_pressure.html").exists()
