import math
import os
import subprocess
import sys

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import fieldferry
import gaugeshift
from kelm.mesh import ElementTopology as T

from ferry_builders import (cloud, cube_in_bodies, cylinder_wall, expected_splat_mask,
                            gmsh_box_with_hole,
                            gmsh_cylinder_shell, hex_block_model, host_model_of, label_source,
                            leaves, nearest_indices, plane_surface, point_array, points_of,
                            polydata, string_field, with_face_values, with_fields)

ALGORITHMS = ["Point cloud or mesh", "Mesh only", "Coarse to fine"]
MASK = "vtkValidPointMask"


def linear(p):
    return 3.0 * p[:, 0] - 2.0 * p[:, 1] + 0.5 * p[:, 2] + 1.0


def smooth(p):
    return np.sin(2.0 * p[:, 0]) + np.cos(1.5 * p[:, 1]) + 0.5 * p[:, 2]


def random_cloud(n, seed=0, lo=0.0, hi=1.0, field=smooth, length="m"):
    rng = np.random.default_rng(seed)
    return cloud(lo + (hi - lo) * rng.random((n, 3)), field, length)


@pytest.fixture(autouse=True)
def no_diagnostic_files(tmp_path_factory, monkeypatch):
    monkeypatch.setattr(fieldferry, "diagnostics_dir", str(tmp_path_factory.mktemp("diagnostics")))


class TestPointCloudOrMesh:
    def test_every_point_takes_its_nearest_source_value(self):
        source = random_cloud(4000, seed=1)
        target = random_cloud(3000, seed=2)
        out = fieldferry.interpolate_scalar_field_using_point_interpolator("Pressure", source,
                                                                           target)
        nearest = nearest_indices(points_of(target), points_of(source))
        assert np.array_equal(point_array(out, "Pressure"),
                              point_array(source, "Pressure")[nearest])
        assert point_array(out, MASK).dtype == np.uint8
        assert (point_array(out, MASK) == 1).all()

    def test_bare_points_map_onto_every_body_point(self):
        model = hex_block_model()
        source = random_cloud(2000, seed=3, lo=-0.1, hi=1.1)
        fieldferry.map_scalar_field_to_mesh("Temperature", "Point cloud or mesh", source, model,
                                            False, None)
        (_, leaf), = leaves(model)
        nearest = nearest_indices(points_of(leaf), points_of(source))
        assert np.array_equal(point_array(leaf, "Temperature"),
                              point_array(source, "Temperature")[nearest])
        assert list(fieldferry.last_unmapped_counts.values()) == [0]

    def test_target_keeps_its_own_arrays_and_result_is_new(self):
        source = random_cloud(500, seed=4)
        target = plane_surface(4, z=0.5)
        out = fieldferry.interpolate_scalar_field_using_point_interpolator("Pressure", source,
                                                                           target)
        assert out is not target
        assert target.GetPointData().GetArray("Pressure") is None


    def test_mapping_again_replaces_the_previous_field(self):
        model = hex_block_model()
        for seed in (30, 31):
            source = random_cloud(800, seed=seed)
            fieldferry.map_scalar_field_to_mesh("Temperature", "Point cloud or mesh", source,
                                                model, False, None)
        (_, leaf), = leaves(model)
        nearest = nearest_indices(points_of(leaf), points_of(source))
        assert np.array_equal(point_array(leaf, "Temperature"),
                              point_array(source, "Temperature")[nearest])


def hollow_cloud(n, seed):
    """n random points on the six faces of the unit cube carrying the smooth field."""
    p = np.random.default_rng(seed).random((n, 3))
    p[np.arange(n), np.arange(n) % 3] = (np.arange(n) // 3) % 2
    return cloud(p, smooth)


class TestManyBodies:
    """A cube cut into eight bodies: the faces they share lie deep inside the source cloud, far
    from every source point, where a bin search used to take milliseconds a point."""

    def test_inner_nodes_take_their_nearest_point_of_a_hollow_cloud(self):
        source = hollow_cloud(3000, seed=40)
        model = cube_in_bodies(8, 2)
        fieldferry.map_scalar_field_to_mesh("Temperature", "Point cloud or mesh", source, model,
                                            False, 0.25)
        bodies = leaves(model)
        assert len(bodies) == 8
        for _, leaf in bodies:
            nearest = nearest_indices(points_of(leaf), points_of(source))
            assert np.array_equal(point_array(leaf, "Temperature"),
                                  point_array(source, "Temperature")[nearest])

    @pytest.mark.parametrize("algorithm", ["Point cloud or mesh", "Linear fit"])
    def test_eight_bodies_map_as_one(self, algorithm):
        source = hollow_cloud(2000, seed=41)
        values = {}
        for cuts in (1, 2):
            model = cube_in_bodies(8, cuts)
            fieldferry.map_scalar_field_to_mesh("Pressure", algorithm, source, model, True, 0.25)
            for _, leaf in leaves(model):
                for x, v in zip(points_of(leaf), point_array(leaf, "Pressure")):
                    values.setdefault(tuple(np.round(x, 9)), set()).add(float(v))
        assert all(len(seen) == 1 for seen in values.values())

    def test_surface_projection_measures_the_distance_by_its_own_search(self):
        source = label_source(with_fields(plane_surface(10, size=1.0, z=0.37), linear))
        model = cube_in_bodies(4, 2)
        fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source, model, True,
                                            0.3)
        for _, leaf in leaves(model):
            p = points_of(leaf)
            assert np.allclose(point_array(leaf, "Distance"), np.abs(p[:, 2] - 0.37), atol=1e-12)
            cells = leaf.GetCellData().GetArray("Distance")
            assert cells.GetNumberOfTuples() == leaf.GetNumberOfCells()
            on_plane = np.column_stack([p[:, :2], np.full(len(p), 0.37)])
            assert np.allclose(point_array(leaf, "Pressure"), linear(on_plane))


class TestMeshOnly:
    def test_linear_field_is_reproduced_on_the_source_surface(self):
        source = label_source(with_fields(plane_surface(10, size=2.0, z=0.3), linear))
        rng = np.random.default_rng(5)
        pts = np.column_stack([rng.random((500, 2)) * 2.0, np.full(500, 0.3)])
        target = cloud(pts, lambda p: np.zeros(len(p)))
        out = fieldferry.interpolate_scalar_field_using_probe_filter("Pressure", source, target)
        assert np.allclose(point_array(out, "Pressure"), linear(pts), atol=1e-9)
        assert (point_array(out, MASK) == 1).all()

    def test_bare_points_have_no_cells_to_probe(self):
        source = random_cloud(1000, seed=6)
        out = fieldferry.interpolate_scalar_field_using_probe_filter("Pressure", source,
                                                                     plane_surface(3, z=0.5))
        assert (point_array(out, "Pressure") == 0).all()
        assert (point_array(out, MASK) == 0).all()

    def test_points_off_the_source_are_zero_and_masked(self):
        source = label_source(with_fields(plane_surface(4, size=1.0), linear))
        target = cloud([[0.5, 0.5, 0.0], [2.0, 2.0, 0.0], [0.5, 0.5, 0.2]], linear)
        out = fieldferry.interpolate_scalar_field_using_probe_filter("Pressure", source, target)
        assert list(point_array(out, MASK)) == [1, 0, 0]
        assert point_array(out, "Pressure")[1:].tolist() == [0.0, 0.0]


