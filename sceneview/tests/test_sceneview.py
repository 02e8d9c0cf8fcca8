"""Tests of the viewer. Nothing here waits for a person: render() runs either with a StartEvent
observer (VTK then hands the loop to the observer and returns at once) or with a timer that ends
the loop; pictures are taken with render_offscreen and CreatePngFile."""
import gc
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

import numpy as np
import pytest
import vtk
from vtkmodules.util import numpy_support

import clickmode
import kelm
import sceneview
import treewalk

LIB = Path(sceneview.__file__).resolve().parent


def _add_point_array(data, name, values):
    array = numpy_support.numpy_to_vtk(np.asarray(values, np.float32), deep=1)
    array.SetName(name)
    data.GetPointData().AddArray(array)


def _add_cell_array(data, name, values):
    array = numpy_support.numpy_to_vtk(np.asarray(values, np.float32), deep=1)
    array.SetName(name)
    data.GetCellData().AddArray(array)


def _leaves(mbds):
    it = mbds.NewIterator()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        yield it.GetCurrentDataObject()
        it.GoToNextItem()


@pytest.fixture(scope="module")
def exported():
    """(model multiblock, model map with block ids) of the sample model."""
    kelm.reset()
    model = kelm.samples.sample_model()
    treewalk.create_vtk_dataset_from_kelm_entities([model])
    return treewalk.blockbook.get_model_root(), treewalk.blockbook.get_model_map_with_block_id()


@pytest.fixture
def model(exported):
    """The sample model with "Temperature" on points (x in mm) and "Pressure" on cells."""
    root = vtk.vtkMultiBlockDataSet()
    root.DeepCopy(exported[0])
    for leaf in _leaves(root):
        xyz = numpy_support.vtk_to_numpy(leaf.GetPoints().GetData())
        _add_point_array(leaf, "Temperature", xyz[:, 0] * 1000.0)
        _add_cell_array(leaf, "Pressure", np.arange(leaf.GetNumberOfCells()) + 1.0)
    return root


@pytest.fixture
def sphere():
    source = vtk.vtkSphereSource()
    source.Update()
    surface = source.GetOutput()
    _add_point_array(surface, "Temperature", numpy_support.vtk_to_numpy(
        surface.GetPoints().GetData())[:, 2])
    _add_cell_array(surface, "Pressure", np.arange(surface.GetNumberOfCells(), dtype=float))
    return surface


@pytest.fixture
def cloud():
    points = vtk.vtkPoints()
    for i in range(5):
        points.InsertNextPoint(i, 0, 0)
    data = vtk.vtkPolyData()
    data.SetPoints(points)
    _add_point_array(data, "Temperature", [5, 6, 7, 8, 9])
    return data


