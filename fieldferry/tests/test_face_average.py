""""Face average": each face of a body's surface takes the source's mean over it, so that the faces
carry the source's force. Pressures linear in space, whose force on a plate or a closed box is known
in closed form."""
import sys
from pathlib import Path

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import fieldferry
from kelm.mesh import ElementTopology as T

from ferry_builders import (cloud, hex_block_model, host_model_of, label_source, leaves,
                            plane_surface, point_array, points_of, polydata, with_face_values,
                            with_fields)

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "cfdsource" / "tests"))
from case_writers import ARROWHEAD, L_SHAPE, NOTCH, flat_polygons  # noqa: E402

GRADIENT = np.array([3e4, -2e4, 1e4])


def linear(p):
    return 2e5 + p @ GRADIENT


@pytest.fixture(autouse=True)
def no_diagnostic_files(monkeypatch):
    monkeypatch.setattr(fieldferry, "diagnostics_dir", None)


def polygons(data):
    offsets = ns.vtk_to_numpy(data.GetPolys().GetOffsetsArray())
    conn = ns.vtk_to_numpy(data.GetPolys().GetConnectivityArray())
    return [conn[a:b] for a, b in zip(offsets[:-1], offsets[1:])]


def face_values(leaf, name="Pressure"):
    """The cell array of the leaf's polygons (they follow its vertex cells)."""
    values = ns.vtk_to_numpy(leaf.GetCellData().GetArray(name))
    return values[leaf.GetNumberOfVerts() + leaf.GetNumberOfLines():]


def face_force(leaf):
    """sum(-p A n) over the leaf's polygons, each with its own value: what the load carries."""
    xyz = points_of(leaf)
    total = np.zeros(3)
    for ids, p in zip(polygons(leaf), face_values(leaf)):
        corners = xyz[ids]
        area_normal = 0.5 * np.cross(corners - corners[0], np.roll(corners, -1, axis=0)
                                     - corners[0]).sum(axis=0)
        total -= p * area_normal
    return total


def centroid_values(source, field=linear):
    """The field at each triangle's centroid: its mean over the triangle, for a linear field."""
    xyz = points_of(source)
    return field(np.array([xyz[ids].mean(axis=0) for ids in polygons(source)]))


def box_surface(n, size):
    """The six sides of a box at the origin, each an n x n grid of triangles turned outwards (the
    sides share no points, as CFD patches often do not)."""
    s = np.linspace(0.0, 1.0, n + 1)
    u, v = [a.ravel() for a in np.meshgrid(s, s, indexing="ij")]
    points, triangles = [], []
    for axis in range(3):
        for side in (0.0, 1.0):
            p = np.empty((u.size, 3))
            p[:, axis] = side
            p[:, (axis + 1) % 3], p[:, (axis + 2) % 3] = u, v
            first = len(points) * u.size
            for i in range(n):
                for j in range(n):
                    a, b = first + i * (n + 1) + j, first + (i + 1) * (n + 1) + j
                    pair = [(a, b, b + 1), (a, b + 1, a + 1)]
                    triangles += pair if side else [t[::-1] for t in pair]
            points.append(p * size)
    return polydata(np.vstack(points), triangles)


def map_surface(source, model, tolerance=None, method="Face average"):
    fieldferry.map_scalar_field_to_mesh("Pressure", method, source, model, True, tolerance)
    (_, leaf), = leaves(model)
    return leaf


def plate_model(n=7):
    xs = np.linspace(0.0, 1.0, n + 1)
    xyz = np.array([(x, y, 0.0) for y in xs for x in xs])
    quads = [[i + (n + 1) * j, i + 1 + (n + 1) * j, i + 2 + (n + 1) * j + n, i + 1 + (n + 1) * j + n]
             for j in range(n) for i in range(n)]
    return host_model_of(xyz, T.Quad4, quads)


BOX = (1.0, 0.8, 0.6)