class TestCoarseToFine:
    def test_smooth_field_over_a_dense_source_is_reproduced(self):
        # A 0.02 m regular source lattice; the Gaussian radius of 0.01 m * 1.8 covers each grid
        # point's neighbours, and the plate's grid (0.01 m) is finer than the source.
        axis = np.arange(-0.1, 1.1001, 0.02)
        gx, gy, gz = np.meshgrid(axis, axis, np.arange(-0.06, 0.0601, 0.02), indexing="ij")
        source = cloud(np.column_stack([gx.ravel(), gy.ravel(), gz.ravel()]), smooth)
        target = plane_surface(20, size=1.0, z=0.0)
        out = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target,
                                                                  radius=0.018)
        expected = smooth(points_of(target))
        assert (point_array(out, MASK) == 1).all()
        # Stated tolerance: 1% of the field's range.
        assert np.abs(point_array(out, "Pressure") - expected).max() < 0.01 * np.ptp(expected) * 3

    def test_flat_plate_gets_finite_values_where_the_source_reaches(self):
        source = random_cloud(20000, seed=7, lo=-0.05, hi=1.05)
        target = plane_surface(8, z=0.4)  # zero extent along z
        out = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target,
                                                                  radius=0.1)
        values = point_array(out, "Pressure")
        assert np.isfinite(values).all()
        assert (point_array(out, MASK) == 1).all()
        assert np.abs(values - smooth(points_of(target))).max() < 0.3

    @pytest.mark.parametrize("radius", [0.01, 0.03])
    @pytest.mark.parametrize("body", ["sphere", "plate", "block"])
    def test_fast_and_full_grid_give_identical_values_and_masks(self, body, radius):
        source = random_cloud(20000, seed=8, lo=-0.1, hi=1.1)
        if body == "sphere":
            sphere = vtk.vtkSphereSource()
            sphere.SetCenter(0.5, 0.5, 0.5)
            sphere.SetRadius(0.35)
            sphere.SetThetaResolution(40)
            sphere.SetPhiResolution(30)
            sphere.Update()
            target = sphere.GetOutput()
        elif body == "plate":
            target = plane_surface(15, size=0.8, z=0.3, origin=(0.1, 0.05))
        else:
            (_, target), = leaves(hex_block_model(n=(6, 5, 4), size=(0.9, 0.7, 0.5)))
        fast = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target,
                                                                   radius=radius)
        full = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target,
                                                                   radius=radius, full_grid=True)
        assert np.array_equal(point_array(fast, MASK), point_array(full, MASK))
        for name in ("Pressure", "Temperature"):
            # Identical to the round-off of a float field: corners of weight <= 1e-9 are not
            # evaluated.
            full_values = point_array(full, name)
            scale = np.abs(full_values).max()
            assert np.allclose(point_array(fast, name), full_values, rtol=0, atol=1e-8 * scale)

    def test_mask_matches_a_radius_search_around_the_cell_corners(self):
        source = random_cloud(3000, seed=9)
        target = plane_surface(12, size=0.9, z=0.45, origin=(0.05, 0.05))
        out = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target,
                                                                  radius=0.03)
        expected = expected_splat_mask(points_of(target), points_of(source), 0.03)
        mask = point_array(out, MASK)
        assert 0 < (mask == 0).sum() < len(mask)  # the case tells mapped from unmapped points
        assert np.array_equal(mask.astype(bool), expected)

    def test_point_cloud_target_is_resampled_without_crashing(self):
        # VTK's own resampling crashes blanking the cells of a target that has none.
        source = random_cloud(400, seed=32)
        target = random_cloud(300, seed=33)
        out = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target)
        expected = expected_splat_mask(points_of(target), points_of(source), 0.01)
        assert np.array_equal(point_array(out, MASK).astype(bool), expected)
        volume = vtk.vtkImageData()
        volume.SetDimensions(3, 3, 3)
        volume.SetSpacing(0.1, 0.1, 0.1)
        values = ns.numpy_to_vtk(np.ones(27), deep=1)
        values.SetName("ImageScalars")
        volume.GetPointData().AddArray(values)
        out = fieldferry.generate_distance_field(target, volume, "Point")
        assert point_array(out, "Distance").size == 300

    def test_unmapped_points_keep_the_null_value(self):
        source = cloud([[0.0, 0.0, 0.0]], lambda p: np.full(len(p), 5.0))
        target = plane_surface(4, size=1.0, z=0.0)
        out = fieldferry.interpolate_coarse_field_onto_fine_field("Pressure", source, target)
        mask, values = point_array(out, MASK), point_array(out, "Pressure")
        assert mask[0] == 1 and values[0] == pytest.approx(5.0)
        assert (values[mask == 0] == 0).all() and (mask == 0).sum() == len(mask) - 1


def map_block(source, algorithm="Point cloud or mesh", field="Temperature", units="m-kg-s-N-K",
              tolerance=None, boundary_only=False, cloud_distance="surface", **model_args):
    model = hex_block_model(units=units, **model_args)
    result = fieldferry.map_scalar_field_to_mesh(field, algorithm, source, model, boundary_only,
                                                 tolerance, cloud_distance=cloud_distance)
    assert result is model
    return model, [leaf for _, leaf in leaves(model)]


class TestUnits:
    @pytest.mark.parametrize("algorithm", ALGORITHMS)
    def test_source_in_mm_lands_where_the_same_source_in_m_does(self, algorithm):
        rng = np.random.default_rng(10)
        pts = rng.random((3000, 3)) * 1.2 - 0.1
        _, (in_m,) = map_block(cloud(pts, smooth, "m"), algorithm)
        _, (in_mm,) = map_block(cloud(pts * 1000.0, lambda p: smooth(p / 1000.0), "mm"),
                                algorithm)
        assert np.allclose(point_array(in_mm, "Temperature"), point_array(in_m, "Temperature"),
                           rtol=1e-5, atol=1e-9)

    def test_no_converter_when_the_labels_are_equal(self, monkeypatch):
        def refuse():
            raise AssertionError("converter created")
        monkeypatch.setattr(gaugeshift, "gaugeshift_factor", refuse)
        source = random_cloud(500, seed=11, length="m")
        map_block(source, "Mesh only")

    def test_no_transform_when_the_factor_is_one(self, monkeypatch):
        class One:
            def get_gaugeshift_factor(self, quantity, from_label, to_label):
                return [1.0]
        monkeypatch.setattr(gaugeshift, "gaugeshift_factor", One)
        # An unstructured-grid source could not be transformed: a factor of 1 must not try.
        append = vtk.vtkAppendFilter()
        append.AddInputData(random_cloud(500, seed=12, length="mm"))
        append.Update()
        source = append.GetOutput()
        source.GetFieldData().PassData(random_cloud(1, length="mm").GetFieldData())
        _, (leaf,) = map_block(source, "Point cloud or mesh")
        assert point_array(leaf, "Temperature").size == 125

    def test_callers_source_keeps_its_coordinates(self):
        source = random_cloud(500, seed=13, hi=1000.0, length="mm")
        before = points_of(source).copy()
        map_block(source)
        assert np.array_equal(points_of(source), before)

    def test_model_in_mm_and_in_m_map_the_same_coarse_to_fine_values(self):
        rng = np.random.default_rng(14)
        pts = rng.random((30000, 3)) * 1.2 - 0.1
        _, (in_m,) = map_block(cloud(pts, smooth, "m"), "Coarse to fine")
        _, (in_mm,) = map_block(cloud(pts, smooth, "m"), "Coarse to fine", units="mm-t-s-N-K")
        assert (point_array(in_m, MASK) == 0).sum() > 0  # the radius really is 10 mm
        assert np.allclose(point_array(in_mm, "Temperature"), point_array(in_m, "Temperature"),
                           rtol=1e-4, atol=1e-6)
        assert np.array_equal(point_array(in_mm, MASK), point_array(in_m, MASK))

    def test_coarse_to_fine_radius_fits_a_large_model(self):
        # A 10 m room from a cloud about 0.5 m apart: 0.01 m reaches no source point.
        room = dict(size=(10.0, 10.0, 10.0), n=(5, 5, 5))
        source = random_cloud(8000, seed=15, lo=-0.5, hi=10.5)
        _, (default,) = map_block(source, "Coarse to fine", **room)
        assert (point_array(default, MASK) == 0).mean() > 0.9
        model = hex_block_model(**room)
        fieldferry.map_scalar_field_to_mesh("Temperature", "Coarse to fine", source, model, False,
                                            None, radius=1.5)
        (_, fitted), = leaves(model)
        assert (point_array(fitted, MASK) == 1).all()
        with pytest.raises(ValueError, match="radius must be None or a positive finite length"):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Coarse to fine", source, model,
                                                False, None, radius=0)

    def test_label_without_dash_is_the_length_label(self):
        model = hex_block_model()
        model.GetFieldData().GetAbstractArray("unit_system_label").SetValue(0, "m")
        fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", random_cloud(50), model,
                                            False, None)


def duct_walls(step, width=16.0, length=24.0):
    """(points, quadrilaterals) of the four walls of a square duct along z (x and y from 0 to
    `width`, mm), each wall step x step quadrilaterals with points of its own."""
    u, z = np.arange(0, width + step / 2, step), np.arange(0, length + step / 2, step)
    points, quads = [], []
    for (x0, y0), (dx, dy) in (((0, 0), (1, 0)), ((width, 0), (0, 1)),
                               ((width, width), (-1, 0)), ((0, width), (0, -1))):
        base = len(points)
        points += [(x0 + dx * s, y0 + dy * s, h) for h in z for s in u]
        at = lambda i, j: base + j * len(u) + i  # noqa: E731
        quads += [[at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)]
                  for j in range(len(z) - 1) for i in range(len(u) - 1)]
    return np.array(points, float), np.array(quads)