@pytest.fixture
def temp_dir(tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    return tmp_path


def render_without_loop(view):
    """render() with the loop handed to a StartEvent observer: the scene is assembled and the
    window shown, and render() returns."""
    view.render_window_interactor.AddObserver("StartEvent", lambda obj, event: None)
    view.render()


def run_loop_briefly(view, milliseconds=300, during=None):
    """render() with its real interaction loop, ended by a timer. VTK's X loop serves every
    window of the process until all are closed, so viewers of earlier tests are collected first."""
    gc.collect()
    interactor = view.render_window_interactor
    seen = []

    def on_timer(obj, event):
        seen.append(event)
        if during:
            during()
        obj.TerminateApp()

    interactor.AddObserver("TimerEvent", on_timer)
    interactor.CreateOneShotTimer(milliseconds)
    view.render()
    return seen


def press(view, key):
    interactor = view.render_window_interactor
    interactor.SetKeySym(key)
    interactor.SetKeyCode(key)
    interactor.InvokeEvent("KeyPressEvent")


class TestObjects:
    ATTRIBUTES = {
        "vertexFilter": vtk.vtkVertexGlyphFilter, "point_mapper": vtk.vtkPolyDataMapper,
        "point_actor": vtk.vtkActor, "face_poly_filter": vtk.vtkGeometryFilter,
        "faces_normals_generator": vtk.vtkPolyDataNormals,
        "feature_edge_filter": vtk.vtkFeatureEdges,
        "face_mapper": vtk.vtkCompositePolyDataMapper2,
        "feature_edge_mapper": vtk.vtkCompositePolyDataMapper2, "face_actor": vtk.vtkActor,
        "feature_edge_actor": vtk.vtkActor, "lut": vtk.vtkLookupTable,
        "face_filter_nofield": vtk.vtkUnstructuredGridGeometryFilter,
        "face_poly_filter_nofield": vtk.vtkGeometryFilter,
        "faces_normals_generator_nofield": vtk.vtkPolyDataNormals,
        "feature_edge_filter_nofield": vtk.vtkFeatureEdges,
        "face_mapper_nofield": vtk.vtkCompositePolyDataMapper2,
        "feature_edge_mapper_nofield": vtk.vtkCompositePolyDataMapper2,
        "face_actor_nofield": vtk.vtkActor, "feature_edge_actor_nofield": vtk.vtkActor,
        "scalar_bar_widget": vtk.vtkScalarBarWidget, "scalar_bar_actor": vtk.vtkScalarBarActor,
        "triad_orientation_widget": vtk.vtkOrientationMarkerWidget,
        "triad_actor": vtk.vtkAxesActor, "imageActor": vtk.vtkImageActor,
        "scene_renderer": vtk.vtkRenderer, "backgroundRenderer": vtk.vtkRenderer,
        "render_window": vtk.vtkRenderWindow,
        "render_window_interactor": vtk.vtkRenderWindowInteractor,
        "area_picker": vtk.vtkRenderedAreaPicker,
    }

    def test_every_attribute_is_its_own_vtk_object(self):
        view = sceneview.sceneview({})
        for name, cls in self.ATTRIBUTES.items():
            assert isinstance(getattr(view, name), cls), name
        objects = [getattr(view, name) for name in self.ATTRIBUTES]
        assert len({id(o) for o in objects}) == len(objects)  # all distinct
        assert view.render_window.GetSize() == (640, 480)
        assert view.dataset is None and view.pindex == 1
        assert view.background_image_data is None and view.cdsa is None

    def test_initialize_stores_dataset_and_map(self, model):
        view = sceneview.sceneview({"units": "K"})
        view.initialize_(model, {"a": 1})
        assert view.dataset is model and view.model_map == {"a": 1}

    def test_a_script_can_replace_the_lookup_table(self, model):
        view = sceneview.sceneview({})
        own = vtk.vtkLookupTable()
        view.lut = own
        view.display_mesh(model, "Point", "Temperature")
        assert view.face_mapper.GetLookupTable() is own


class TestPipelineChoice:
    def test_multiblock_with_field(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model, "Point", "Temperature")
        assert view.face_actor.GetMapper() is view.face_mapper
        assert view.face_mapper.GetArrayName() == "Temperature"
        assert view.face_mapper.GetScalarModeAsString() == "UsePointFieldData"
        assert view.face_mapper.GetCompositeDataDisplayAttributes() is view.cdsa
        assert view.face_actor_nofield.GetMapper() is None

    def test_multiblock_cell_field_uses_cell_data(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model, "Cell", "Pressure")
        assert view.face_mapper.GetScalarModeAsString() == "UseCellFieldData"

    def test_multiblock_with_only_a_field_name_is_shown_in_block_colours(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model, field_name="Temperature")
        assert view.face_actor_nofield.GetMapper() is view.face_mapper_nofield
        assert view.face_actor.GetMapper() is None
        assert view.scalar_bar_actor.GetLookupTable() is None

    def test_polydata_surface_gets_a_dataset_mapper(self, sphere):
        view = sceneview.sceneview({})
        view.display_mesh(sphere, "Cell", "Pressure")
        assert isinstance(view.face_mapper, vtk.vtkDataSetMapper)
        assert view.face_actor.GetMapper() is view.face_mapper
        assert view.face_mapper.GetScalarRange() == (0.0, sphere.GetNumberOfCells() - 1.0)

    def test_polydata_without_field_arguments_builds_nothing(self, sphere):
        view = sceneview.sceneview({})
        view.display_mesh(sphere)
        assert view.face_actor.GetMapper() is None and view.point_actor.GetMapper() is None

    def test_other_dataset_types_build_nothing(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model.GetBlock(0).GetBlock(0).GetBlock(0), "Point", "Temperature")
        assert view.face_actor.GetMapper() is None

    def test_multiblock_after_a_surface_gets_a_composite_mapper_back(self, model, sphere):
        view = sceneview.sceneview({})
        view.display_mesh(sphere, "Point", "Temperature")
        view.display_mesh(model, "Point", "Temperature")
        assert isinstance(view.face_mapper, vtk.vtkCompositePolyDataMapper2)
        assert view.face_actor.GetMapper() is view.face_mapper


class TestPointCloud:
    def test_point_settings_and_field(self, cloud):
        view = sceneview.sceneview({})
        view.display_mesh(cloud, "Point", "Temperature")
        prop = view.point_actor.GetProperty()
        assert prop.GetPointSize() == 10 and prop.GetRenderPointsAsSpheres()
        assert prop.GetVertexVisibility() and prop.GetVertexColor() == (1.0, 1.0, 0.0)
        assert view.point_mapper.GetScalarRange() == (5.0, 9.0)
        assert view.lut.GetTableRange() == (5.0, 9.0)
        assert view.scalar_bar_actor.GetTitle() == "Temperature"

    def test_cell_topology_gives_points_without_field_colouring(self, cloud):
        view = sceneview.sceneview({})
        view.display_mesh(cloud, "Cell", "Temperature")
        assert view.point_actor.GetMapper() is view.point_mapper
        assert view.point_mapper.GetLookupTable() is not view.lut
        assert view.scalar_bar_actor.GetLookupTable() is None


class TestColourMap:
    def test_lookup_table(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model, "Point", "Temperature")
        lo, hi = view.get_field_range(model, "Point", "Temperature")
        assert view.lut.GetTableRange() == (lo, hi)
        assert view.lut.GetHueRange() == pytest.approx((0.66667, 0.0))
        assert view.lut.GetNanColor() == (1.0, 1.0, 0.0, 1.0)

    def test_scalar_bar_title_carries_the_units(self, model):
        view = sceneview.sceneview({"units": "MPa"})
        view.display_mesh(model, "Cell", "Pressure")
        bar = view.scalar_bar_actor
        assert bar.GetTitle() == "Pressure ( MPa )"
        assert bar.GetLookupTable() is view.lut
        assert view.scalar_bar_widget.GetScalarBarActor() is bar

    def test_title_without_units_is_the_field_name(self, model):
        view = sceneview.sceneview({"other": 1})
        view.build_scalar_bar("Pressure")
        assert view.scalar_bar_actor.GetTitle() == "Pressure"


class TestFieldRange:
    def test_range_spans_all_leaves(self, model):
        view = sceneview.sceneview({})
        xs = np.concatenate([numpy_support.vtk_to_numpy(leaf.GetPoints().GetData())[:, 0]
                             for leaf in _leaves(model)])
        assert view.get_field_range(model, "Point", "Temperature") == pytest.approx(
            (xs.min() * 1000, xs.max() * 1000))

    def test_inner_leaf_changes_nothing_and_nan_is_ignored(self):
        view = sceneview.sceneview({})
        mbds = vtk.vtkMultiBlockDataSet()
        for i, values in enumerate([[0.0, 10.0], [2.0, np.nan], [5.0, 3.0]]):
            data = vtk.vtkPolyData()
            points = vtk.vtkPoints()
            points.InsertNextPoint(0, 0, 0)
            points.InsertNextPoint(1, 0, 0)
            data.SetPoints(points)
            _add_point_array(data, "T", values)
            mbds.SetBlock(i, data)
        assert view.get_field_range(mbds, "Point", "T") == (0.0, 10.0)

    def test_leaf_without_the_array_contributes_nothing(self, model):
        view = sceneview.sceneview({})
        first = next(_leaves(model))
        first.GetPointData().RemoveArray("Temperature")
        lo, hi = view.get_field_range(model, "Point", "Temperature")
        assert lo <= hi

    def test_all_nan_field_has_no_range_but_still_displays(self, sphere):
        view = sceneview.sceneview({})
        _add_point_array(sphere, "Empty", np.full(sphere.GetNumberOfPoints(), np.nan))
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)
        assert view.get_field_range(mbds, "Point", "Empty") == (None, None)
        view.display_mesh(mbds, "Point", "Empty")
        assert view.lut.GetTableRange() == (0.0, 0.0)


    def test_infinite_values_do_not_hide_the_finite_ones(self, sphere):
        view = sceneview.sceneview({})
        values = np.linspace(1.0, 2.0, sphere.GetNumberOfPoints())
        values[0], values[1] = np.inf, -np.inf
        _add_point_array(sphere, "T", values)
        assert view.get_field_range(sphere, "Point", "T") == pytest.approx((values[2], 2.0))
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)
        view.display_mesh(mbds, "Point", "T")
        assert view.lut.GetTableRange() == pytest.approx((values[2], 2.0))


