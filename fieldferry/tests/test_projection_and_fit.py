"""The two methods that go past nearest-point accuracy: "Surface projection" onto the source's
cells and "Linear fit" over a cloud's nearest points, on gmsh meshes with analytic fields."""
import sys
from pathlib import Path

import numpy as np
import pytest
import vtk

import fieldferry
from kelm.mesh import ElementTopology as T

from ferry_builders import (cloud, gmsh_box_with_hole, gmsh_cylinder_shell, hex_block,
                            hex_block_model, host_model_of, label_source, leaves, plane_surface,
                            point_array, points_of, polydata, with_fields)

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "cfdsource" / "tests"))
from case_writers import ARROWHEAD, flat_polygons  # noqa: E402

MASK = "vtkValidPointMask"
FUNCTIONS = {"Surface projection": "interpolate_scalar_field_using_surface_projection",
             "Linear fit": "interpolate_scalar_field_using_linear_fit",
             "Face average": "interpolate_scalar_field_using_face_average"}


def linear(p):
    return 3.0 * p[:, 0] - 2.0 * p[:, 1] + 0.5 * p[:, 2] + 1.0


def smooth(p):
    return np.sin(4.0 * p[:, 0]) + np.cos(3.0 * p[:, 1]) + 0.5 * p[:, 2] + 2.0


@pytest.fixture(autouse=True)
def no_diagnostic_files(monkeypatch):
    monkeypatch.setattr(fieldferry, "diagnostics_dir", None)


def in_mm(field):
    """The field of points given in mm, for sources in mm mapped onto models in m."""
    return lambda p: field(p / 1000.0)


def map_onto(model, source, method, field="Pressure"):
    fieldferry.map_scalar_field_to_mesh(field, method, source, model, True, None)
    (_, leaf), = leaves(model)
    return leaf


def relative_l2(leaf, field, exact, name="Pressure"):
    expected = exact(points_of(leaf)) * (1.0 if name == "Pressure" else 2.0)
    return np.linalg.norm(point_array(leaf, name) - expected) / np.linalg.norm(expected)


def cylinder_cloud(n, seed):
    rng = np.random.default_rng(seed)
    angle, height = rng.random(n) * 2 * np.pi, rng.random(n)
    return np.column_stack([0.5 * np.cos(angle), 0.5 * np.sin(angle), height])


@pytest.fixture(scope="module")
def coarse_shell():
    return gmsh_cylinder_shell(0.1)