class TestTheForceIsCarried:
    def test_plate_under_face_values_of_a_finer_surface(self):
        source = plane_surface(23, size=1.2, origin=(-0.1, -0.1))
        with_face_values(source, centroid_values(source))
        leaf = map_surface(source, plate_model())
        # The source's normals point along the plate's (+z): the fluid is behind it, and the
        # face takes -p, which pushes the plate along +z as the fluid does (mean p x area 1).
        exact = linear(np.array([[0.5, 0.5, 0.0]]))[0]
        force = face_force(leaf)
        assert abs(force[2] - exact) < 5e-3 * abs(exact)
        assert np.allclose(force[:2], 0, atol=1e-9 * abs(exact))

    def test_closed_box_under_face_values_of_a_finer_surface(self):
        source = box_surface(13, np.array(BOX))
        with_face_values(source, centroid_values(source))
        leaf = map_surface(source, hex_block_model(n=(3, 4, 5), size=BOX))
        exact = -np.prod(BOX) * GRADIENT  # -(closed integral of p n dA) = -(volume x gradient)
        assert np.linalg.norm(face_force(leaf) - exact) < 5e-3 * np.linalg.norm(exact)

    @pytest.mark.parametrize("held_as", ["face values", "point values"])
    def test_faces_laid_on_the_source_faces_carry_it_to_rounding(self, held_as):
        model = hex_block_model(n=(3, 4, 5), size=BOX)
        (_, body), = leaves(model)
        skin = vtk.vtkDataSetSurfaceFilter()
        skin.SetInputData(body)
        skin.Update()
        source = vtk.vtkPolyData()
        source.SetPoints(skin.GetOutput().GetPoints())
        source.SetPolys(skin.GetOutput().GetPolys())
        if held_as == "face values":
            with_face_values(source, centroid_values(source))
        else:
            label_source(with_fields(source, linear))
        leaf = map_surface(source, model)
        # On the rectangles of the body's own (single precision) coordinates, p at the centre
        # times the area is the exact force.
        xyz = points_of(leaf)
        exact = np.zeros(3)
        for ids in polygons(leaf):
            corners = xyz[ids]
            exact -= linear(corners.mean(axis=0)[None])[0] * 0.5 * np.cross(
                corners[2] - corners[0], corners[3] - corners[1])
        assert np.linalg.norm(face_force(leaf) - exact) < 1e-9 * np.linalg.norm(exact)
        covered = leaf.GetFieldData().GetArray("Source area covered").GetValue(0)
        assert covered == pytest.approx(2 * (0.8 * 0.6 + 0.6 * 1.0 + 1.0 * 0.8), rel=1e-6)

    def test_a_field_constant_per_face_is_carried_exactly(self):
        # Four by four source squares in each plate quadrilateral, one value per quadrilateral.
        source = plane_surface(28)
        centre = np.array([points_of(source)[ids].mean(axis=0) for ids in polygons(source)])
        quad = np.floor(centre[:, 0] * 7) + 7 * np.floor(centre[:, 1] * 7)
        values = 1e5 + 1e3 * quad + np.random.default_rng(3).uniform(0, 1, 49)[quad.astype(int)]
        with_face_values(source, values)
        leaf = map_surface(source, plate_model())
        centre = np.array([points_of(leaf)[ids].mean(axis=0) for ids in polygons(leaf)])
        expected = values[[np.flatnonzero(quad == q)[0] for q in
                           np.floor(centre[:, 0] * 7) + 7 * np.floor(centre[:, 1] * 7)]]
        # The source lies on the plate with its normals along the plate's: the fluid is behind.
        assert np.allclose(-face_values(leaf), expected, rtol=1e-13, atol=0)


def area_centroid(corners):
    """The centroid of a simple polygon's area (shoelace)."""
    x, y = np.array(corners, float).T
    cross = x * np.roll(y, -1) - np.roll(x, -1) * y
    return np.array([((x + np.roll(x, -1)) * cross).sum(), ((y + np.roll(y, -1)) * cross).sum(),
                     0.0]) / (3 * cross.sum())


class TestFacesThatAreNotConvex:
    def test_an_l_shape_and_an_arrowhead_take_the_mean_over_their_own_area(self):
        source = label_source(with_fields(plane_surface(12, size=6.0, origin=(-0.5, -0.5)), linear))
        leaf = fieldferry.interpolate_scalar_field_using_face_average(
            "Pressure", source, label_source(flat_polygons(L_SHAPE, ARROWHEAD)))
        # A linear field's mean over a face is its value at the face's centroid.
        expected = linear(np.array([area_centroid(L_SHAPE), area_centroid(ARROWHEAD)]))
        assert np.allclose(face_values(leaf), expected, rtol=1e-12, atol=0)

    def test_a_source_l_shape_gives_its_value_over_itself_only_and_its_own_area(self):
        # A 2 x 2 source square: the L (cell 0, 1000 Pa) and the square its notch leaves (cell 1,
        # 2000 Pa); under it four target squares, the one over the notch at (1, 1).
        source = with_face_values(flat_polygons(L_SHAPE, NOTCH),
                                  [1000.0, 2000.0])
        squares = [[(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)] for j in (0, 1) for i in (0, 1)]
        leaf = fieldferry.interpolate_scalar_field_using_face_average(
            "Pressure", source, label_source(flat_polygons(*squares)))
        assert face_values(leaf).tolist() == [1000.0, 1000.0, 1000.0, 2000.0]
        covered = leaf.GetFieldData().GetArray("Source area covered").GetValue(0)
        assert covered == pytest.approx(4.0, rel=1e-12)

    def test_a_corner_of_a_source_l_shape_weighs_it_by_its_own_area(self):
        # The L and its notch sharing their points: the notch's corner (1, 1) takes the faces'
        # mean by area, (3 x 1000 + 1 x 2000) / 4, for the methods that read points.
        shared = vtk.vtkCleanPolyData()
        shared.SetInputData(flat_polygons(L_SHAPE, NOTCH))
        shared.Update()
        source = with_face_values(shared.GetOutput(), [1000.0, 2000.0])
        leaf = fieldferry.interpolate_scalar_field_using_point_interpolator(
            "Pressure", source, label_source(cloud(np.array([[1.0, 1.0, 0.0]]), linear)))
        assert point_array(leaf, "Pressure").tolist() == [1250.0]