def duct_face_centres(step):
    points, quads = duct_walls(step)
    return points[quads].mean(axis=1)


class TestDistances:
    def test_surface_source_gives_unsigned_point_distances(self):
        source = plane_surface(4, size=2.0, z=0.0, origin=(-0.5, -0.5))
        target = cloud([[0.2, 0.3, 0.25], [0.4, 0.1, -0.5]], linear)
        out = fieldferry.generate_distance_field(target, source, "Point")
        assert np.allclose(point_array(out, "Distance"), [0.25, 0.5])
        assert out.GetCellData().GetArray("Distance") is None

    def test_cell_location_adds_cell_centre_distances(self):
        source = plane_surface(2, size=1.0, z=0.0)
        target = polydata([[0, 0, 1], [1, 0, 1], [0, 1, 3]], [(0, 1, 2)])
        out = fieldferry.generate_distance_field(target, source, "Cell")
        assert np.allclose(point_array(out, "Distance"), [1, 1, 3])
        assert ns.vtk_to_numpy(out.GetCellData().GetArray("Distance")) == pytest.approx([5 / 3])

    def test_existing_distance_is_returned_as_is(self):
        target = plane_surface(2)
        array = vtk.vtkFloatArray()
        array.SetName("Distance")
        array.SetNumberOfTuples(target.GetNumberOfPoints())
        array.Fill(7.0)
        target.GetPointData().AddArray(array)
        assert fieldferry.generate_distance_field(target, plane_surface(2, z=1), "Point") is target

    def test_distance_volume_is_resampled_as_distance(self):
        volume = vtk.vtkImageData()
        volume.SetDimensions(11, 11, 11)
        volume.SetSpacing(0.1, 0.1, 0.1)
        values = ns.numpy_to_vtk(np.arange(1331, dtype=float) % 11 * 0.1, deep=1)  # = x
        values.SetName("ImageScalars")
        volume.GetPointData().AddArray(values)
        out = fieldferry.generate_distance_field(plane_surface(3, size=0.9), volume, "Point")
        assert out.GetPointData().GetArray("ImageScalars") is None
        assert np.allclose(point_array(out, "Distance"), points_of(out)[:, 0])

    def test_point_cloud_distance_comes_from_the_unsigned_distance_volume(self):
        source = random_cloud(20000, seed=15)
        _, (leaf,) = map_block(source, "Point cloud or mesh", tolerance=0.01,
                               size=(0.6, 0.6, 0.6), origin=(0.2, 0.2, 0.2),
                               cloud_distance="nearest")
        distance = point_array(leaf, "Distance")
        nearest = points_of(source)[nearest_indices(points_of(leaf), points_of(source))]
        exact = np.linalg.norm(points_of(leaf) - nearest, axis=1)
        near = exact < 0.03  # within the volume's radius of 0.05: not capped
        assert near.sum() > 100
        assert np.allclose(distance[near], exact[near], atol=0.01)
        assert not np.array_equal(distance[near], exact[near])  # sampled from a volume

    def test_point_cloud_distances_do_not_depend_on_the_source_unit(self):
        # The distance volume's radius is 0.05 m in model units: a cloud in mm gives the same
        # distances as the same cloud in m (a radius of 0.05 mm would cap nearly every distance).
        pts = np.random.default_rng(21).random((20000, 3))
        kwargs = dict(tolerance=0.01, size=(0.6, 0.6, 0.6), origin=(0.2, 0.2, 0.2),
                      cloud_distance="nearest")
        _, (in_m,) = map_block(cloud(pts, smooth, "m"), **kwargs)
        _, (in_mm,) = map_block(cloud(pts * 1000, smooth, "mm"), **kwargs)
        assert point_array(in_mm, "Distance").max() < 0.05
        assert np.allclose(point_array(in_mm, "Distance"), point_array(in_m, "Distance"), atol=1e-4)

    def test_a_cloud_is_measured_to_the_surface_it_samples(self):
        # CFD face centres 4 mm apart on a wall at z = 0 (jittered); a plate 2 mm thick on it,
        # meshed at other places than the cloud's points. A 1 mm tolerance keeps the wall's own
        # face and drops its far side, which the nearest-point distance cannot tell apart.
        rng = np.random.default_rng(8)
        g = np.arange(-2, 52, 4.0)
        xy = np.array([(x, y) for x in g for y in g]) + rng.uniform(-1, 1, (len(g) ** 2, 2))
        source = cloud(np.column_stack([xy, np.zeros(len(xy))]), linear, "mm")
        model = hex_block_model(n=(7, 7, 1), size=(0.05, 0.05, 0.002), units="mm-kg-s-N-K")
        fieldferry.map_scalar_field_to_mesh("Temperature", "Linear fit", source, model, False, 1.0)
        (_, leaf), = leaves(model)
        z, distance = points_of(leaf)[:, 2], point_array(leaf, "Distance")
        assert distance[z == 0].max() < 1e-9 and np.allclose(distance[z == 2], 2.0)
        nearest = np.linalg.norm(points_of(leaf)[:, :2][z == 0, None] - xy[None], axis=2).min(1)
        assert nearest.max() > 1.0  # to the nearest point, the wall itself is beyond 1 mm
        _, (far,) = map_block(source, "Linear fit", tolerance=1.0, cloud_distance="surface",
                              n=(2, 2, 1), size=(0.05, 0.05, 0.002), origin=(0.2, 0, 0),
                              units="mm-kg-s-N-K")
        assert point_array(far, "Distance").min() > 100  # beside the cloud, not on its plane

    def test_a_cloud_on_the_walls_of_a_duct_is_measured_to_them_at_its_edges_too(self):
        # Face centres 4 mm apart on a square duct's walls; a shell meshed on the same walls in
        # 2 mm quadrilaterals. Near an edge a point's nearest cloud points lie on two walls and
        # span no one plane; the shell's nodes lie on the walls all the same.
        points, quads = duct_walls(2.0)
        source = cloud(duct_face_centres(4.0), linear, "mm")
        model = host_model_of(points / 1000, T.Quad4, quads, units="mm-kg-s-N-K")
        fieldferry.map_scalar_field_to_mesh("Pressure", "Linear fit", source, model, True, 1.0)
        (_, leaf), = leaves(model)
        assert point_array(leaf, "Distance").max() < 1e-6

    def test_volume_leaf_keeps_its_cells_and_gets_distances(self):
        source = label_source(with_fields(plane_surface(4, size=1.0, z=0.0), linear))
        _, (leaf,) = map_block(source, "Point cloud or mesh", tolerance=0.1, size=(1, 1, 0.5))
        assert leaf.GetNumberOfCells() == 64
        assert np.allclose(point_array(leaf, "Distance"), points_of(leaf)[:, 2])

    def test_points_past_the_distance_volume_are_far_not_at_distance_zero(self):
        # The body reaches 0.5 past the cloud, out of its volume (grown by 12.5 mm per side): the
        # resampling finds no voxel there. Those points get their distance to the cloud, capped
        # beyond the radius, the same from the full volume as from the corners read.
        source = random_cloud(5000, seed=16)
        got = {}
        for full in (False, True):
            model = hex_block_model(n=(6, 4, 4), size=(1.5, 1, 1))
            fieldferry.map_scalar_field_to_mesh("Temperature", "Point cloud or mesh", source, model,
                                                False, 0.01, full_distance_volume=full,
                                                cloud_distance="nearest")
            (leaf,) = [leaf for _, leaf in leaves(model)]
            got[full] = point_array(leaf, "Distance")
        x = points_of(leaf)[:, 0]
        assert np.array_equal(got[False], got[True])
        assert (got[False][x > 1.1] == np.float32(1e38)).all()
        within = got[False][x < 1.0]
        assert (within > 0).all() and np.median(within) < 0.05