class TestBlockColours:
    def test_leaf_colours_become_block_colours(self, model):
        view = sceneview.sceneview({})
        attributes = view.create_composite_data_set_attributes_from_block_colors(model)
        for leaf in _leaves(model):
            color = leaf.GetFieldData().GetArray("color")
            expected = tuple(color.GetTuple3(0))
            assert attributes.HasBlockColor(leaf)
            assert attributes.GetBlockColor(leaf) == pytest.approx(expected)

    def test_leaf_without_colour_keeps_the_default(self, sphere):
        view = sceneview.sceneview({})
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)
        attributes = view.create_composite_data_set_attributes_from_block_colors(mbds)
        assert not attributes.HasBlockColor(sphere)

    def test_nofield_pipeline_colours_the_drawn_surfaces(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        attributes = view.face_mapper_nofield.GetCompositeDataDisplayAttributes()
        drawn = view.faces_normals_generator_nofield.GetOutputDataObject(0)
        assert all(attributes.HasBlockColor(leaf) for leaf in _leaves(drawn))


class TestWindow:
    def test_render_assembles_the_scene(self, model):
        view = sceneview.sceneview({})
        view.initialize_(model, {})
        view.display_mesh(model, "Point", "Temperature")
        render_without_loop(view)
        window = view.render_window
        assert window.GetWindowName() == "Kelm spatial load viewer"
        assert window.GetSize() == [640, 480] or tuple(window.GetSize()) == (640, 480)
        assert window.GetNumberOfLayers() == 2
        assert view.scene_renderer.GetLayer() == 1 and view.backgroundRenderer.GetLayer() == 0
        assert not view.backgroundRenderer.GetInteractive()
        for actor in (view.face_actor, view.feature_edge_actor, view.face_actor_nofield,
                      view.feature_edge_actor_nofield, view.point_actor, view.scalar_bar_actor):
            assert view.scene_renderer.HasViewProp(actor)
        interactor = view.render_window_interactor
        assert interactor.GetRenderWindow() is window
        assert interactor.GetPicker() is view.area_picker
        style = interactor.GetInteractorStyle()
        assert isinstance(style, clickmode.InteractorStyle)
        assert style.mbds is model and style.GetDefaultRenderer() is view.scene_renderer

    def test_render_twice_keeps_one_key_observer(self, model, temp_dir):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        render_without_loop(view)
        render_without_loop(view)
        press(view, "p")
        assert sorted(os.listdir(temp_dir)) == ["screenshot1.png"]

    def test_window_shows_the_movable_triad_in_its_lower_left_corner(self):
        view = sceneview.sceneview({})
        render_without_loop(view)
        widget = view.triad_orientation_widget
        assert widget.GetEnabled() and widget.GetInteractive()
        assert widget.GetOrientationMarker() is view.triad_actor
        # With no model shown, the triad's axes are the only coloured pixels of the window.
        grab = vtk.vtkWindowToImageFilter()
        grab.SetInput(view.render_window)
        grab.ReadFrontBufferOff()
        grab.Update()
        w, h, _ = grab.GetOutput().GetDimensions()
        rgb = numpy_support.vtk_to_numpy(grab.GetOutput().GetPointData().GetScalars())
        rgb = rgb.reshape(h, w, -1)[..., :3].astype(int)
        coloured = (rgb.max(axis=2) > 100) & (rgb.max(axis=2) - rgb.min(axis=2) > 80)
        corner = coloured[:int(0.15 * h), :int(0.15 * w)]  # rows run bottom-up
        assert corner.sum() > 30 and corner.sum() == coloured.sum()

    def test_background_picture_and_camera(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        render_without_loop(view)
        image = view.background_image_data
        assert image.GetDimensions() == (640, 480, 1)
        camera = view.backgroundRenderer.GetActiveCamera()
        assert camera.GetParallelProjection()
        assert camera.GetParallelScale() == pytest.approx(0.49 * 480)
        assert camera.GetFocalPoint() == pytest.approx((319.5, 239.5, 0.0))
        assert view.backgroundRenderer.HasViewProp(view.imageActor)

    def test_loop_runs_until_the_window_closes(self, model, temp_dir):
        view = sceneview.sceneview({})
        view.initialize_(model, {})
        view.display_mesh(model, "Point", "Temperature")
        seen = run_loop_briefly(view, during=lambda: press(view, "p"))
        assert seen == ["TimerEvent"]
        assert (temp_dir / "screenshot1.png").exists()

    def test_a_second_render_runs_its_loop_again(self, model):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        assert run_loop_briefly(view) == ["TimerEvent"]
        assert run_loop_briefly(view) == ["TimerEvent"]  # the timer of the second loop fired

    def test_a_viewer_shown_without_its_loop_does_not_block_the_next(self, model):
        shown = sceneview.sceneview({})
        shown.display_mesh(model)
        render_without_loop(shown)
        del shown
        view = sceneview.sceneview({})
        view.display_mesh(model)
        assert run_loop_briefly(view) == ["TimerEvent"]


class TestScreenshots:
    def test_p_twice_then_h(self, model, temp_dir):
        view = sceneview.sceneview({})
        view.display_mesh(model, "Point", "Temperature")
        render_without_loop(view)
        press(view, "p")
        press(view, "p")
        press(view, "h")
        assert sorted(os.listdir(temp_dir)) == ["screenshot1.png", "screenshot2.png",
                                                "screenshot3.jpg"]
        assert view.pindex == 4
        reader = vtk.vtkPNGReader()
        reader.SetFileName(str(temp_dir / "screenshot1.png"))
        reader.Update()
        assert reader.GetOutput().GetDimensions()[:2] == (640, 480)
        jpeg = (temp_dir / "screenshot3.jpg").read_bytes()
        assert jpeg[:3] == b"\xff\xd8\xff"  # JPEG data, not PNG under a JPEG name
        reader = vtk.vtkJPEGReader()
        reader.SetFileName(str(temp_dir / "screenshot3.jpg"))
        reader.Update()
        assert reader.GetOutput().GetDimensions()[:2] == (1920, 1440)

    def test_other_keys_change_nothing(self, model, temp_dir):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        render_without_loop(view)
        press(view, "x")
        assert os.listdir(temp_dir) == [] and view.pindex == 1

    def test_magnification_follows_scale(self, model, temp_dir):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        render_without_loop(view)
        path = view.CreatePngFile(2)
        reader = vtk.vtkJPEGReader()
        reader.SetFileName(path)
        reader.Update()
        assert reader.GetOutput().GetDimensions()[:2] == (1280, 960)


class TestPictureWithoutPerson:
    def test_offscreen_png_of_the_given_size(self, model, tmp_path):
        view = sceneview.sceneview({"units": "K"})
        view.display_mesh(model, "Point", "Temperature")
        path = view.render_offscreen(tmp_path / "field.png", width=320, height=200)
        assert path == str((tmp_path / "field.png").resolve())
        reader = vtk.vtkPNGReader()
        reader.SetFileName(path)
        reader.Update()
        image = reader.GetOutput()
        assert image.GetDimensions()[:2] == (320, 200)
        pixels = numpy_support.vtk_to_numpy(image.GetPointData().GetScalars())
        assert len(np.unique(pixels[:, :3], axis=0)) > 50  # a picture, not a blank frame

    def test_window_still_works_after_an_offscreen_picture(self, model, tmp_path, temp_dir):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        view.render_offscreen(tmp_path / "a.png")
        assert run_loop_briefly(view) == ["TimerEvent"]
        assert view.render_window.HasRenderer(view.scene_renderer)
        view.render_offscreen(tmp_path / "b.png")
        assert view.render_window.HasRenderer(view.scene_renderer)

    def test_missing_background_picture_leaves_a_working_viewer(self, tmp_path):
        shutil.copy(sceneview.__file__, tmp_path)  # the module without its res/ folder
        code = (
            "import sceneview, vtk\n"
            f"assert sceneview.__file__.startswith({str(tmp_path)!r})\n"
            "s = vtk.vtkSphereSource(); s.Update()\n"
            "m = vtk.vtkMultiBlockDataSet(); m.SetBlock(0, s.GetOutput())\n"
            "v = sceneview.sceneview({}); v.display_mesh(m)\n"
            f"v.render_offscreen({str(tmp_path / 'p.png')!r})\n"
            "print(v.background_image_data)\n")
        env = dict(os.environ, PYTHONPATH=f"{tmp_path}:{LIB}:{os.environ.get('PYTHONPATH', '')}")
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                env=env, timeout=60)
        assert result.returncode == 0, result.stderr
        assert result.stdout.strip() == "None" and (tmp_path / "p.png").exists()


class TestLoadRegions:
    def test_load_and_nonload_regions_show_side_by_side(self, exported, model, tmp_path):
        _, model_map = exported
        bodies = list(model_map)
        load = {bodies[0]: None}
        loaded, rest = treewalk.extract_load_and_nonload_regions_from_model(model, model_map, load)
        view = sceneview.sceneview({})
        view.display_mesh(loaded, "Point", "Temperature")
        view.display_mesh(rest)
        assert view.get_field_range(loaded, "Point", "Temperature")[0] is not None
        assert view.face_actor_nofield.GetMapper() is view.face_mapper_nofield
        assert Path(view.render_offscreen(tmp_path / "regions.png")).exists()

    def test_load_on_every_body_leaves_no_rest(self, exported, model):
        _, model_map = exported
        loaded, rest = treewalk.extract_load_and_nonload_regions_from_model(
            model, model_map, dict.fromkeys(model_map))
        assert rest is None and isinstance(loaded, vtk.vtkMultiBlockDataSet)


class TestExport:
    def test_polydata_writes_vtp(self, sphere, tmp_path):
        path = sceneview.export_vtk_file(sphere, str(tmp_path / "out"))
        assert path == str(tmp_path / "out.vtp") and Path(path).exists()

    def test_multiblock_writes_vtm_and_block_files(self, model, tmp_path):
        sceneview.export_vtk_file(model, str(tmp_path / "out"))
        assert (tmp_path / "out.vtm").exists()
        assert any((tmp_path / "out").rglob("*.vtu"))

    def test_ascii_mode(self, sphere, tmp_path):
        sceneview.export_vtk_file(sphere, str(tmp_path / "out"), binary=False)
        assert 'format="ascii"' in (tmp_path / "out.vtp").read_text()
        assert 'format="binary"' not in (tmp_path / "out.vtp").read_text()

    def test_structured_grid_prints_and_writes_nothing(self, tmp_path, capsys):
        assert sceneview.export_vtk_file(vtk.vtkStructuredGrid(), str(tmp_path / "out")) is None
        assert capsys.readouterr().out == "No writer configure for vtkStructuredGrid\n"
        assert list(tmp_path.iterdir()) == []


class TestBadInput:
    def test_missing_field_array(self, model):
        view = sceneview.sceneview({})
        with pytest.raises(KeyError, match="no leaf .* has the point array 'Nope'"):
            view.display_mesh(model, "Point", "Nope")

    def test_missing_array_on_a_polydata_names_the_array(self, sphere):
        view = sceneview.sceneview({})
        with pytest.raises(KeyError, match="no cell array 'Temperature'"):
            view.display_mesh(sphere, "Cell", "Temperature")

    def test_unknown_topology_with_a_field_the_data_lacks(self, model, cloud):
        view = sceneview.sceneview({})
        with pytest.raises(KeyError, match="point array 'Pressure'"):
            view.display_mesh(model, "Face", "Pressure")
        view.display_mesh(model, "Face", "Temperature")  # other topologies mean point data

    def test_initialize_needs_a_multiblock(self, sphere):
        view = sceneview.sceneview({})
        with pytest.raises(TypeError, match="initialize_: dataset must be a vtkMultiBlockDataSet"):
            view.initialize_(sphere, {})
        with pytest.raises(TypeError, match="vtkMultiBlockDataSet, not NoneType"):
            view.initialize_(None, {})

    def test_config_must_be_a_mapping(self):
        with pytest.raises(TypeError, match="config must be a mapping"):
            sceneview.sceneview(["units"])

    def test_field_arguments_must_be_text(self, model):
        view = sceneview.sceneview({})
        with pytest.raises(TypeError, match="field_name must be text"):
            view.display_mesh(model, "Point", 5)
        with pytest.raises(TypeError, match="dataset must be a VTK data object"):
            view.display_mesh("model", "Point", "Temperature")

    def test_lookup_table_range(self):
        view = sceneview.sceneview({})
        with pytest.raises(ValueError, match="build_lut: range_min nan"):
            view.build_lut(float("nan"), 1.0)
        with pytest.raises(ValueError, match="above range_max"):
            view.build_lut(2.0, 1.0)

    def test_block_colour_of_the_wrong_size(self, sphere):
        view = sceneview.sceneview({})
        color = vtk.vtkFloatArray()
        color.SetName("color")
        color.InsertNextValue(0.5)
        sphere.GetFieldData().AddArray(color)
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)
        with pytest.raises(ValueError, match="must hold 3 numbers, not 1 values"):
            view.create_composite_data_set_attributes_from_block_colors(mbds)

    def test_screenshot_into_a_missing_directory(self, model, tmp_path, monkeypatch):
        view = sceneview.sceneview({})
        view.display_mesh(model)
        render_without_loop(view)
        monkeypatch.setattr(tempfile, "tempdir", str(tmp_path / "missing" / "dir"))
        with pytest.raises(OSError, match="CreatePngFile: cannot write .*screenshot1.png"):
            view.CreatePngFile()

    def test_screenshot_before_the_window_exists(self):
        with pytest.raises(RuntimeError, match="CreatePngFile: the interactor has no window"):
            sceneview.sceneview({}).CreatePngFile()

    def test_screenshot_scale(self):
        view = sceneview.sceneview({})
        with pytest.raises(ValueError, match="scale 0 is outside 1..8"):
            view.CreatePngFile(0)
        with pytest.raises(TypeError, match="scale must be an integer"):
            view.CreatePngFile(1.5)

    def test_offscreen_picture_into_a_file_path_through_a_file(self, model, tmp_path):
        (tmp_path / "plain").write_text("x")
        view = sceneview.sceneview({})
        view.display_mesh(model)
        with pytest.raises(OSError, match="render_offscreen: cannot write"):
            view.render_offscreen(tmp_path / "plain" / "p.png")
        with pytest.raises(ValueError, match="width 0 is outside"):
            view.render_offscreen(tmp_path / "p.png", width=0)

    def test_export_into_a_missing_directory(self, sphere, tmp_path):
        with pytest.raises(OSError, match="export_vtk_file: could not write"):
            sceneview.export_vtk_file(sphere, str(tmp_path / "missing" / "out"))

    def test_no_display_is_an_error_not_an_abort(self):
        code = ("import sceneview\n"
                "try:\n"
                "    sceneview.sceneview({}).render()\n"
                "except RuntimeError as e:\n"
                "    print('raised', e)\n")
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                                env=env, timeout=60)
        assert result.returncode == 0, result.stderr
        assert "raised sceneview.render: no display" in result.stdout