class TestLinearFieldsAreReproduced:
    @pytest.mark.parametrize("facets", ["triangles", "quadrilaterals"])
    def test_projection_onto_a_finer_plate_in_mm(self, facets):
        if facets == "triangles":
            plate_source = plane_surface(17, size=1000.0, z=300.0)
        else:
            quads = vtk.vtkPlaneSource()
            quads.SetOrigin(0, 0, 300.0)
            quads.SetPoint1(1000.0, 0, 300.0)
            quads.SetPoint2(0, 1000.0, 300.0)
            quads.SetResolution(13, 17)
            quads.Update()
            plate_source = quads.GetOutput()
        source = label_source(with_fields(plate_source, in_mm(linear)), length="mm")
        rng = np.random.default_rng(1)
        plate = np.column_stack([rng.random((60, 2)), np.full(60, 0.3)])
        triangles = vtk.vtkDelaunay2D()
        triangles.SetInputData(polydata(plate, []))
        triangles.Update()
        rows = [[triangles.GetOutput().GetCell(c).GetPointId(k) for k in range(3)]
                for c in range(triangles.GetOutput().GetNumberOfCells())]
        leaf = map_onto(host_model_of(plate, T.Tria3, rows), source, "Surface projection")
        assert relative_l2(leaf, "Pressure", linear) < 1e-6
        assert (point_array(leaf, MASK) == 1).all()

    def test_projection_within_tetrahedra_takes_the_containing_cell(self):
        points, tets = gmsh_box_with_hole(size=0.15)
        grid = vtk.vtkUnstructuredGrid()
        grid.SetPoints(cloud(points, linear).GetPoints())
        for tet in tets:
            grid.InsertNextCell(vtk.VTK_TETRA, 4, [int(i) for i in tet])
        source = label_source(with_fields(grid, linear))
        model = hex_block_model(n=(2, 5, 3), size=(0.2, 1.0, 0.4))  # clear of the hole
        fieldferry.map_scalar_field_to_mesh("Temperature", "Surface projection", source, model,
                                            False, None)
        (_, leaf), = leaves(model)
        assert relative_l2(leaf, "Temperature", linear, "Temperature") < 1e-6

    def test_fit_over_a_cloud_in_mm(self):
        rng = np.random.default_rng(2)
        source = cloud(rng.random((3000, 3)) * 1100.0 - 50.0, in_mm(linear), "mm")
        model = hex_block_model()
        fieldferry.map_scalar_field_to_mesh("Temperature", "Linear fit", source, model, False,
                                            None)
        (_, leaf), = leaves(model)
        assert relative_l2(leaf, "Temperature", linear, "Temperature") < 1e-6
        assert (point_array(leaf, MASK) == 1).all()

    def test_fit_over_a_flat_cloud_resolves_the_slope_in_its_plane(self):
        # Every neighbourhood is coplanar: no slope across the plane, the exact one along it.
        rng = np.random.default_rng(3)
        pts = np.column_stack([rng.random((2000, 2)), np.full(2000, 0.3)])
        out = fieldferry.interpolate_scalar_field_using_linear_fit(
            "Pressure", cloud(pts, linear), plane_surface(6, z=0.3))
        assert np.allclose(point_array(out, "Pressure"), linear(points_of(out)), atol=1e-9)
        lifted = fieldferry.interpolate_scalar_field_using_linear_fit(
            "Pressure", cloud(pts, linear), plane_surface(6, z=0.5))
        assert np.allclose(point_array(lifted, "Pressure"), point_array(out, "Pressure"))

    def test_fit_along_collinear_points_and_at_coincident_ones(self):
        line = np.column_stack([np.linspace(0, 1, 30), np.zeros(30), np.zeros(30)])
        target = cloud([[0.37, 0.2, -0.1]], linear)
        out = fieldferry.interpolate_scalar_field_using_linear_fit(
            "Pressure", cloud(line, linear), target)
        assert point_array(out, "Pressure")[0] == pytest.approx(linear(np.array([[0.37, 0, 0]]))[0])
        same = cloud(np.tile([[0.5, 0.5, 0.5]], (12, 1)), linear)
        out = fieldferry.interpolate_scalar_field_using_linear_fit("Pressure", same, target)
        assert point_array(out, "Pressure")[0] == pytest.approx(linear(np.array([[0.5] * 3]))[0])