class TestDriver:
    def test_pressure_maps_onto_the_surface_with_tags_and_units(self):
        source = random_cloud(1000, seed=16)
        model, (leaf,) = map_block(source, field="Pressure", boundary_only=False)
        assert isinstance(leaf, vtk.vtkPolyData) and leaf.GetNumberOfPoints() == 98
        assert string_field(leaf, "Body pathName") == "M/P/Block"
        assert string_field(leaf, "mesh_type") is not None
        assert string_field(leaf, "mesh_order") is not None
        assert string_field(leaf, "units_pressure") == "Pa"
        assert leaf.GetFieldData().GetAbstractArray("units_temperature") is None

    def test_temperature_maps_onto_the_whole_body(self):
        _, (leaf,) = map_block(random_cloud(100, seed=17))
        assert isinstance(leaf, vtk.vtkUnstructuredGrid) and leaf.GetNumberOfPoints() == 125
        assert string_field(leaf, "units_temperature") == "K"

    def test_other_field_names_map_without_unit_label(self):
        source = random_cloud(300, seed=18)
        array = ns.numpy_to_vtk(np.ones(300), deep=1)
        array.SetName("Heat flux")
        source.GetPointData().AddArray(array)
        _, (leaf,) = map_block(source, field="Heat flux", tolerance=0.1)
        assert (point_array(leaf, "Heat flux") == 1).all()
        assert point_array(leaf, "Distance").size == 125  # location "Point": no cell array
        assert leaf.GetCellData().GetArray("Distance") is None
        for name in ("units_pressure", "units_temperature"):
            assert leaf.GetFieldData().GetAbstractArray(name) is None

    def test_empty_blocks_are_skipped(self):
        model = hex_block_model()
        model.SetBlock(model.GetNumberOfBlocks(), None)
        fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", random_cloud(20), model,
                                            False, None)
        assert model.GetBlock(model.GetNumberOfBlocks() - 1) is None

    def test_unmapped_counts_per_body(self):
        source = label_source(with_fields(plane_surface(4, size=1.0, z=0.0), linear))
        map_block(source, "Mesh only")
        assert fieldferry.last_unmapped_counts == {"M/P/Block": 125 - 25}

    def test_diagnostic_files_go_into_the_diagnostics_folder(self):
        source = random_cloud(200, seed=19)
        map_block(source, tolerance=0.1, field="Pressure")
        written = sorted(os.listdir(fieldferry.diagnostics_dir))
        assert written == ["from_mesh_with_unisgned_distances.vtp", "to_mesh_with_distances.vtp"]
        reader = vtk.vtkXMLPolyDataReader()
        reader.SetFileName(os.path.join(fieldferry.diagnostics_dir, written[0]))
        reader.Update()
        assert np.array_equal(point_array(reader.GetOutput(), "Pressure"),
                              point_array(source, "Pressure"))

    def test_no_diagnostic_files_without_tolerance_or_without_folder(self, monkeypatch, tmp_path):
        map_block(random_cloud(200, seed=20))
        assert os.listdir(fieldferry.diagnostics_dir) == []
        monkeypatch.setattr(fieldferry, "diagnostics_dir", None)
        monkeypatch.chdir(tmp_path)
        map_block(random_cloud(200, seed=20), tolerance=0.1)
        assert os.listdir(tmp_path) == []

    def test_fresh_import_defaults_to_the_temporary_directory(self):
        # Imported before vtk: the returned datasets must still be VTK's own objects.
        code = ("import fieldferry, tempfile, sys; sys.path.insert(0, %r); import ferry_builders as b;"
                "out = fieldferry.interpolate_scalar_field_using_probe_filter('Pressure', "
                "b.random_cloud(5) if hasattr(b, 'random_cloud') else b.cloud([[0, 0, 0]], "
                "lambda p: p[:, 0]), b.plane_surface(1)); assert out.GetNumberOfPoints() == 4;"
                "assert fieldferry.diagnostics_dir == tempfile.gettempdir()"
                % os.path.dirname(__file__))
        subprocess.run([sys.executable, "-c", code], check=True, env=dict(os.environ))


ALL_ALGORITHMS = ["Point cloud or mesh", "Mesh only", "Coarse to fine", "Surface projection",
                  "Linear fit"]


def block_copy_numbered_backwards(n=3):
    """(model, source): a hex block model and, as the source, a copy of its grid whose nodes are
    numbered the other way round, as a thermal result exported from another FE model would be,
    carrying "Temperature" = x and arrays of the names a mapped leaf keeps for itself."""
    model = hex_block_model(n=(n, n, n))
    (_, body), = leaves(model)
    source = vtk.vtkUnstructuredGrid()
    source.DeepCopy(body)
    node_ids = ns.vtk_to_numpy(source.GetPointData().GetArray("Node ID"))
    node_ids[:] = node_ids[::-1].copy()
    for name, values in (("Temperature", points_of(source)[:, 0]),
                         ("Distance", np.full(source.GetNumberOfPoints(), 99.0)),
                         (MASK, np.zeros(source.GetNumberOfPoints(), np.uint8))):
        array = ns.numpy_to_vtk(np.ascontiguousarray(values), deep=1)
        array.SetName(name)
        source.GetPointData().AddArray(array)
    return model, label_source(source)


class TestMappedLeafIsTheBodys:
    @pytest.mark.parametrize("algorithm", ALL_ALGORITHMS)
    def test_source_arrays_sharing_a_name_do_not_replace_the_bodys(self, algorithm):
        model, source = block_copy_numbered_backwards()
        (_, body), = leaves(model)
        node_ids = point_array(body, "Node ID").copy()
        element_ids = ns.vtk_to_numpy(body.GetCellData().GetArray("Element ID")).copy()
        fieldferry.map_scalar_field_to_mesh("Temperature", algorithm, source, model, False, None)
        (_, leaf), = leaves(model)
        assert (point_array(leaf, "Node ID") == node_ids).all()
        assert (ns.vtk_to_numpy(leaf.GetCellData().GetArray("Element ID")) == element_ids).all()
        assert leaf.GetPointData().GetArray("Distance") is None  # no tolerance: no distance
        assert point_array(leaf, MASK).any()  # the mapping's mask, not the source's zeros
        if algorithm != "Coarse to fine":
            assert np.allclose(point_array(leaf, "Temperature"), points_of(leaf)[:, 0])

    def test_mapping_again_measures_the_new_sources_distance(self):
        model = hex_block_model(n=(2, 2, 2))
        near = label_source(with_fields(plane_surface(2, z=0.0), linear))
        far = label_source(with_fields(plane_surface(2, z=50.0), linear))
        for source, lowest in ((near, 0.0), (far, 49.0)):
            fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source, model,
                                                True, 0.1)
            (_, leaf), = leaves(model)
            assert point_array(leaf, "Distance").min() == pytest.approx(lowest)
            assert ns.vtk_to_numpy(leaf.GetCellData().GetArray("Distance")).min() >= lowest

    @pytest.mark.parametrize("as_grid", [False, True])
    def test_points_inside_a_volume_source_are_at_distance_zero(self, as_grid):
        volume = vtk.vtkImageData()
        volume.SetDimensions(6, 6, 6)
        volume.SetOrigin(-0.5, -0.5, -0.5)
        volume.SetSpacing(0.4, 0.4, 0.4)
        with_fields(volume, linear)
        if as_grid:
            append = vtk.vtkAppendFilter()
            append.AddInputData(volume)
            append.Update()
            volume = append.GetOutput()
        _, (leaf,) = map_block(label_source(volume), "Mesh only", tolerance=0.05)
        assert leaf.GetNumberOfPoints() == 125
        assert (point_array(leaf, "Distance") == 0).all()


def triangles_of(data):
    return ns.vtk_to_numpy(data.GetPolys().GetConnectivityArray()).reshape(-1, 3)