class TestLikeTheOtherMethods:
    def test_points_take_the_mean_of_their_faces_and_all_have_a_value(self):
        source = plane_surface(23, size=1.2, origin=(-0.1, -0.1))
        label_source(with_fields(source, linear))
        leaf = map_surface(source, plate_model())
        mask = ns.vtk_to_numpy(leaf.GetPointData().GetArray("vtkValidPointMask"))
        assert mask.dtype == np.uint8 and (mask == 1).all()
        # A regular grid under a linear field: the mean of the faces around a node is the value
        # at the node (the corners and edges of the plate excepted).
        xyz = points_of(leaf)
        inner = (xyz[:, :2] > 0.01).all(axis=1) & (xyz[:, :2] < 0.99).all(axis=1)
        values = ns.vtk_to_numpy(leaf.GetPointData().GetArray("Pressure"))
        assert np.allclose(values[inner], linear(xyz[inner]), rtol=1e-8)  # single precision nodes

    def test_faces_source_survives_and_a_later_mapping_drops_the_face_values(self):
        # A CFD wall's normals point out of the fluid, into the body: the box's sides inward.
        source = box_surface(9, np.array(BOX))
        reverse = vtk.vtkReverseSense()
        reverse.SetInputData(source)
        reverse.Update()
        source = with_face_values(reverse.GetOutput(), centroid_values(source))
        model = hex_block_model(n=(3, 4, 5), size=BOX)
        leaf = map_surface(source, model, tolerance=0.01)
        assert (ns.vtk_to_numpy(leaf.GetCellData().GetArray("Faces source")) == 1).all()
        assert np.isfinite(face_values(leaf)).all()
        for arrays, name in ((leaf.GetPointData(), "Node ID"), (leaf.GetPointData(), "Distance"),
                             (leaf.GetCellData(), "Element ID"), (leaf.GetCellData(), "Distance")):
            assert arrays.GetArray(name) is not None, name  # the body's own, passed on
        leaf = map_surface(source, model, tolerance=0.01, method="Surface projection")
        assert leaf.GetCellData().GetArray("Pressure") is None
        assert leaf.GetFieldData().GetArray("Source area covered") is None
        assert leaf.GetCellData().GetArray("Faces source") is not None
        leaf = map_surface(source, model)  # no tolerance: no facing test, none left over
        assert leaf.GetCellData().GetArray("Faces source") is None


class TestRefused:
    def test_a_mapping_onto_every_node_names_the_way_out(self):
        source = label_source(with_fields(plane_surface(4), linear))
        model = hex_block_model()
        before = [leaf for _, leaf in leaves(model)]
        with pytest.raises(ValueError, match=r"\"Face average\" averages over the faces of the "
                                             r"bodies' surfaces, but 'Temperature' is mapped onto "
                                             r"every node \(boundary_only=False\): pass "
                                             r"boundary_only=True"):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Face average", source, model,
                                                False, None)
        assert [leaf for _, leaf in leaves(model)] == before
        fieldferry.map_scalar_field_to_mesh("Temperature", "Face average", source, model, True,
                                            None)

    def test_a_source_without_cells_and_a_target_without_faces(self):
        with pytest.raises(ValueError, match="\"Face average\" needs a source with cells; the "
                                             "source \\(from_mesh\\) is 3 points"):
            fieldferry.interpolate_scalar_field_using_face_average(
                "Pressure", cloud(np.eye(3), linear), plane_surface(2))
        (_, grid), = leaves(hex_block_model())
        with pytest.raises(ValueError, match="the target \\(to_mesh\\) is a vtkUnstructuredGrid"):
            fieldferry.interpolate_scalar_field_using_face_average(
                "Pressure", label_source(with_fields(plane_surface(2), linear)), grid)