class TestCurvedSurfaces:
    """A cylindrical shell (radius 0.5 m) whose nodes sit on the true curve, in m; sources in mm."""

    def test_projection_from_a_finer_triangulation(self, coarse_shell):
        fine, fine_tris = gmsh_cylinder_shell(0.03)
        source = label_source(with_fields(polydata(fine * 1000.0, fine_tris), in_mm(smooth)),
                              length="mm")
        errors, unmapped = {}, {}
        for method in ("Point cloud or mesh", "Mesh only", "Surface projection"):
            leaf = map_onto(host_model_of(*coarse_shell[:1], T.Tria3, coarse_shell[1]), source,
                            method)
            unmapped[method] = int((point_array(leaf, MASK) == 0).sum())
            errors[method] = relative_l2(leaf, "Pressure", smooth)
        # The facets cut inside the curve: probing misses most nodes, projection none.
        assert unmapped["Mesh only"] > 0.5 * len(coarse_shell[0])
        assert unmapped["Surface projection"] == 0
        assert errors["Surface projection"] <= errors["Point cloud or mesh"] / 10

    def test_fit_over_a_cloud_scattered_on_the_surface(self, coarse_shell):
        source = cloud(cylinder_cloud(20000, seed=4) * 1000.0, in_mm(smooth), "mm")
        errors = {}
        for method in ("Point cloud or mesh", "Linear fit"):
            leaf = map_onto(host_model_of(*coarse_shell[:1], T.Tria3, coarse_shell[1]), source,
                            method)
            errors[method] = relative_l2(leaf, "Pressure", smooth)
            assert (point_array(leaf, MASK) == 1).all()
        assert errors["Linear fit"] <= errors["Point cloud or mesh"] / 10

    def test_fit_off_the_surface_takes_the_value_at_the_foot(self, coarse_shell):
        # Targets 2 mm outside the cloud's cylinder, against the field at their foot: the
        # neighbours' curvature is no slope to extrapolate across the gap.
        nodes, rows = coarse_shell[0], coarse_shell[1]
        source = cloud(cylinder_cloud(20000, seed=4), smooth)
        radial = np.column_stack([nodes[:, :2] / np.hypot(nodes[:, 0], nodes[:, 1])[:, None],
                                  np.zeros(len(nodes))])
        errors = {}
        for gap in (0.0, 0.002):
            leaf = fieldferry.interpolate_scalar_field_using_linear_fit(
                "Pressure", source, polydata(nodes + gap * radial, rows))
            errors[gap] = (np.linalg.norm(point_array(leaf, "Pressure") - smooth(nodes))
                           / np.linalg.norm(smooth(nodes)))
        assert errors[0.002] <= 2 * errors[0.0]


def closest_cell_values(source, targets, name="Pressure"):
    """Brute force: every cell evaluated at every target, the nearest taken (ties to the lowest
    cell id), its weights at the closest point applied to the source's point values."""
    values = point_array(source, name)
    out = []
    for x in targets:
        best = (np.inf, -1, None)
        for c in range(source.GetNumberOfCells()):
            cell = source.GetCell(c)
            closest, pcoords, weights = [0.0] * 3, [0.0] * 3, [0.0] * cell.GetNumberOfPoints()
            sub, dist2 = vtk.reference(0), vtk.reference(0.0)
            if cell.EvaluatePosition(list(x), closest, sub, pcoords, dist2, weights) < 0:
                continue
            if float(dist2) < best[0]:
                cell.EvaluatePosition(closest, [0.0] * 3, sub, pcoords, vtk.reference(0.0),
                                      weights)
                ids = [cell.GetPointId(k) for k in range(cell.GetNumberOfPoints())]
                best = (float(dist2), c, np.dot(weights, values[ids]))
        out.append(best[2])
    return np.array(out)