class TestFaceValues:
    """A field held per face (CFD wall values) is used as such."""

    NODE_METHODS = ("Surface projection", "Mesh only", "Point cloud or mesh", "Linear fit")

    @staticmethod
    def uneven_sheet():
        """A plane's triangulation with corners moved about, so that faces around a point differ
        in size and shape (an average of the faces around a point is then off a linear field)."""
        source = plane_surface(6)
        xyz = points_of(source)
        inner = (xyz[:, 0] > 0) & (xyz[:, 0] < 1) & (xyz[:, 1] > 0) & (xyz[:, 1] < 1)
        xyz[inner, :2] += np.random.default_rng(3).uniform(-0.06, 0.06, (inner.sum(), 2))
        # In single precision, as the bodies' nodes are: a node is then where its source point is.
        return polydata(xyz.astype(np.float32), triangles_of(source))

    def test_node_methods_carry_a_linear_field_held_per_face_exactly(self):
        source = self.uneven_sheet()
        xyz, tris = points_of(source), triangles_of(source)
        field = lambda p: 1e5 + 3e4 * p[:, 0] - 2e4 * p[:, 1]  # noqa: E731
        with_face_values(source, field(xyz[tris].mean(axis=1)))
        centre = xyz[tris].mean(axis=1, keepdims=True)
        inner = (centre + 0.7 * (xyz[tris] - centre)).reshape(-1, 3)  # each face shrunk in place
        inside = (inner, np.arange(len(inner)).reshape(-1, 3))
        for method in self.NODE_METHODS:
            # The nearest point's value is exact only on the source's own points.
            at, rows = (xyz, tris) if method == "Point cloud or mesh" else inside
            model = host_model_of(at, T.Tria3, rows)
            fieldferry.map_scalar_field_to_mesh("Pressure", method, source, model, True, None)
            (_, leaf), = leaves(model)
            assert np.allclose(point_array(leaf, "Pressure"), field(points_of(leaf)), rtol=1e-11), \
                method

    def test_a_field_uniform_over_the_faces_stays_uniform(self):
        source = with_face_values(self.uneven_sheet(), np.full(72, 123456.789))
        for method in self.NODE_METHODS:
            model = host_model_of(points_of(source), T.Tria3, triangles_of(source))
            fieldferry.map_scalar_field_to_mesh("Pressure", method, source, model, True, None)
            (_, leaf), = leaves(model)
            assert np.allclose(point_array(leaf, "Pressure"), 123456.789, rtol=1e-15, atol=0)

    def test_cell_values_of_a_volume_reach_its_boundary_nodes_exactly_for_a_linear_field(self):
        # The outer layer's cell centres lie in one plane parallel to the boundary: the fit
        # must reach past them to find the slope across it.
        grid = vtk.vtkRectilinearGrid()
        axes = [np.array([0, 0.1, 0.35, 0.5, 0.8, 1.0]), np.array([0, 0.4, 0.5, 1.0]),
                np.array([0, 0.3, 1.0])]
        grid.SetDimensions(*(len(a) for a in axes))
        for set_axis, a in zip((grid.SetXCoordinates, grid.SetYCoordinates,
                                grid.SetZCoordinates), axes):
            set_axis(ns.numpy_to_vtk(a, deep=1))
        centres = vtk.vtkCellCenters()
        centres.SetInputData(grid)
        centres.Update()
        field = lambda p: 300 + 50 * p[:, 0] + 20 * p[:, 1] - 70 * p[:, 2]  # noqa: E731
        with_face_values(grid, field(points_of(centres.GetOutput())), "Temperature")
        model = hex_block_model(n=(3, 3, 3))
        fieldferry.map_scalar_field_to_mesh("Temperature", "Surface projection", grid, model, False,
                                            None)
        (_, leaf), = leaves(model)
        assert np.allclose(point_array(leaf, "Temperature"), field(points_of(leaf)), rtol=1e-12)

    def test_more_fields_map_with_the_same_geometry_as_separate_calls(self):
        source = label_source(with_fields(plane_surface(6), smooth))
        with_face_values(source, np.arange(source.GetNumberOfCells()), "Wall heat")
        _, (together,) = map_block(source, "Surface projection", field="Pressure",
                                   boundary_only=True)
        assert string_field(together, "units_pressure") == "Pa"
        model = hex_block_model()
        fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source, model, True,
                                            None, more_fields=["Temperature", "Wall heat"])
        (_, leaf), = leaves(model)
        for name in ("Pressure", "Temperature", "Wall heat"):
            _, (alone,) = map_block(source, "Surface projection", field=name, boundary_only=True)
            assert (point_array(leaf, name) == point_array(alone, name)).all(), name
        assert string_field(leaf, "units_temperature") == "K"
        assert string_field(leaf, "units_pressure") == "Pa"


def newell_normal(corners):
    return 0.5 * np.cross(corners, np.roll(corners, -1, axis=0)).sum(axis=0)


def orientations(grid):
    """Per cell, the sign of its volume (from its faces) or, for a flat cell, of its normal's z."""
    signs = []
    for c in range(grid.GetNumberOfCells()):
        cell = grid.GetCell(c)
        if cell.GetCellDimension() == 2:
            signs.append(np.sign(newell_normal(points_of(cell)[:cell.GetNumberOfEdges()])[2]))
            continue
        volume = 0.0
        for f in range(cell.GetNumberOfFaces()):
            face = cell.GetFace(f)
            corners = points_of(face)[:face.GetNumberOfEdges()]
            volume += corners.mean(axis=0) @ newell_normal(corners) / 3
        signs.append(np.sign(volume))
    return signs


class TestTransform:
    def test_a_rotated_source_moved_back_maps_the_field_where_it_belongs(self):
        rng = np.random.default_rng(11)
        points = rng.uniform(-0.2, 1.2, (3000, 3))
        turned = points @ np.array([[0, -1, 0], [1, 0, 0], [0, 0, 1]]).T  # 90 deg about z
        source = cloud(turned, lambda p: np.zeros(len(p)))
        field = ns.numpy_to_vtk(linear(points), deep=1)  # the field of the unturned points
        field.SetName("Temperature")
        source.GetPointData().AddArray(field)
        back = vtk.vtkTransform()
        back.RotateZ(-90)
        as_rows = [[back.GetMatrix().GetElement(r, c) for c in range(4)] for r in range(4)]
        for transform in (back, as_rows):
            model = hex_block_model()
            fieldferry.map_scalar_field_to_mesh("Temperature", "Linear fit", source, model, False,
                                                None, transform=transform)
            (_, leaf), = leaves(model)
            assert np.allclose(point_array(leaf, "Temperature"), linear(points_of(leaf)),
                               atol=1e-9)

    @pytest.mark.parametrize("cell_type", [
        vtk.VTK_TRIANGLE, vtk.VTK_QUAD, vtk.VTK_QUADRATIC_TRIANGLE, vtk.VTK_QUADRATIC_QUAD,
        vtk.VTK_TETRA, vtk.VTK_HEXAHEDRON, vtk.VTK_WEDGE, vtk.VTK_PYRAMID,
        vtk.VTK_QUADRATIC_TETRA, vtk.VTK_QUADRATIC_HEXAHEDRON, vtk.VTK_QUADRATIC_WEDGE,
        vtk.VTK_QUADRATIC_PYRAMID])
    def test_a_mirror_keeps_each_cells_orientation_and_its_mid_side_points(self, cell_type):
        cells = vtk.vtkCellTypeSource()
        cells.SetCellType(cell_type)
        cells.SetBlocksDimensions(2, 1, 1)
        cells.Update()
        grid = label_source(cells.GetOutput())
        mirror = [[1, 0, 0, 0], [0, -1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]]
        placed = fieldferry.place_source(grid, 1.0, mirror)
        assert np.array_equal(points_of(placed), points_of(grid) * [1, -1, 1])
        assert orientations(placed) == orientations(grid)
        for c in range(placed.GetNumberOfCells()):
            cell = placed.GetCell(c)
            for e in range(cell.GetNumberOfEdges()):
                edge = points_of(cell.GetEdge(e))
                if len(edge) == 3:  # a quadratic edge: its mid-side point between its ends
                    assert edge[2] == pytest.approx((edge[0] + edge[1]) / 2)

    def test_a_mirrored_wall_and_its_normals_still_point_out_of_the_fluid(self):
        wall = label_source(plane_surface(2))  # winding normal +z: the fluid below
        normals = ns.numpy_to_vtk(np.tile([0.0, 0.0, 1.0], (wall.GetNumberOfCells(), 1)), deep=1)
        normals.SetName("Normals")  # carried, but not marked as the normals
        wall.GetCellData().AddArray(normals)
        turned = [[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, -1, 0], [0, 0, 0, 1]]  # the fluid above
        placed = fieldferry.place_source(wall, 1000.0, turned)
        assert [newell_normal(points_of(placed.GetCell(c)))[2] for c in range(8)] == [-125000] * 8
        assert (ns.vtk_to_numpy(placed.GetCellData().GetArray("Normals")) == [0, 0, -1]).all()
        assert string_field(placed, "current_units_length") == "m"  # the caller relabels it

    @pytest.mark.parametrize("transform, error, match", [
        ([[1, 0, 0], [0, 1, 0], [0, 0, 1]], TypeError, "transform must be a 4x4 matrix"),
        ("shift", TypeError, "transform must be a 4x4 matrix"),
        ([[1, 0, 0, 0], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0.5, 1]], ValueError,
         "last row is \\(0, 0, 0.5, 1\\)"),
        ([[1, 0, 0, math.nan], [0, 1, 0, 0], [0, 0, 1, 0], [0, 0, 0, 1]], ValueError,
         "non-finite entry nan")])
    def test_bad_transforms_are_named(self, transform, error, match):
        with pytest.raises(error, match=match):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Linear fit", random_cloud(20),
                                                hex_block_model(), False, None,
                                                transform=transform)