class TestUnmappedPoints:
    """Points a mapping could not reach ("vtkValidPointMask" 0, value 0) are shown in the NaN
    colour and stay out of the colour range; the caller's data keep their values."""

    @staticmethod
    def masked(data, values, mask):
        _add_point_array(data, "T", values)
        array = numpy_support.numpy_to_vtk(np.asarray(mask, np.uint8), deep=1)
        array.SetName("vtkValidPointMask")
        data.GetPointData().AddArray(array)
        return data

    def test_multiblock_range_leaves_out_unmapped_points(self, sphere):
        n = sphere.GetNumberOfPoints()
        values = np.linspace(10.0, 20.0, n)
        values[:5] = 0.0
        self.masked(sphere, values, [0] * 5 + [1] * (n - 5))
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)
        view = sceneview.sceneview({})
        view.display_mesh(mbds, "Point", "T")
        assert view.lut.GetTableRange()[0] > 9.9
        shown = view.face_poly_filter.GetInputDataObject(0, 0).GetBlock(0)
        assert np.isnan(numpy_support.vtk_to_numpy(shown.GetPointData().GetArray("T"))[:5]).all()
        assert numpy_support.vtk_to_numpy(sphere.GetPointData().GetArray("T"))[0] == 0.0

    def test_point_cloud_and_fully_mapped_data_are_shown_as_given(self, cloud, sphere):
        self.masked(cloud, [0, 6, 7, 8, 9], [0, 1, 1, 1, 1])
        view = sceneview.sceneview({})
        view.display_mesh(cloud, "Point", "T")
        assert view.lut.GetTableRange() == (6.0, 9.0)
        n = sphere.GetNumberOfPoints()
        self.masked(sphere, np.arange(n, dtype=float), np.ones(n))
        view.display_mesh(sphere, "Point", "T")
        assert view.faces_normals_generator.GetInputDataObject(0, 0) is sphere

    def test_picture_shows_unmapped_points_in_the_nan_colour(self, tmp_path):
        plane = vtk.vtkPlaneSource()
        plane.SetResolution(1, 1)
        plane.Update()
        quad = plane.GetOutput()
        self.masked(quad, [0.0, 0.0, 0.0, 0.0], [0, 0, 0, 0])
        view = sceneview.sceneview({})
        view.display_mesh(quad, "Point", "T")
        path = view.render_offscreen(str(tmp_path / "nan.png"), view="z")  # lit face-on
        reader = vtk.vtkPNGReader()
        reader.SetFileName(path)
        reader.Update()
        image = reader.GetOutput()
        w, h, _ = image.GetDimensions()
        pixels = numpy_support.vtk_to_numpy(image.GetPointData().GetScalars()).reshape(h, w, -1)
        r, g, b = pixels[h // 2, w // 2][:3]
        assert r > 150 and g > 150 and b < 100  # yellow, not the blue of the range's low end


class TestMessages:
    """Arguments of the wrong kind are named with the operation, not left to the binding layer's
    generic "incompatible function arguments"."""

    @pytest.mark.parametrize("call, message", [
        (lambda v: v.build_lut("a", 1), "build_lut: range_min must be a number, not str"),
        (lambda v: v.build_scalar_bar(None), "build_scalar_bar: title must be text, not NoneType"),
        (lambda v: v.get_field_range(vtk.vtkMultiBlockDataSet(), "Point", None),
         "get_field_range: field_name must be text, not NoneType"),
        (lambda v: v.build_mbds_pipeline_with_field(vtk.vtkMultiBlockDataSet(), 3, "T"),
         "build_mbds_pipeline_with_field: field_topology must be text, not int"),
        (lambda v: v.render_offscreen("x.png", "wide"), "render_offscreen: width must be an integer"),
        (lambda v: setattr(v, "pindex", "a"), "pindex: the value must be an integer, not str"),
    ])
    def test_wrong_kinds(self, call, message):
        with pytest.raises(TypeError, match=message):
            call(sceneview.sceneview({}))

    def test_huge_size_is_out_of_range_not_a_type_error(self):
        with pytest.raises(ValueError, match=r"height 1180591620717411303424 is outside 1\.\.16384"):
            sceneview.sceneview({}).render_offscreen("x.png", 10, 2**70)

    def test_binary_flag(self, sphere, tmp_path):
        with pytest.raises(TypeError, match="export_vtk_file: binary must be True or False, not 'yes'"):
            sceneview.export_vtk_file(sphere, str(tmp_path / "s"), "yes")
        assert sceneview.export_vtk_file(sphere, str(tmp_path / "s"), 0).endswith(".vtp")

    def test_config_replaced_by_a_non_mapping(self, model):
        view = sceneview.sceneview({})
        view.config = 5
        with pytest.raises(TypeError, match="config must be a mapping .*, not int"):
            view.display_mesh(model, "Point", "Temperature")


class TestMalformedDatasets:
    """Datasets VTK's filters would read out of bounds are refused with a message, before the
    pipelines are rewired."""

    @staticmethod
    def _grid_with_short_mask():
        grid = vtk.vtkUnstructuredGrid()
        points = vtk.vtkPoints()
        for xyz in [(0, 0, 0), (1, 0, 0), (0, 1, 0), (0, 0, 1)]:
            points.InsertNextPoint(xyz)
        grid.SetPoints(points)
        grid.InsertNextCell(vtk.VTK_TETRA, 4, [0, 1, 2, 3])
        mask = vtk.vtkUnsignedCharArray()
        mask.SetName("vtkValidPointMask")
        grid.GetPointData().AddArray(mask)  # no values for four points
        name = vtk.vtkStringArray()
        name.SetName("Body pathName")
        name.InsertNextValue("M/P/Tet")
        grid.GetFieldData().AddArray(name)
        return grid

    def test_leaf_that_is_not_a_dataset(self, sphere):
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)
        mbds.SetBlock(1, vtk.vtkTable())
        view = sceneview.sceneview({})
        with pytest.raises(TypeError, match="build_mbds_pipeline_nofield: leaf 2 of the "
                                            "multiblock is a vtkTable, not a dataset"):
            view.display_mesh(mbds)
        with pytest.raises(TypeError, match="build_mbds_pipeline_with_field: leaf 2 .*vtkTable"):
            view.display_mesh(mbds, "Point", "Temperature")
        assert view.face_poly_filter.GetInputDataObject(0, 0) is None  # nothing rewired

    def test_array_shorter_than_the_points(self, sphere):
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, sphere)  # a polydata leaf sends the multiblock to vtkGeometryFilter
        mbds.SetBlock(1, self._grid_with_short_mask())
        view = sceneview.sceneview({})
        with pytest.raises(ValueError, match="body 'M/P/Tet' has a point array "
                                             "'vtkValidPointMask' of 0 values for 4 points"):
            view.display_mesh(mbds)

    def test_cell_array_shorter_than_the_cells(self, sphere):
        sphere.GetCellData().GetArray("Pressure").SetNumberOfTuples(3)
        view = sceneview.sceneview({})
        with pytest.raises(ValueError, match="has a cell array 'Pressure' of 3 values for 96 cells"):
            view.display_mesh(sphere, "Cell", "Pressure")

    def test_cell_naming_a_missing_point(self):
        surface = vtk.vtkPolyData()
        points = vtk.vtkPoints()
        for xyz in [(0, 0, 0), (1, 0, 0), (0, 1, 0)]:
            points.InsertNextPoint(xyz)
        surface.SetPoints(points)
        polys = vtk.vtkCellArray()
        polys.InsertNextCell(3, [0, 1, 7])
        surface.SetPolys(polys)
        _add_point_array(surface, "T", [1.0, 2.0, 3.0])
        view = sceneview.sceneview({})
        with pytest.raises(ValueError, match=r"build_polydata_pipeline: the dataset \(vtkPolyData\) "
                                             "has polygon 0 naming point 7, outside its points 0 to 2"):
            view.display_mesh(surface, "Point", "T")
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, surface)
        with pytest.raises(ValueError, match="naming point 7"):
            view.display_mesh(mbds)

    def test_offsets_past_the_connectivity_are_refused_not_followed(self):
        # Followed, the second polygon's offset sent the surface filter 99,994 entries past the
        # end of the connectivity and killed the interpreter.
        surface = vtk.vtkPolyData()
        points = vtk.vtkPoints()
        for i in range(4):
            points.InsertNextPoint(i, i % 2, 0)
        surface.SetPoints(points)
        surface.SetPolys(_cells([0, 3, 100000], [0, 1, 2, 2, 1, 3]))
        mbds = vtk.vtkMultiBlockDataSet()
        mbds.SetBlock(0, surface)
        view = sceneview.sceneview({})
        view.initialize_(mbds, {})
        with pytest.raises(ValueError, match="leaf 1 .* offsets run past its 6 connectivity "
                                             "entries: polygon 1 ends at offset 100000"):
            view.display_mesh(mbds, None, None)


def _cells(offsets, connectivity):
    """A cell array taken as given, without the checks InsertNextCell would make."""
    arrays = []
    for values in (offsets, connectivity):
        array = vtk.vtkIdTypeArray()
        for v in values:
            array.InsertNextValue(v)
        arrays.append(array)
    cells = vtk.vtkCellArray()
    cells.SetData(*arrays)
    return cells


class TestTextUtf8CannotCarry:
    def test_export_to_a_name_with_a_lone_surrogate_is_an_os_error(self, sphere):
        with pytest.raises(OSError, match=r"export_vtk_file: filename '/tmp/x\\ud800' cannot name "
                                          "a file"):
            sceneview.export_vtk_file(sphere, "/tmp/x\ud800")

    def test_field_name_with_a_lone_surrogate_is_a_missing_field(self, model):
        view = sceneview.sceneview({})
        with pytest.raises(KeyError) as raised:
            view.display_mesh(model, "Point", "T\ud800")
        assert "'T\\ud800'" in raised.value.args[0]