class TestProjectionSearch:
    @pytest.mark.parametrize("tetrahedra", [False, True])
    def test_volume_source_as_a_search_of_every_cell(self, tetrahedra):
        # 3 x 3 x 3 bent hexahedra (or their tetrahedra) with random node values, so a wrong cell
        # shows: targets inside, on nodes and faces shared by several cells (ties), a hair outside
        # the block (inside within the cells' parametric tolerance) and well outside.
        coords, rows = hex_block((3, 3, 3), (1.0, 1.0, 1.0), (0, 0, 0))
        rng = np.random.default_rng(3)
        inner = np.all((coords > 0.01) & (coords < 0.99), axis=1)
        coords[inner] += rng.uniform(-0.08, 0.08, (inner.sum(), 3))
        grid = vtk.vtkUnstructuredGrid()
        grid.SetPoints(cloud(coords, linear).GetPoints())
        for row in rows:
            grid.InsertNextCell(vtk.VTK_HEXAHEDRON, 8, row)
        if tetrahedra:
            split = vtk.vtkDataSetTriangleFilter()
            split.SetInputData(grid)
            split.Update()
            grid = split.GetOutput()
        source = label_source(with_fields(grid, lambda p: rng.random(len(p))))
        targets = np.vstack([rng.random((150, 3)), coords, coords[np.array(rows)].mean(axis=1),
                             (coords[:40] - 0.5) * 1.0002 + 0.5, (coords[:40] - 0.5) * 1.3 + 0.5])
        out = fieldferry.interpolate_scalar_field_using_surface_projection(
            "Pressure", source, polydata(targets, []))
        assert np.allclose(point_array(out, "Pressure"), closest_cell_values(source, targets),
                           rtol=0, atol=1e-9)
    def test_one_far_field_panel_among_fine_facets(self):
        # A patch of 3,200 triangles over [0, 1]^2 at z = 0 and one quadrilateral 200 m across at
        # z = -50. The field is linear, so each point must get it at the nearer of its two feet,
        # both known in closed form: on the patch above, beside and below it, on the panel from
        # 25.05 m below the patch (24.95 m from the panel) and beyond.
        patch = plane_surface(40)
        rows = [[patch.GetCell(c).GetPointId(k) for k in range(3)]
                for c in range(patch.GetNumberOfCells())]
        n = patch.GetNumberOfPoints()
        corners = [[-100, -100, -50], [100, -100, -50], [100, 100, -50], [-100, 100, -50]]
        source = label_source(with_fields(
            polydata(np.vstack([points_of(patch), corners]), rows + [list(range(n, n + 4))]),
            linear))
        g = np.linspace(-0.5, 1.5, 21)
        x, y = [a.ravel() for a in np.meshgrid(g, g)]
        layers = [(1, 0.01), (1, -24.95), (1, -25.05), (60, -30.0)]  # (scale of x and y, z)
        targets = np.vstack([np.column_stack([k * x, k * y, np.full_like(x, z)])
                             for k, z in layers])
        out = fieldferry.interpolate_scalar_field_using_surface_projection(
            "Pressure", source, polydata(targets, []))
        on_patch = np.column_stack([np.clip(targets[:, :2], 0, 1), np.zeros(len(targets))])
        on_panel = np.column_stack([np.clip(targets[:, :2], -100, 100),
                                    np.full(len(targets), -50.0)])
        patch_nearer = (np.linalg.norm(targets - on_patch, axis=1)
                        < np.linalg.norm(targets - on_panel, axis=1))
        assert 0 < patch_nearer.sum() < len(targets)
        feet = np.where(patch_nearer[:, None], on_patch, on_panel)
        assert np.allclose(point_array(out, "Pressure"), linear(feet), rtol=0, atol=1e-9)
        assert (point_array(out, MASK) == 1).all()

    def test_projection_onto_an_arrowhead_quadrilateral_reaches_every_point(self):
        # Points all over its box, in its notch too: each one's closest point is on the cell.
        source = label_source(with_fields(flat_polygons(ARROWHEAD), linear))
        x, y = np.meshgrid(np.linspace(3.05, 4.95, 20), np.linspace(0.02, 1.9, 20))
        points = np.column_stack([x.ravel(), y.ravel(), np.full(x.size, 0.1)])
        leaf = fieldferry.interpolate_scalar_field_using_surface_projection(
            "Pressure", source, cloud(points, linear))
        assert (point_array(leaf, MASK) == 1).all()
        corners = linear(points_of(source))
        values = point_array(leaf, "Pressure")
        assert (values >= corners.min() - 1e-9).all() and (values <= corners.max() + 1e-9).all()

    def test_projection_onto_polyhedra(self):
        # Two unit cubes as polyhedra, 2 m apart: points above, beside and inside either take the
        # field at their foot (inside: at the point itself).
        cube = np.array([[0, 0, 0], [1, 0, 0], [1, 1, 0], [0, 1, 0],
                         [0, 0, 1], [1, 0, 1], [1, 1, 1], [0, 1, 1]], dtype=float)
        grid = vtk.vtkUnstructuredGrid()
        grid.SetPoints(cloud(np.vstack([cube, cube + [3, 0, 0]]), linear).GetPoints())
        faces = [[0, 3, 2, 1], [4, 5, 6, 7], [0, 1, 5, 4], [1, 2, 6, 5], [2, 3, 7, 6], [3, 0, 4, 7]]
        for first in (0, 8):
            stream = vtk.vtkIdList()
            for i in [len(faces)] + [i for f in faces for i in [len(f)] + [first + k for k in f]]:
                stream.InsertNextId(i)
            grid.InsertNextCell(vtk.VTK_POLYHEDRON, stream)
        targets = [[0.5, 0.5, 2.0], [3.5, 0.5, 2.0], [5.0, 0.5, 0.5], [-1.0, 0.5, 0.5],
                   [3.2, 0.4, 0.5]]
        feet = [[0.5, 0.5, 1.0], [3.5, 0.5, 1.0], [4.0, 0.5, 0.5], [0.0, 0.5, 0.5], [3.2, 0.4, 0.5]]
        out = fieldferry.interpolate_scalar_field_using_surface_projection(
            "Pressure", label_source(with_fields(grid, linear)), polydata(targets, []))
        assert np.allclose(point_array(out, "Pressure"), linear(np.array(feet)), atol=1e-5)