def wall_with_cuts(points, tris, cuts, field):
    """A source of a cylinder's wall plus the faces `cuts` ((points, triangles) each, lying where
    the fluid goes on into a copy), the cut faces carrying a pressure no wall has."""
    source_points, source_tris = [points], list(tris)
    for cut_points, cut_tris in cuts:
        start = sum(len(p) for p in source_points)
        source_points.append(cut_points)
        source_tris += [tuple(i + start for i in t) for t in cut_tris]
    source = polydata(np.vstack(source_points), source_tris)
    values = field(points_of(source))
    values[len(points):] = 1e9
    array = ns.numpy_to_vtk(values, deep=1)
    array.SetName("Pressure")
    source.GetPointData().AddArray(array)
    return label_source(source)


def radial_face(angle):
    """Two triangles from the axis out to the wall at `angle` degrees, the cylinder's height."""
    c, s = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    return np.array([[0, 0, 0], [c, s, 0], [c, s, 1], [0, 0, 1]]), [(0, 1, 2), (0, 2, 3)]


def mapped_onto_whole_cylinder(source, **copies):
    points, tris = cylinder_wall(36, 5)  # other nodes than the source's
    model = host_model_of(points + copies.pop("shift", 0.0), T.Tria3, tris)
    fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source, model, True,
                                        None, **copies)
    (_, leaf), = leaves(model)
    return point_array(leaf, "Pressure")


class TestCopies:
    """A half or a sector of a CFD model loads the whole structure as the whole model would."""

    def test_a_half_cylinder_mirrored_loads_the_whole_as_the_whole_source_does(self):
        centre = np.array([0.0, 0.3, 0.0])

        def even_in_y(p):
            return 1 + p[:, 0] + p[:, 2] ** 2 + (p[:, 1] - centre[1]) ** 2

        whole = label_source(with_fields(polydata(*cylinder_wall(24, 4, centre=centre)),
                                         even_in_y))
        half = wall_with_cuts(*cylinder_wall(12, 4, 0, 180, centre),
                              [(np.array([[-1, 0, 0], [1, 0, 0], [1, 0, 1], [-1, 0, 1]]) + centre,
                                [(0, 1, 2), (0, 2, 3)])], even_in_y)
        mirror = (0, 2, 0, *centre)
        assert fieldferry.place_source(half, mirror=mirror).GetNumberOfCells() == 2 * 96
        expected = mapped_onto_whole_cylinder(whole, shift=centre)
        got = mapped_onto_whole_cylinder(half, shift=centre, mirror=mirror)
        # The mirrored half's quads are split along the other diagonal: the same up to rounding.
        assert np.allclose(got, expected, rtol=0, atol=1e-6)

    def test_a_quarter_turned_three_times_loads_the_whole_ring(self):
        def fourfold(p):  # cos(4 theta) on the unit circle, and the height
            x, y = p[:, 0], p[:, 1]
            return 2 + x ** 4 - 6 * x ** 2 * y ** 2 + y ** 4 + p[:, 2]

        whole = label_source(with_fields(polydata(*cylinder_wall(24, 4)), fourfold))
        quarter = wall_with_cuts(*cylinder_wall(6, 4, 0, 90), [radial_face(0), radial_face(90)],
                                 fourfold)
        placed = fieldferry.place_source(quarter, sector=(4, 0, 0, 1))
        assert placed.GetNumberOfCells() == 4 * 48  # the walls alone: the cut faces dropped
        assert ns.vtk_to_numpy(placed.GetFieldData().GetArray("Source copies")).tolist() == [3]
        assert np.allclose(mapped_onto_whole_cylinder(quarter, sector=(4, 0, 0, 1)),
                           mapped_onto_whole_cylinder(whole), rtol=0, atol=1e-9)

    def test_a_blade_read_without_its_hub_keeps_its_faces(self):
        # It spans no sector: its flat faces along a plane through the axis are no cut.
        blade = label_source(polydata(*radial_face(20)))
        assert fieldferry.place_source(blade, sector=(4, 0, 0, 1)).GetNumberOfCells() == 8

    def test_a_normals_array_turns_with_its_copy(self):
        points, tris = cylinder_wall(6, 1, 0, 90)
        wall = label_source(polydata(points, tris))
        radial = ns.numpy_to_vtk(points * [1, 1, 0], deep=1)
        radial.SetName("Normals")
        wall.GetPointData().AddArray(radial)
        for copies in ({"mirror": (1, 1, 0)}, {"sector": (4, 0, 0, 1)}):
            placed = fieldferry.place_source(wall, **copies)
            normals = point_array(placed, "Normals").reshape(-1, 3)
            assert np.allclose(normals, points_of(placed) * [1, 1, 0], atol=1e-12), copies

    @pytest.mark.parametrize("copies, error, match", [
        ({"mirror": (0, 0, 0)}, ValueError, "mirror's direction is \\(0, 0, 0\\)"),
        ({"mirror": (0, 1)}, TypeError, "mirror must be None or \\(nx, ny, nz"),
        ({"sector": (2.5, 0, 0, 1)}, ValueError, "sector's count is 2.5"),
        ({"sector": (1, 0, 0, 1)}, ValueError, "from 2 to 3600"),
        ({"sector": (3, 0, 0, math.inf)}, ValueError, "sector has a non-finite entry inf")])
    def test_bad_copies_are_named(self, copies, error, match):
        with pytest.raises(error, match=match):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Linear fit", random_cloud(20),
                                                hex_block_model(), False, None, **copies)


class TestSourceAndModelApart:
    def test_a_source_1000_times_too_large_is_named_with_both_boxes(self, capsys):
        points = np.random.default_rng(3).random((200, 3)) * 1000.0
        points[0] = 0.0  # a model in mm read as m: the boxes share a corner
        map_block(cloud(points, smooth))
        out = capsys.readouterr().out
        assert "Warning: the source's bounding box (x 0 to 999" in out
        assert "and the model's (x 0 to 1, y 0 to 1, z 0 to 1), both in m" in out
        assert "differ in size" in out

    def test_required_overlap_raises_before_any_leaf_is_touched(self):
        model = hex_block_model()
        before = [leaf for _, leaf in leaves(model)]
        with pytest.raises(ValueError, match="do not overlap; are the length units"):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Point cloud or mesh",
                                                random_cloud(50, lo=5.0, hi=6.0), model, False,
                                                None, require_overlap=True)
        assert [leaf for _, leaf in leaves(model)] == before

    def test_a_wall_a_rounding_short_or_half_a_plate_off_is_no_unit_mistake(self):
        # A float64 wall 2.4e-6 mm under the block's bottom face; a mid-surface shell (z = 0)
        # under the fluid's wall at z = 5 mm, half the plate's thickness: both normal inputs.
        short = label_source(with_fields(plane_surface(4, size=1.0, z=-2.4e-9), smooth))
        fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", short, hex_block_model(),
                                            False, None, require_overlap=True)
        plate = plane_surface(4, size=0.1)
        shell = host_model_of(points_of(plate), T.Tria3, triangles_of(plate), units="mm-kg-s-N-K")
        wall = label_source(with_fields(plane_surface(4, size=100.0, z=5.0), smooth), "mm")
        fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", wall, shell, True,
                                            1.0, require_overlap=True)

    def test_a_source_over_the_model_maps_silently(self, capsys):
        map_block(random_cloud(200, seed=4, lo=-0.2, hi=1.2))
        assert capsys.readouterr().out == ""

    def test_mesh_only_from_a_point_cloud_says_it_maps_nothing(self, capsys):
        map_block(random_cloud(200, seed=5), "Mesh only")
        out = capsys.readouterr().out
        assert "\"Mesh only\" maps nothing from this source: it has 200 points and no cells" in out
        assert fieldferry.last_unmapped_counts == {"M/P/Block": 125}


