"""The demo host script and kelm-map, end to end (run under a virtual display by ctest)."""
import json
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import kelm

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "examples"), str(ROOT / "tools"), str(ROOT / "cfdsource" / "tests"),
                str(ROOT / "host" / "tests")]
import case_writers  # noqa: E402
import main_road  # noqa: E402
import mesh_files  # noqa: E402
from methods import auto_method  # noqa: E402


def comparable(value):
    """Host objects and collections as plain data, to compare two runs."""
    if isinstance(value, kelm.EntityCollection):
        return [comparable(e) for e in value]
    if isinstance(value, kelm.mesh.ElementFace):
        return ("face", value.mesh.pathName, value.element.id, value.face)
    if isinstance(value, (kelm.mesh.Node, kelm.mesh.Element)):
        return (type(value).__name__, value.mesh.pathName, value.id)
    if isinstance(value, dict):
        return {k: comparable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return [comparable(v) for v in value]
    if hasattr(value, "pressureValues"):
        return ("pressure property", value.id, comparable(value.pressureValues))
    if hasattr(value, "temperatureValues"):
        return ("temperature property", comparable(value.temperatureValues))
    return value


def created(ignore=()):
    return [(c.function, {k: comparable(v) for k, v in c.kwargs.items() if k not in ignore},
             c.unit_system) for c in kelm.environment.created]


class TestDemo:
    @pytest.fixture(scope="class")
    def demo(self, tmp_path_factory):
        out = tmp_path_factory.mktemp("demo-out")
        main_road.main(str(out))
        return out, created()

    def test_outputs(self, demo):
        out, loads = demo
        for name in ("model.vtm", "mapped_pressure.vtm", "mapped_temperature.vtm",
                     "recorded_loads.py", "pressure.png", "temperature.png",
                     "report_pressure.json", "report_pressure.txt", "report_temperature.json"):
            assert (out / name).stat().st_size > 0, name
        assert [f for f, _, _ in loads] == [
            "createPressurePropertyStaticVariable", "createLoadPressure",
            "createTemperaturePropertyStaticVariable", "createLoadTemperature"]

    def test_report_counts_and_force(self, demo):
        out, _ = demo
        pressure = json.loads((out / "report_pressure.json").read_text())
        skin = next(b for b in pressure["bodies"] if b["body"] == "Demo/Wing/Skin")
        assert skin["faces_loaded"] == 200 and skin["nodes_loaded"] == 231
        assert 95000 < skin["mapped"]["min"] <= skin["mapped"]["max"] < 106000
        assert pressure["force"]["source"] is None  # a point cloud has no surface
        temperature = json.loads((out / "report_temperature.json").read_text())
        beams = next(b for b in temperature["bodies"] if b["body"] == "Demo/Frame/Beams")
        assert beams["no_value"] == 4  # bars lie on no surface of the source
        assert temperature["unmapped_points"]["Demo/Frame/Beams"] == 4

    def test_recorded_script_recreates_the_same_loads(self, demo):
        out, direct = demo
        kelm.reset()
        main_road.demo_model()
        exec(compile((out / "recorded_loads.py").read_text(), "recorded_loads.py", "exec"), {})
        replayed = created()
        # The recorded temperature load is described "First mapped temperature", the direct one
        # "First mapped temperatures"; everything else must be the same.
        assert [c[1].pop("description", None) for c in replayed] == [
            None, "First mapped pressure", None, "First mapped temperature"]
        assert [c[1].pop("description", None) for c in direct] == [
            None, "First mapped pressure", None, "First mapped temperatures"]
        assert replayed == direct


def gmsh_box(path, hexahedra=False):
    gmsh = pytest.importorskip("gmsh")
    gmsh.initialize()
    try:
        gmsh.option.setNumber("General.Terminal", 0)
        gmsh.model.add("box")
        gmsh.model.occ.addBox(0, 0, 0, 100, 50, 20)
        gmsh.model.occ.synchronize()
        if hexahedra:
            for dim, tag in gmsh.model.getEntities(1):
                gmsh.model.mesh.setTransfiniteCurve(tag, 5)
            for dim, tag in gmsh.model.getEntities(2):
                gmsh.model.mesh.setTransfiniteSurface(tag)
                gmsh.model.mesh.setRecombine(dim, tag)
            gmsh.model.mesh.setTransfiniteVolume(1)
        else:
            gmsh.option.setNumber("Mesh.MeshSizeMax", 12)
        gmsh.model.mesh.generate(3)
        gmsh.write(str(path))
    finally:
        gmsh.finalize()
    return path


def sources(folder):
    """The same pressure (1000 + 10 x, lengths in mm) in each supported source format."""
    rng = np.random.default_rng(3)
    xyz = rng.uniform((-10, -10, -10), (110, 60, 30), (4000, 3))
    csv = folder / "cloud.csv"
    csv.write_text("x,y,z,pressure\n" + "".join(f"{x},{y},{z},{1000 + 10 * x}\n" for x, y, z in xyz))
    box = vtk.vtkImageData()
    box.SetDimensions(13, 8, 5)
    box.SetSpacing(10, 10, 10)
    box.SetOrigin(-10, -10, -10)
    grid_xyz = np.array([box.GetPoint(i) for i in range(box.GetNumberOfPoints())])
    field = ns.numpy_to_vtk(1000 + 10 * grid_xyz[:, 0], deep=1)
    field.SetName("Pressure")
    box.GetPointData().AddArray(field)
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputData(box)
    surface.Update()
    to_grid = vtk.vtkAppendFilter()
    to_grid.AddInputData(box)
    to_grid.Update()
    written = {"csv": csv}
    for key, name, writer, data in (
            ("vti", "box.vti", vtk.vtkXMLImageDataWriter(), box),
            ("vtp", "box.vtp", vtk.vtkXMLPolyDataWriter(), surface.GetOutput()),
            ("vtu", "box.vtu", vtk.vtkXMLUnstructuredGridWriter(), to_grid.GetOutput())):
        writer.SetFileName(str(folder / name))
        writer.SetInputData(data)
        writer.Write()
        written[key] = folder / name
    return written


def replayed_loads(mesh, out):
    """The host functions the folder's recorded_loads.py calls, replayed on a fresh host holding
    the mesh (in mm, model named "box" as kelm-map names it)."""
    kelm.reset()
    kelm.setApplicationUnitSystem("mm-kg-s-N-K")
    kelm.io.load_model(str(mesh), model_name="box", length_unit="mm")
    exec(compile((out / "recorded_loads.py").read_text(), "recorded_loads.py", "exec"), {})
    return [c.function for c in kelm.environment.created]


def kelm_map(*args):
    return subprocess.run([str(ROOT / "kelm-map"), *map(str, args)], capture_output=True,
                          text=True)


class TestKelmMap:
    @pytest.fixture(scope="class")
    def files(self, tmp_path_factory):
        folder = tmp_path_factory.mktemp("kelm-map")
        return folder, gmsh_box(folder / "box.msh"), gmsh_box(folder / "hexbox.msh", True), sources(folder)

    @pytest.mark.parametrize("fmt", ["csv", "vtp", "vtu", "vti"])
    def test_tetrahedral_box_with_each_source_format(self, files, fmt):
        folder, tets, _, source = files
        out = folder / f"out-{fmt}"
        # The box's faces enclose the body with outward normals, not a CFD wall (normals out of
        # the fluid, onto the wall): with a tolerance every face would turn away from them.
        run = kelm_map(tets, source[fmt], "--tolerance", "none", "--mesh-unit", "mm",
                       "--source-unit", "mm", "--out",
                       out, "--no-pictures", "--quiet")
        assert run.returncode == 0, run.stderr
        report = json.loads((out / "report_pressure.json").read_text())
        (body,) = report["bodies"]
        assert body["faces_loaded"] > 0 and body["no_value"] == 0
        assert 900 <= body["mapped"]["min"] and body["mapped"]["max"] <= 2100
        assert (out / "mapped_pressure.vtm").exists() and (out / "recorded_loads.py").exists()

    @pytest.mark.parametrize("method", ["Surface projection", "Linear fit"])
    def test_methods_exact_for_a_linear_field(self, files, method):
        folder, tets, _, source = files
        if method == "Surface projection":
            # The box's own faces as the source surface (a volume source would be reduced to its
            # outer faces, 10 mm off the box).
            cube = vtk.vtkCubeSource()
            cube.SetBounds(0, 100, 0, 50, 0, 20)
            cube.Update()
            faces = cube.GetOutput()
            x = ns.vtk_to_numpy(faces.GetPoints().GetData())[:, 0].astype(float)
            field = ns.numpy_to_vtk(1000 + 10 * x, deep=1)
            field.SetName("Pressure")
            faces.GetPointData().AddArray(field)
            path = case_writers.write_xml(folder / "faces.vtp", faces)
        else:
            path = source["csv"]
        out = folder / f"out-{method.split()[0]}"
        run = kelm_map(tets, path, "--tolerance", "none", "--mesh-unit", "mm", "--source-unit", "mm",
                       "--method",
                       method, "--out", out, "--no-pictures", "--quiet")
        assert run.returncode == 0, run.stderr
        (body,) = json.loads((out / "report_pressure.json").read_text())["bodies"]
        assert body["no_value"] == 0
        # 1000 + 10 x over the box's x from 0 to 100 mm.
        assert body["mapped"]["min"] == pytest.approx(1000.0, abs=1e-6)
        assert body["mapped"]["max"] == pytest.approx(2000.0, abs=1e-6)

    def test_hexahedral_box_in_metres_with_a_picture_and_a_tolerance(self, files):
        folder, _, hexes, source = files
        out = folder / "out-hex"
        run = kelm_map(hexes, source["csv"], "--mesh-unit", "mm", "--model-unit", "m",
                       "--source-unit", "mm", "--tolerance", "0.01", "--out", out)
        assert run.returncode == 0, run.stderr
        assert "[Pressure] map with" in run.stdout and "Force balance, in N" in run.stdout
        report = json.loads((out / "report_pressure.json").read_text())
        assert report["bodies"][0]["faces_loaded"] == 6 * 4 * 4  # 4 x 4 quadrilaterals per side
        assert report["bodies"][0]["largest_distance"] < 0.01
        assert (out / "pressure.png").stat().st_size > 1000
        page = (out / "report_pressure.html").read_text()
        assert f"kelm-map {hexes} {source['csv']} --mesh-unit mm" in page  # how it was made

    @pytest.mark.parametrize("args, message", [
        (["{tets}", "{folder}/missing.csv"], "missing.csv: no such file"),
        (["{folder}/missing.msh", "{csv}"], "missing.msh: no such file"),
        (["{csv}", "{csv}"], "not a mesh file this tool can read"),
        (["{tets}", "{bad}"], "bad.csv: line 2 has 2 values"),
        (["{tets}", "{csv}", "--source-unit", "parsec"], "unknown length unit 'parsec'"),
        (["{tets}", "{vtp}", "--field", "Temperature"],
         "no array 'Temperature' (point arrays: Pressure; cell arrays: none)"),
        (["{tets}", "{vtp}", "--patches", "roof"], "no part 'roof' (the parts there are: box)"),
        (["{tets}", "{csv}", "--field", "Pressure", "--field", "Temperature", "--scale", "2"],
         "--scale 2: say which field, as LOAD=2 (fields: Pressure, Temperature)"),
        (["{tets}", "{csv}", "--offset", "Heat=1"], "--offset Heat=1: no --field 'Heat'"),
        (["{tets}", "{csv}", "--rotate", "0", "0", "0", "90"], "--rotate: the axis (0 0 0)"),
        (["{tets}", "{csv}", "--transform", "{bad}"], "bad.csv: not 4 rows of 4 numbers"),
        (["{tets}", "{csv}", "--mirror", "0", "1", "about"],
         "--mirror: expected NX NY NZ [about CX CY CZ], not 0 1 about"),
        (["{tets}", "{csv}", "--field-unit", "kPsi"], "--field-unit: unknown pressure unit 'kPsi'"),
        (["{tets}", "{csv}", "--mesh-unit", "mm", "--source-unit", "mm", "--method",
          "Mesh only"], "\"Mesh only\" maps nothing from a source without cells"),
        (["{tets}", "{csv}", "--field", "Temperature", "--method", "Face average"],
         "but Temperature would map onto every node: give --boundary-only"),
        (["{tets}", "{crash}"], "the VTK reader crashed on"),
    ])
    def test_errors_in_the_users_files_are_one_line(self, files, args, message):
        folder, tets, _, source = files
        (folder / "bad.csv").write_text("x,y,z,p\n1,2\n")
        crash = case_writers.legacy_vtk(folder)  # its version altered: VTK's reader crashes on it
        crash.write_bytes(crash.read_bytes().replace(b"Version 5.1", b"Version 2.0"))
        values = dict(folder=folder, tets=tets, csv=source["csv"], vtp=source["vtp"],
                      bad=folder / "bad.csv", crash=crash)
        run = kelm_map(*[a.format(**values) for a in args], "--out", folder / "err", "--quiet")
        assert run.returncode == 1
        assert "Traceback" not in run.stderr
        assert run.stderr.strip().splitlines()[-1].startswith("kelm-map: error: ")
        assert message in run.stderr
        assert not (folder / "err").exists()  # refused before anything is written

    def test_a_model_in_mm_read_as_m_names_both_boxes_and_the_unit_options(self, files):
        folder, tets, _, source = files
        run = kelm_map(tets, source["csv"], "--source-unit", "mm", "--out", folder / "apart",
                       "--quiet")
        error = run.stderr.strip().splitlines()[-1]
        assert "source's bounding box (x -0.009974 to 0.11" in error
        assert "model's (x 0 to 100, y 0 to 50, z 0 to 20), both in m" in error
        assert "--mesh-unit, --model-unit and --source-unit" in error
        forced = kelm_map(tets, source["csv"], "--source-unit", "mm", "--no-overlap-check",
                          "--out", folder / "apart", "--quiet", "--no-pictures")
        assert forced.returncode == 0, forced.stderr

    def test_tolerance_auto_loads_the_wetted_face_only(self, files):
        # The fluid under the hexahedral box: its CFD wall at z = 0, normals out of the fluid (+z).
        folder, _, hexes, _ = files
        plane = vtk.vtkPlaneSource()
        plane.SetOrigin(-5, -5, 0)
        plane.SetPoint1(105, -5, 0)
        plane.SetPoint2(-5, 55, 0)
        plane.SetResolution(11, 6)
        plane.Update()
        wall = plane.GetOutput()
        faces = ns.numpy_to_vtk(np.full(wall.GetNumberOfCells(), 1000.0), deep=1)
        faces.SetName("Pressure")
        wall.GetCellData().AddArray(faces)
        case_writers.write_xml(folder / "wall.vtp", wall)
        out = folder / "auto"
        run = kelm_map(hexes, folder / "wall.vtp", "--mesh-unit", "mm", "--source-unit", "mm",
                       "--method", "Surface projection", "--out", out, "--no-pictures")
        assert run.returncode == 0, run.stderr
        assert "[input] tolerance auto: 11.18 (model units)" in run.stdout  # the box's faces
        (body,) = json.loads((out / "report_pressure.json").read_text())["bodies"]
        assert body["faces_loaded"] == 4 * 4  # the bottom, 4 x 4 quadrilaterals
        assert body["facing_away"] == 4 * 4 * 2  # the rims' faces within 11.18 mm
        assert body["dropped_by_tolerance"] == 6 * 4 * 4 - 16 - 32

    def test_coarse_to_fine_radius_from_a_source_whose_faces_carry_their_own_points(self, files):
        # Every face holds its own copies of its corners, as some CFD exports write them, so
        # every point's nearest point lies on it. The radius is twice the spacing of distinct
        # points (10 mm), printed and in the report.
        folder, tets, _, _ = files
        own = vtk.vtkShrinkPolyData()
        own.SetInputData(case_writers.plane((-10, -10, 0), (110, -10, 0), (-10, 60, 0), (12, 7)))
        own.SetShrinkFactor(1.0)
        own.Update()
        wall = own.GetOutput()
        values = ns.numpy_to_vtk(np.full(wall.GetNumberOfPoints(), 1000.0), deep=1)
        values.SetName("Pressure")
        wall.GetPointData().AddArray(values)
        out = folder / "coarse"
        run = kelm_map(tets, case_writers.write_xml(folder / "own.vtp", wall), "--method",
                       "Coarse to fine", "--tolerance", "none", "--mesh-unit", "mm",
                       "--source-unit", "mm", "--out", out, "--no-pictures")
        assert run.returncode == 0, run.stderr
        assert "\"Coarse to fine\" radius: 20 (model units)" in run.stdout
        assert json.loads((out / "report_pressure.json").read_text())["radius"] == 20
        assert "tolerance None, radius 20" in (out / "report_pressure.txt").read_text()

    def test_two_fields_into_one_folder_keep_both_loads(self, files):
        folder, tets, _, source = files
        out = folder / "both"
        common = ["--mesh-unit", "mm", "--source-unit", "mm", "--out", out, "--no-pictures",
                  "--quiet"]
        for field in ("Pressure", "Temperature", "Heat flux"):
            run = kelm_map(tets, source["csv"], "--field", field, *common)
            assert run.returncode == 0, run.stderr
        assert "no host load for 'Heat flux'" in run.stdout
        assert "mapped, no host load" in (out / "report_heat flux.txt").read_text()
        assert replayed_loads(tets, out) == [
            "createPressurePropertyStaticVariable", "createLoadPressure",
            "createTemperaturePropertyStaticVariable", "createLoadTemperature"]


def points_of(dataset):
    cloud = vtk.vtkPolyData()
    cloud.SetPoints(dataset.GetPoints())
    return cloud


class TestAutoMethod:
    @pytest.mark.parametrize("source, field, method", [
        (points_of(case_writers.square()), "Pressure", "Linear fit"),
        (case_writers.square(name="Pressure"), "Pressure", "Face average"),
        (case_writers.square(where="point", name="T"), "Temperature", "Surface projection"),
        (case_writers.cube_grid(name="Pressure"), "Pressure", "Surface projection"),  # a volume
    ])
    def test_the_most_accurate_method_for_what_the_source_holds(self, source, field, method):
        assert auto_method(source, field)[0] == method


class TestModelAsBuilt:
    def test_each_physical_volume_is_a_body_with_its_own_balance(self, tmp_path):
        """Three cubes standing on a CFD wall (z = 0, fluid below, 1 kPa on every face), the
        first in the physical volume "left", the others in "right"."""
        mesh = mesh_files.gmsh41_three_cubes(tmp_path / "row.msh")
        wall = case_writers.plane((-0.5, -0.5, 0), (3.5, -0.5, 0), (-0.5, 1.5, 0), (8, 4))
        pressure = ns.numpy_to_vtk(np.full(wall.GetNumberOfCells(), 1000.0), deep=1)
        pressure.SetName("Pressure")
        wall.GetCellData().AddArray(pressure)
        run = kelm_map(mesh, case_writers.write_xml(tmp_path / "wall.vtp", wall), "--out",
                       tmp_path / "out", "--no-pictures")
        assert run.returncode == 0, run.stderr
        assert ("[input] method auto for Pressure: \"Face average\", a pressure from a surface "
                "with faces") in run.stdout
        report = json.loads((tmp_path / "out" / "report_pressure.json").read_text())
        assert report["method"] == "Face average" and "keeps the force" in report["method_reason"]
        bodies = {b["body"]: b for b in report["bodies"]}
        assert list(bodies) == ["row/Part 1/left", "row/Part 1/right"]
        assert [b["faces_loaded"] for b in bodies.values()] == [1, 2]  # the cubes' bottoms
        for body, newtons in zip(bodies.values(), (1000, 2000)):
            assert body["balance"]["loaded"] == pytest.approx([0, 0, newtons])
            assert body["balance"]["check"] == "ok"


def rotated_about_z(xyz, degrees):
    c, s = np.cos(np.radians(degrees)), np.sin(np.radians(degrees))
    return xyz @ np.array([[c, s, 0], [-s, c, 0], [0, 0, 1]])


class TestKelmMapFromCFD:
    @pytest.fixture(scope="class")
    def box(self, tmp_path_factory):
        folder = tmp_path_factory.mktemp("kelm-map-cfd")
        return folder, gmsh_box(folder / "box.msh")

    def test_two_fields_of_a_moved_multiblock_in_one_run(self, box):
        """The box's faces as a CFD code might have written them: in m, turned -90 degrees about
        z and shifted, with a kinematic pressure and a temperature per point, beside a volume
        block. --rotate and --translate put them back onto the box (model in mm)."""
        folder, tets = box
        cube = vtk.vtkCubeSource()
        cube.SetBounds(0, 100, 0, 50, 0, 20)
        cube.Update()
        walls = cube.GetOutput()
        true_xyz = ns.vtk_to_numpy(walls.GetPoints().GetData()).astype(float)
        moved = (rotated_about_z(true_xyz, -90) - (10, 20, 30)) / 1000
        walls.GetPoints().SetData(ns.numpy_to_vtk(moved, deep=1))
        for name, value in (("p", true_xyz[:, 0]), ("T", 300 + true_xyz[:, 2] / 10)):
            array = ns.numpy_to_vtk(value, deep=1)
            array.SetName(name)
            walls.GetPointData().AddArray(array)
        faces = ns.numpy_to_vtk(np.full(walls.GetNumberOfCells(), -7.0), deep=1)
        faces.SetName("p")  # face values too, as the solvers' exports hold: @point chooses
        walls.GetCellData().AddArray(faces)
        fluid = case_writers.cube_grid(9.0)  # a volume block: not read by default
        path = case_writers.write_xml(folder / "cfd.vtm", case_writers.multiblock(
            {"walls": walls, "fluid": fluid}))
        out = folder / "moved"
        # The body fills the space the walls enclose (a fluid's place, not a wall's), so its
        # faces turn away from them: no tolerance, which would leave out faces that do.
        run = kelm_map(tets, path, "--tolerance", "none", "--field", "Pressure=p@point",
                       "--field", "Temperature=T",
                       "--scale", "Pressure=2", "--offset", "Pressure=1000", "--mesh-unit", "mm",
                       "--rotate", "0", "0", "1", "90", "--translate", "-20", "10", "30",
                       "--method", "Surface projection", "--out", out, "--no-pictures",
                       "--quiet")
        assert run.returncode == 0, run.stderr
        pressure = json.loads((out / "report_pressure.json").read_text())
        assert pressure["source"]["applied"] == {"array": "p@point", "scale": 2.0,
                                                 "offset": 1000.0}
        assert pressure["source"]["values"].startswith("point values; the source also held face")
        (body,) = pressure["bodies"]
        assert body["mapped"]["min"] == pytest.approx(1000, abs=1e-6)  # 2 x + 1000, x 0..100
        assert body["mapped"]["max"] == pytest.approx(1200, abs=1e-6)
        (body,) = json.loads((out / "report_temperature.json").read_text())["bodies"]
        assert (body["mapped"]["min"], body["mapped"]["max"]) == pytest.approx((300, 302))
        reader = vtk.vtkXMLPolyDataReader()
        reader.SetFileName(str(out / "source_moved.vtp"))
        reader.Update()
        assert reader.GetOutput().GetBounds() == pytest.approx((0, 100, 0, 50, 0, 20), abs=1e-9)
        assert replayed_loads(tets, out) == [
            "createPressurePropertyStaticVariable", "createLoadPressure",
            "createTemperaturePropertyStaticVariable", "createLoadTemperature"]

    def test_a_half_model_mirrored_in_its_own_coordinates_loads_the_whole_box(self, box):
        """The box's half y < 25 mm as a CFD with a symmetry plane writes it, in m and shifted
        by 1 m in z: the copy is made about the source's own plane, then moved back."""
        folder, tets = box
        cube = vtk.vtkCubeSource()
        cube.SetBounds(0, 0.1, 0, 0.025, 1, 1.02)  # its face at y = 25 mm lies in the plane
        cube.Update()
        half = cube.GetOutput()
        p = ns.numpy_to_vtk(1000 * ns.vtk_to_numpy(half.GetPoints().GetData())[:, 0], deep=1)
        p.SetName("p")
        half.GetPointData().AddArray(p)
        path = case_writers.write_xml(folder / "half.vtp", half)
        out = folder / "half"
        run = kelm_map(tets, path, "--tolerance", "none", "--field", "Pressure=p",
                       "--mesh-unit", "mm", "--source-unit", "m", "--mirror", "0", "1", "0",
                       "about", "0", "0.025", "0", "--translate", "0", "0", "-1000",
                       "--method", "Surface projection", "--out", out, "--no-pictures",
                       "--quiet")
        assert run.returncode == 0, run.stderr
        report = json.loads((out / "report_pressure.json").read_text())
        assert (report["source"]["copies"], report["source"]["cells"]) == (1, 10)
        (body,) = report["bodies"]
        assert body["no_value"] == 0 and body["mapped"]["max"] == pytest.approx(100, abs=1e-6)
        assert "with 1 mirrored or turned copies" in (out / "report_pressure.txt").read_text()

    def test_openfoam_wall_pressure_held_on_faces_reaches_the_mesh(self, box):
        folder, tets = box
        case = case_writers.openfoam_case(folder / "case", extent=(0.1, 0.05, 0.02))
        out = folder / "foam"
        run = kelm_map(tets, case, "--tolerance", "none", "--field", "Pressure=p", "--scale",
                       "1000", "--mesh-unit",
                       "mm", "--method", "Surface projection", "--out", out, "--quiet")
        assert run.returncode == 0, run.stderr
        report = json.loads((out / "report_pressure.json").read_text())
        assert report["source"]["values"].startswith("face values")
        (body,) = report["bodies"]
        # The latest time's face values times 1000: walls 10, the top's two faces 20 and 40,
        # whose nodes take the line through the two faces' centres: 10 to 50 along the top.
        assert (body["mapped"]["min"], body["mapped"]["max"]) == pytest.approx((10000, 50000))
        assert (out / "pressure.png").stat().st_size > 1000  # face values drawn, page written
        assert (out / "report_pressure.html").stat().st_size > 1000

    def test_a_region_of_a_parallel_run_and_the_report_says_where_it_was_read(self, box):
        folder, tets = box
        case = case_writers.multi_region_case(folder / "cht", case=case_writers.decomposed_case,
                                              extent=(0.1, 0.05, 0.02))
        out = folder / "cht_out"
        run = kelm_map(tets, case, "--region", "solid", "--tolerance", "none", "--field",
                       "Pressure=p", "--scale", "1000", "--mesh-unit", "mm", "--method",
                       "Surface projection", "--out", out, "--quiet", "--no-pictures")
        assert run.returncode == 0, run.stderr
        report = json.loads((out / "report_pressure.json").read_text())
        (body,) = report["bodies"]
        # The solid's processors at 0.5 (factor 4), not the top level's 0: walls 20, the top 40
        # and 80, whose nodes take the line through them (20 to 100).
        assert (body["mapped"]["min"], body["mapped"]["max"]) == pytest.approx((20000, 100000))
        assert "; time 0.5; layout decomposed (2 processors); region solid" in (
            out / "report_pressure.txt").read_text()