class TestLikeTheOtherMethods:
    @pytest.mark.parametrize("method", list(FUNCTIONS))
    def test_same_input_gives_the_same_bits(self, method, coarse_shell):
        points, tris = coarse_shell
        source = label_source(with_fields(polydata(points[::-1] * 1.01, tris[:, ::-1]), smooth))
        runs = []
        for _ in range(2):
            leaf = map_onto(host_model_of(points, T.Tria3, tris), source, method)
            runs.append(point_array(leaf, "Pressure").tobytes())
        assert runs[0] == runs[1]

    @pytest.mark.parametrize("method", ["Surface projection", "Linear fit"])  # values at nodes
    def test_body_arrays_pass_and_a_second_mapping_replaces_the_first(self, method):
        model = hex_block_model()
        for field in (linear, smooth):
            source = label_source(with_fields(plane_surface(8, size=1.2, z=1.0,
                                                            origin=(-0.1, -0.1)), field))
            fieldferry.map_scalar_field_to_mesh("Pressure", method, source, model, True, 0.5)
        (_, leaf), = leaves(model)
        for name in ("Node ID", "Distance"):
            assert leaf.GetPointData().GetArray(name) is not None
        assert leaf.GetCellData().GetArray("Element ID") is not None
        assert point_array(leaf, MASK).dtype == np.uint8
        top = points_of(leaf)[:, 2] == 1.0
        assert np.allclose(point_array(leaf, "Pressure")[top], smooth(points_of(leaf)[top]),
                           atol=0.2)
        assert fieldferry.last_unmapped_counts == {"M/P/Block": 0}

    def test_projection_needs_cells_and_says_what_to_use(self):
        model = hex_block_model()
        before = [leaf for _, leaf in leaves(model)]
        with pytest.raises(ValueError, match='surface_projection: "Surface projection" needs a '
                                             'source with cells.*"Linear fit"'):
            fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection",
                                                cloud(np.eye(3), linear), model, True, None)
        assert [leaf for _, leaf in leaves(model)] == before

    def test_unknown_name_lists_all_six(self):
        with pytest.raises(ValueError, match="'Point cloud or mesh', 'Mesh only', 'Coarse to "
                                             "fine', 'Surface projection', 'Linear fit', 'Face "
                                             "average'$"):
            fieldferry.map_scalar_field_to_mesh("Pressure", "Kriging", cloud(np.eye(3), linear),
                                                hex_block_model(), True, None)