class TestExport:
    @pytest.mark.parametrize("make, extension", [
        (vtk.vtkMultiBlockDataSet, "vtm"), (vtk.vtkUnstructuredGrid, "vtu"),
        (vtk.vtkPolyData, "vtp"), (vtk.vtkImageData, "vti")])
    def test_writer_by_type(self, tmp_path, make, extension):
        data = make()
        if isinstance(data, vtk.vtkMultiBlockDataSet):
            data.SetBlock(0, plane_surface(1))
        fieldferry.export_vtk_file(data, str(tmp_path / "out"))
        assert f"out.{extension}" in os.listdir(tmp_path)

    def test_ascii_mode_and_round_trip(self, tmp_path):
        data = plane_surface(2)
        fieldferry.export_vtk_file(data, tmp_path / "plate", binary=False)
        text = (tmp_path / "plate.vtp").read_text()
        assert 'format="ascii"' in text
        reader = vtk.vtkXMLPolyDataReader()
        reader.SetFileName(str(tmp_path / "plate.vtp"))
        reader.Update()
        assert np.array_equal(points_of(reader.GetOutput()), points_of(data))

    def test_other_types_are_skipped(self, tmp_path):
        fieldferry.export_vtk_file(vtk.vtkTable(), str(tmp_path / "t"))
        assert os.listdir(tmp_path) == []

    def test_unwritable_path_raises(self, tmp_path):
        with pytest.raises(OSError, match="no_such_dir"):
            fieldferry.export_vtk_file(plane_surface(1), str(tmp_path / "no_such_dir" / "x"))


class TestBadInput:
    def call(self, field="Temperature", algorithm="Mesh only", source=None, model=None,
             tolerance=None):
        source = random_cloud(50) if source is None else source
        model = hex_block_model() if model is None else model
        return fieldferry.map_scalar_field_to_mesh(field, algorithm, source, model, False,
                                                   tolerance)

    def test_unknown_algorithm_lists_the_three_names_before_touching_leaves(self):
        model = hex_block_model()
        before = [leaf for _, leaf in leaves(model)]
        with pytest.raises(ValueError, match="Nearest.*'Point cloud or mesh', 'Mesh only', "
                                             "'Coarse to fine'"):
            self.call(algorithm="Nearest", model=model)
        assert [leaf for _, leaf in leaves(model)] == before

    @pytest.mark.parametrize("label, where", [("current_units_length", "source"),
                                              ("units_temperature", "source")])
    def test_missing_unit_arrays_on_source(self, label, where):
        source = random_cloud(50)
        source.GetFieldData().RemoveArray(label)
        with pytest.raises(KeyError, match=label):
            self.call(source=source)

    def test_missing_unit_system_on_model(self):
        model = hex_block_model()
        model.GetFieldData().RemoveArray("unit_system_label")
        with pytest.raises(KeyError, match="unit_system_label"):
            self.call(model=model)

    def test_missing_field_names_field_and_the_arrays_present(self):
        model = hex_block_model()
        before = [leaf for _, leaf in leaves(model)]
        with pytest.raises(KeyError, match="'Velocity'.*'Pressure', 'Temperature'"):
            self.call(field="Velocity", model=model)
        assert [leaf for _, leaf in leaves(model)] == before

    def test_a_grid_source_in_mm_is_scaled_like_polydata(self):
        cloud_mm = random_cloud(50, length="mm", hi=1000.0)
        append = vtk.vtkAppendFilter()
        append.AddInputData(cloud_mm)
        append.Update()
        grid = append.GetOutput()
        grid.GetFieldData().PassData(cloud_mm.GetFieldData())
        values = [point_array(leaves(self.call(algorithm="Point cloud or mesh", source=s))[0][1],
                              "Temperature") for s in (cloud_mm, grid)]
        assert (values[0] == values[1]).all()

    def test_empty_source(self):
        with pytest.raises(ValueError, match="empty"):
            self.call(source=cloud(np.zeros((0, 3)), linear))

    @pytest.mark.parametrize("bad", [np.nan, np.inf])
    def test_non_finite_source_coordinates(self, bad):
        pts = np.random.default_rng(0).random((20, 3))
        pts[7, 1] = bad
        with pytest.raises(ValueError, match="non-finite coordinate at point 7"):
            self.call(source=cloud(pts, lambda p: np.zeros(len(p))))

    def test_unknown_length_label_is_named(self):
        with pytest.raises(ValueError, match="furlong"):
            self.call(source=random_cloud(50, length="furlong"))

    @pytest.mark.parametrize("args, match", [
        ((None, "Mesh only"), "field_name must be text"),
        (("Temperature", 3), "mapping_algorithm must be text")])
    def test_wrong_text_arguments(self, args, match):
        with pytest.raises(TypeError, match=match):
            fieldferry.map_scalar_field_to_mesh(*args, random_cloud(5), hex_block_model(), False,
                                                None)

    @pytest.mark.parametrize("boundary_only, tolerance, error, match", [
        ("no", None, TypeError, "boundary_only must be True or False, not 'no'"),
        (False, "abc", TypeError, "tolerance must be a number, not str"),
        (False, -1.0, ValueError, "tolerance must be None or a distance of 0 or more, not -1"),
        (False, math.nan, ValueError, "tolerance must be None or a distance of 0 or more, not nan")])
    def test_flag_and_tolerance_are_checked_at_the_call(self, boundary_only, tolerance, error,
                                                        match):
        with pytest.raises(error, match=match):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", random_cloud(5),
                                                hex_block_model(), boundary_only, tolerance)

    def test_field_of_several_components_is_refused(self):
        source = random_cloud(20)
        vector = ns.numpy_to_vtk(np.zeros((20, 3)), deep=1)
        vector.SetName("Pressure")
        source.GetPointData().AddArray(vector)
        with pytest.raises(ValueError, match="'Pressure' has 3 components; a scalar field has 1"):
            self.call(field="Pressure", source=source)

    def test_wrong_dataset_kinds(self):
        with pytest.raises(TypeError, match="from_mesh must be a VTK dataset, not NoneType"):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", None,
                                                hex_block_model(), False, None)
        with pytest.raises(TypeError, match="to_mesh must be a vtkMultiBlockDataSet"):
            self.call(model=plane_surface(1))

    def test_non_finite_leaf_is_found_before_any_leaf_is_mapped(self):
        extra = ("Plate", [[0, 0, 0], [1, 0, 0], [0, 1, 0]], T.Tria3, [(0, 1, 2)])
        model = hex_block_model(extra_bodies=[extra])
        (_, first), (_, second) = leaves(model)
        points = second.GetPoints()
        points.SetPoint(1, math.nan, 0, 0)
        with pytest.raises(ValueError, match="map_scalar_field_to_mesh: body 'M/P/Plate' has a "
                                             "non-finite coordinate at point 1"):
            self.call(model=model)
        (_, first_after), (_, second_after) = leaves(model)
        assert first_after is first and second_after is second
        assert fieldferry.last_unmapped_counts == {}

    @pytest.mark.parametrize("op", ["interpolate_scalar_field_using_point_interpolator",
                                    "interpolate_scalar_field_using_probe_filter",
                                    "interpolate_coarse_field_onto_fine_field",
                                    "interpolate_scalar_field_using_surface_projection",
                                    "interpolate_scalar_field_using_linear_fit"])
    def test_methods_refuse_none_and_empty_sources(self, op):
        with pytest.raises(TypeError, match=f"{op}: from_mesh"):
            getattr(fieldferry, op)("Pressure", None, plane_surface(1))
        with pytest.raises(ValueError, match=f"{op}: the source .* empty"):
            getattr(fieldferry, op)("Pressure", vtk.vtkPolyData(), plane_surface(1))

    def test_bad_radius_and_bad_distance_volume(self):
        with pytest.raises(ValueError, match="radius"):
            fieldferry.interpolate_coarse_field_onto_fine_field(
                "Pressure", random_cloud(10), plane_surface(1), radius=-1.0)
        with pytest.raises(KeyError, match="ImageScalars"):
            image = vtk.vtkImageData()
            image.SetDimensions(2, 2, 2)
            fieldferry.generate_distance_field(plane_surface(1), image, "Point")

    def test_bad_diagnostics_folder_value(self, monkeypatch):
        monkeypatch.setattr(fieldferry, "diagnostics_dir", 42)
        with pytest.raises(TypeError, match="diagnostics_dir"):
            self.call()


