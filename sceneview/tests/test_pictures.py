"""Off-screen pictures a person can read: the fitted camera and its views, and unmapped points
that stay visible however small the body is drawn."""
import numpy as np
import pytest
import vtk
from vtkmodules.util import numpy_support

import sceneview


def _leaf_with_field(grid, values, mask=None):
    for name, data in (("T", values), ("vtkValidPointMask", mask)):
        if data is None:
            continue
        array = numpy_support.numpy_to_vtk(np.asarray(data, np.float32 if name == "T" else np.int8),
                                           deep=1)
        array.SetName(name)
        grid.GetPointData().AddArray(array)
    root = vtk.vtkMultiBlockDataSet()
    root.SetBlock(0, grid)
    return root


def hexa_box():
    """A 4 x 4 x 4 block of hexahedra over the unit cube, "T" = z."""
    image = vtk.vtkImageData()
    image.SetDimensions(5, 5, 5)
    image.SetSpacing(0.25, 0.25, 0.25)
    to_grid = vtk.vtkAppendFilter()
    to_grid.AddInputData(image)
    to_grid.Update()
    grid = to_grid.GetOutput()
    z = numpy_support.vtk_to_numpy(grid.GetPoints().GetData())[:, 2]
    return _leaf_with_field(grid, z)


def cylinder_shell():
    """An open quadrilateral shell around the z axis (radius 1, height 2), "T" = height."""
    n_around, n_up = 48, 8
    angle = np.linspace(0, 2 * np.pi, n_around, endpoint=False)
    z = np.linspace(0, 2, n_up + 1)
    a, zz = np.meshgrid(angle, z, indexing="ij")
    xyz = np.column_stack([np.cos(a).ravel(), np.sin(a).ravel(), zz.ravel()])
    grid = vtk.vtkUnstructuredGrid()
    points = vtk.vtkPoints()
    points.SetData(numpy_support.numpy_to_vtk(xyz, deep=1))
    grid.SetPoints(points)
    for i in range(n_around):
        for j in range(n_up):
            k, k1 = i * (n_up + 1) + j, ((i + 1) % n_around) * (n_up + 1) + j
            grid.InsertNextCell(vtk.VTK_QUAD, 4, [k, k1, k1 + 1, k + 1])
    return _leaf_with_field(grid, xyz[:, 2])


def bar(mask):
    """Five two-node bars along x; "T" = 1 everywhere (drawn in the blue of the range)."""
    grid = vtk.vtkUnstructuredGrid()
    points = vtk.vtkPoints()
    for i in range(6):
        points.InsertNextPoint(i, 0, 0)
    grid.SetPoints(points)
    for i in range(5):
        grid.InsertNextCell(vtk.VTK_LINE, 2, [i, i + 1])
    return _leaf_with_field(grid, np.ones(6), mask)


def rendered(data, tmp_path, name="p.png", width=320, height=240, **options):
    """The whole off-screen picture of `data` coloured by "T", as RGB rows (bottom-up, as VTK
    stores images)."""
    view = sceneview.sceneview({})
    if data is not None:
        view.display_mesh(data, "Point", "T")
    path = view.render_offscreen(tmp_path / name, width, height, **options)
    reader = vtk.vtkPNGReader()
    reader.SetFileName(path)
    reader.Update()
    image = reader.GetOutput()
    w, h, _ = image.GetDimensions()
    rgb = numpy_support.vtk_to_numpy(image.GetPointData().GetScalars()).reshape(h, w, -1)[..., :3]
    return rgb.astype(int)


def picture(data, tmp_path, name="p.png", **options):
    """The model's part of a 320 x 240 picture: without the scalar bar on the right and the
    triad in the lower-left corner."""
    rgb = rendered(data, tmp_path, name, **options)
    h, w, _ = rgb.shape
    rgb = rgb[:, :int(0.84 * w)].copy()
    rgb[:int(0.16 * h), :int(0.16 * w)] = 0
    return rgb


def field_pixels(rgb):
    """Pixels in saturated colours of the lookup table (the background is dark and grey-blue)."""
    return (rgb.max(axis=2) > 100) & (rgb.max(axis=2) - rgb.min(axis=2) > 80)


def reddish(rgb):
    return (rgb[..., 0] > 100) & (rgb[..., 0] > 2 * rgb[..., 1]) & (rgb[..., 0] > 2 * rgb[..., 2])