class TestGmshMeshes:
    """Real meshes: the unmapped points of each method against an independent computation."""

    def test_probe_mask_on_a_box_with_a_hole_matches_point_in_cell(self):
        points, tets = gmsh_box_with_hole(size=0.2)
        model = host_model_of(points, T.Tetra4, tets)
        fine, fine_tets = gmsh_box_with_hole(size=0.08)
        source = label_source(with_fields(_surface_of(fine, fine_tets), smooth))
        fieldferry.map_scalar_field_to_mesh("Pressure", "Mesh only", source, model, True, None)
        (_, leaf), = leaves(model)
        distance = vtk.vtkImplicitPolyDataDistance()
        distance.SetInput(source)
        off = np.array([abs(distance.EvaluateFunction(p)) > 1e-6 for p in points_of(leaf)])
        mask = point_array(leaf, MASK)
        assert off.sum() > 0 and (~off).sum() > 0
        assert np.array_equal(mask == 0, off)
        assert fieldferry.last_unmapped_counts == {"M/P/Body": int(off.sum())}

    def test_splat_mask_on_a_cylinder_shell_matches_a_radius_search(self):
        points, tris = gmsh_cylinder_shell(0.1)
        model = host_model_of(points, T.Tria3, tris)
        rng = np.random.default_rng(21)
        angle, height = rng.random(30000) * 2 * np.pi, rng.random(30000)
        src_pts = np.column_stack([0.5 * np.cos(angle), 0.5 * np.sin(angle), height])
        source = cloud(src_pts * 1000.0, lambda p: smooth(p / 1000.0), "mm")
        fieldferry.map_scalar_field_to_mesh("Pressure", "Coarse to fine", source, model, True,
                                            None)
        (_, leaf), = leaves(model)
        expected = expected_splat_mask(points_of(leaf), src_pts, 0.01)
        mask = point_array(leaf, MASK)
        assert 0 < (mask == 0).sum() < len(mask)
        assert np.array_equal(mask.astype(bool), expected)

    def test_cylinder_in_mm_and_m_give_the_same_coarse_to_fine_values(self):
        points, tris = gmsh_cylinder_shell(0.1)
        rng = np.random.default_rng(22)
        angle, height = rng.random(30000) * 2 * np.pi, rng.random(30000)
        src_pts = np.column_stack([0.5 * np.cos(angle), 0.5 * np.sin(angle), height])
        results = []
        for units in ("m-kg-s-N-K", "mm-t-s-N-K"):
            model = host_model_of(points, T.Tria3, tris, units=units)
            fieldferry.map_scalar_field_to_mesh("Pressure", "Coarse to fine",
                                                cloud(src_pts, smooth, "m"), model, True, None)
            (_, leaf), = leaves(model)
            results.append((point_array(leaf, "Pressure"), point_array(leaf, MASK)))
        assert np.allclose(results[0][0], results[1][0], rtol=1e-4, atol=1e-6)
        # Float coordinates in mm are not exactly 1000 x those in m: a corner lying at the
        # radius may fall either side of it.
        assert (results[0][1] != results[1][1]).mean() < 0.01


def _surface_of(points, tets):
    grid = vtk.vtkUnstructuredGrid()
    vtk_points = vtk.vtkPoints()
    vtk_points.SetData(ns.numpy_to_vtk(np.ascontiguousarray(points), deep=1))
    grid.SetPoints(vtk_points)
    for tet in tets:
        grid.InsertNextCell(vtk.VTK_TETRA, 4, [int(i) for i in tet])
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(grid)
    surface.Update()
    return surface.GetOutput()


class TestMalformedDatasetsFoundByFuzzing:
    """Datasets a script can build that VTK's filters would read past; each must raise."""

    def volume(self, scalars):
        image = vtk.vtkImageData()
        image.SetDimensions(2, 2, 2)
        scalars.SetName("ImageScalars")
        image.GetPointData().AddArray(scalars)
        return image

    def target(self):
        return polydata([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 2]])

    def test_distance_volume_with_short_text_scalars_raises(self):
        text = vtk.vtkStringArray()
        text.SetNumberOfValues(1)
        with pytest.raises(TypeError, match="generate_distance_field.*ImageScalars.*string"):
            fieldferry.generate_distance_field(self.target(), self.volume(text), "Point")

    def test_distance_volume_with_short_scalars_raises(self):
        short = vtk.vtkDoubleArray()
        short.SetNumberOfValues(3)
        with pytest.raises(ValueError, match="distance volume.*'ImageScalars' of 3 values for "
                                             "8 points"):
            fieldferry.generate_distance_field(self.target(), self.volume(short), "Point")

    @pytest.mark.parametrize("method", ["interpolate_scalar_field_using_point_interpolator",
                                        "interpolate_scalar_field_using_probe_filter",
                                        "interpolate_coarse_field_onto_fine_field",
                                        "interpolate_scalar_field_using_surface_projection",
                                        "interpolate_scalar_field_using_linear_fit"])
    def test_interpolation_without_the_field_raises_instead_of_dropping_it(self, method):
        source = random_cloud(20)
        with pytest.raises(KeyError, match=f"{method}: the source .* no point or cell data array "
                                           "'Stress' .*'Pressure'"):
            getattr(fieldferry, method)("Stress", source, self.target())

    def test_field_name_utf8_cannot_carry_is_a_missing_field(self):
        # No VTK array can be named so; it used to surface as a bare RuntimeError of the cast.
        with pytest.raises(KeyError) as raised:
            fieldferry.interpolate_scalar_field_using_point_interpolator(
                "P\ud800", random_cloud(5), self.target())
        assert "no point or cell data array 'P\\ud800'" in raised.value.args[0]

    def test_text_field_raises(self):
        source = random_cloud(5)
        text = vtk.vtkStringArray()
        text.SetName("Label")
        text.SetNumberOfValues(5)
        source.GetPointData().AddArray(text)
        with pytest.raises(TypeError, match="'Label' holds string"):
            fieldferry.interpolate_scalar_field_using_probe_filter("Label", source, self.target())

    def test_short_source_field_raises(self):
        source = random_cloud(10)
        source.GetPointData().GetArray("Temperature").SetNumberOfTuples(4)
        with pytest.raises(ValueError, match="'Temperature' of 4 values for 10 points"):
            fieldferry.interpolate_scalar_field_using_point_interpolator(
                "Temperature", source, self.target())

    def test_cell_naming_a_missing_point_raises(self):
        target = polydata([[0, 0, 0], [1, 0, 0], [0, 1, 0]], [[0, 1, 7]])
        with pytest.raises(ValueError, match="target.*polygon 0 naming point 7, outside its points 0 to 2"):
            fieldferry.interpolate_scalar_field_using_probe_filter("Temperature",
                                                                   random_cloud(5), target)

    def test_leaf_with_short_array_raises_naming_the_body_before_any_leaf_changes(self):
        model = hex_block_model()
        before = [leaf for _, leaf in leaves(model)]
        before[-1].GetPointData().GetArray("Node ID").SetNumberOfTuples(1)
        with pytest.raises(ValueError, match="map_scalar_field_to_mesh: body '.*' has a point "
                                             "array 'Node ID' of 1 values"):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", random_cloud(20),
                                                model, False, None)
        assert [leaf for _, leaf in leaves(model)] == before

    def test_cloud_of_another_dataset_type_gets_distances(self):
        points = np.array([[0.0, 0.0, 0.0], [0.02, 0.0, 0.0], [0.0, 0.02, 0.0]])
        grid = vtk.vtkUnstructuredGrid()
        grid.SetPoints(cloud(points, linear).GetPoints())
        grid.GetPointData().ShallowCopy(cloud(points, linear).GetPointData())
        grid.GetFieldData().ShallowCopy(cloud(points, linear).GetFieldData())
        model, mapped = map_block(grid, tolerance=1.0, size=(0.02, 0.02, 0.02))
        distances = np.concatenate([point_array(leaf, "Distance") for leaf in mapped])
        assert distances.max() > 0

    def test_unknown_length_unit_names_the_call_and_the_labels(self):
        source = random_cloud(5, length="parsec")
        with pytest.raises(ValueError, match="map_scalar_field_to_mesh: cannot convert lengths "
                                             "from 'parsec' to 'm'.*unknown length unit"):
            fieldferry.map_scalar_field_to_mesh("Temperature", "Mesh only", source,
                                                hex_block_model(), False, None)

    def test_grid_source_without_outer_faces_measures_to_its_points(self):
        # Two copies of one tetrahedron share every face: the extracted surface is empty.
        grid = vtk.vtkUnstructuredGrid()
        points = vtk.vtkPoints()
        for x in ((0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)):
            points.InsertNextPoint(x)
        grid.SetPoints(points)
        for _ in range(2):
            grid.InsertNextCell(vtk.VTK_TETRA, 4, [0, 1, 2, 3])
        target = polydata([[3, 0, 0], [0, 3, 0], [0, 0, 3]], [[0, 1, 2]])
        out = fieldferry.generate_distance_field(target, grid, "Cell")
        assert point_array(out, "Distance") == pytest.approx([2.0, 2.0, 2.0])