def bluish(rgb):
    return (rgb[..., 2] > 100) & (rgb[..., 2] > 2 * rgb[..., 0]) & (rgb[..., 2] > 2 * rgb[..., 1])


def yellow(rgb):
    return (rgb[..., 0] > 180) & (rgb[..., 1] > 180) & (rgb[..., 2] < 90)


def thick(mask, reach=2):
    """Pixels of `mask` whose neighbours `reach` pixels away in x and in y are in it too: dots
    several pixels wide, not lines one pixel wide."""
    inner = mask[reach:-reach, reach:-reach]
    return (inner & mask[:-2 * reach, reach:-reach] & mask[2 * reach:, reach:-reach]
            & mask[reach:-reach, :-2 * reach] & mask[reach:-reach, 2 * reach:])


class TestFittedCamera:
    def test_iso_view_shows_the_sides_of_a_solid_body_the_top_view_hides(self, tmp_path):
        box = hexa_box()
        top = picture(box, tmp_path, "top.png", view="z")
        iso = picture(box, tmp_path, "iso.png")
        # From above only the top face (T = 1, red) is seen, with the bottom's edges around it;
        # the iso view also shows the sides, which run from blue at the bottom to red at the top.
        assert reddish(top).sum() > 10 * bluish(top).sum()
        assert bluish(iso).sum() > 1000 and reddish(iso).sum() > 1000

    def test_a_shell_around_the_view_axis_shows_its_field_in_the_iso_view(self, tmp_path):
        shell = cylinder_shell()
        edge_on = picture(shell, tmp_path, "z.png", view="z")
        iso = picture(shell, tmp_path, "iso.png")
        assert field_pixels(iso).sum() > 10 * max(field_pixels(edge_on).sum(), 1)
        assert field_pixels(iso).sum() > 0.05 * iso.shape[0] * iso.shape[1]

    def test_inside_of_an_open_shell_is_lit(self, tmp_path):
        # Looking into the open top, part of what is seen is the inside of the wall, whose
        # normals point away from the camera; lit from both sides it keeps its field colour.
        rgb = picture(cylinder_shell(), tmp_path)
        h, w, _ = rgb.shape
        centre = rgb[h // 3: 2 * h // 3, w // 3: 2 * w // 3]
        assert field_pixels(centre).mean() > 0.5

    def test_the_model_fills_the_picture_whatever_its_size_and_place(self, tmp_path):
        far_and_tiny = hexa_box()
        leaf = far_and_tiny.GetBlock(0)
        transform = vtk.vtkTransform()
        transform.Translate(100, -300, 50)
        transform.Scale(1e-2, 1e-2, 1e-2)
        moved = vtk.vtkTransformFilter()
        moved.SetTransform(transform)
        moved.SetInputData(leaf)
        moved.Update()
        far_and_tiny.SetBlock(0, moved.GetOutput())
        near = field_pixels(picture(hexa_box(), tmp_path, "near.png")).sum()
        far = field_pixels(picture(far_and_tiny, tmp_path, "far.png")).sum()
        assert far == pytest.approx(near, rel=0.05)

    @pytest.mark.parametrize("view", ["x", "y", "z"])
    def test_axis_views_differ_from_the_iso_view(self, tmp_path, view):
        box = hexa_box()
        assert not np.array_equal(picture(box, tmp_path, "a.png", view=view),
                                  picture(box, tmp_path, "b.png"))

    def test_default_view_is_iso(self, tmp_path):
        box = hexa_box()
        assert np.array_equal(picture(box, tmp_path, "a.png"),
                              picture(box, tmp_path, "b.png", view="iso"))

    def test_picture_leaves_the_window_camera_alone(self, tmp_path):
        view = sceneview.sceneview({})
        view.display_mesh(hexa_box(), "Point", "T")
        view.render_offscreen(tmp_path / "first.png")
        # Never shown: the window fits its own camera at its first render, as it would have.
        assert not view.scene_renderer.IsActiveCameraCreated()
        camera = view.scene_renderer.GetActiveCamera()
        camera.SetPosition(3, 4, 5)
        view.render_offscreen(tmp_path / "second.png", view="x")
        assert view.scene_renderer.GetActiveCamera() is camera
        assert camera.GetPosition() == (3, 4, 5)

    @pytest.mark.parametrize("value, error, message", [
        ("top", ValueError, "render_offscreen: view 'top' is not one of"),
        ("ISO", ValueError, "view 'ISO'"),
        (3, TypeError, "render_offscreen: view must be text, not int"),
    ])
    def test_unknown_views_are_refused(self, tmp_path, value, error, message):
        view = sceneview.sceneview({})
        with pytest.raises(error, match=message):
            view.render_offscreen(tmp_path / "p.png", view=value)
        assert not (tmp_path / "p.png").exists()


class TestScaleAndTriad:
    def test_scalar_bar_stands_at_the_right_edge_blue_below_red(self, tmp_path):
        # Seen from above, the box is a red square in the middle; everything coloured near the
        # right edge is the bar, whose colours must run up the scale from blue to red.
        rgb = rendered(hexa_box(), tmp_path, width=640, height=480, view="z")
        h, w, _ = rgb.shape
        band = field_pixels(rgb) & (np.arange(w) >= int(0.85 * w))[None, :]
        rows = np.nonzero(band.any(axis=1))[0]
        assert band[:, int(0.85 * w):int(0.9 * w)].sum() == 0
        assert 0.1 * h <= rows[0] and rows[-1] <= 0.9 * h and rows[-1] - rows[0] > 0.5 * h
        lower, upper = rgb[rows[0]:rows[0] + 20], rgb[rows[-1] - 19:rows[-1] + 1]
        assert (bluish(lower) & band[rows[0]:rows[0] + 20]).sum() > 50
        assert (reddish(upper) & band[rows[-1] - 19:rows[-1] + 1]).sum() > 50

    def test_triad_sits_in_the_lower_left_corner_alone(self, tmp_path):
        rgb = rendered(None, tmp_path, width=640, height=480)
        coloured = field_pixels(rgb)
        corner = coloured[:int(0.15 * 480), :int(0.15 * 640)]
        assert corner.sum() > 30 and corner.sum() == coloured.sum()


class TestUnmappedPoints:
    def test_unmapped_nodes_of_a_bar_are_marked(self, tmp_path):
        # A line one pixel wide in the NaN colour is easily missed; the dots are several wide.
        mapped = picture(bar(np.ones(6)), tmp_path, "all.png")
        two_missing = picture(bar([1, 0, 1, 1, 0, 1]), tmp_path, "two.png")
        assert yellow(mapped).sum() == 0
        assert thick(yellow(two_missing)).sum() >= 2

    def test_a_cell_field_has_no_marks(self, tmp_path):
        data = bar([0, 0, 0, 0, 0, 0])
        values = numpy_support.numpy_to_vtk(np.ones(5, np.float32), deep=1)
        values.SetName("T")
        data.GetBlock(0).GetCellData().AddArray(values)
        view = sceneview.sceneview({})
        view.display_mesh(data, "Cell", "T")
        path = view.render_offscreen(tmp_path / "cells.png", 320, 240)
        reader = vtk.vtkPNGReader()
        reader.SetFileName(path)
        reader.Update()
        image = reader.GetOutput()
        w, h, _ = image.GetDimensions()
        rgb = numpy_support.vtk_to_numpy(image.GetPointData().GetScalars()).reshape(h, w, -1)
        assert thick(yellow(rgb[..., :3].astype(int))).sum() == 0


def test_vertex_cells_beside_faces_do_not_speckle_the_surface(tmp_path):
    # A mapped quadratic body carries its mid-side nodes as vertex cells beside its faces; drawn
    # with the faces they came out as dark specks (a point without faces gets a zero normal).
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(hexa_box().GetBlock(0))
    surface.Update()
    faces = surface.GetOutput()
    with_vertices = vtk.vtkPolyData()
    with_vertices.DeepCopy(faces)
    vertices = vtk.vtkCellArray()
    for i in range(faces.GetNumberOfPoints()):
        vertices.InsertNextCell(1, [i])
    with_vertices.SetVerts(vertices)
    pictures = []
    for name, data in (("faces.png", faces), ("vertices.png", with_vertices)):
        root = vtk.vtkMultiBlockDataSet()
        root.SetBlock(0, data)
        pictures.append(picture(root, tmp_path, name))
    assert np.abs(pictures[0] - pictures[1]).max() <= 8
