"""The main road across modules: export -> map -> loads, for every mapping method."""
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
from case_writers import plane  # noqa: E402
from mapping_report import mapping_report  # noqa: E402
import mainroad  # noqa: E402


def labelled(poly, field, values, length_unit, field_unit, on_cells=False):
    array = ns.numpy_to_vtk(np.asarray(values, np.float64 if on_cells else np.float32), deep=True)
    array.SetName(field)
    (poly.GetCellData() if on_cells else poly.GetPointData()).AddArray(array)
    for name, value in (("current_units_length", length_unit),
                        ("units_pressure" if field == "Pressure" else "units_temperature", field_unit)):
        label = vtk.vtkStringArray()
        label.SetName(name)
        label.InsertNextValue(value)
        poly.GetFieldData().AddArray(label)
    return poly


def with_face_pressure(poly, pressure_of_centres):
    """`poly` labelled in m and Pa, holding "Pressure" per face only: pressure_of_centres(c) of
    the face centres c."""
    centres = vtk.vtkCellCenters()
    centres.SetInputData(poly)
    centres.Update()
    c = ns.vtk_to_numpy(centres.GetOutput().GetPoints().GetData())
    return labelled(poly, "Pressure", pressure_of_centres(c), "m", "Pa", on_cells=True)


def sphere_source(field, with_cells, centre_mm=(150.0, 150.0, 150.0), radius_mm=400.0):
    """A sphere around the sample model (lengths in mm), field = 1000 + x + 2 y (in mm)."""
    sphere = vtk.vtkSphereSource()
    sphere.SetCenter(*centre_mm)
    sphere.SetRadius(radius_mm)
    sphere.SetThetaResolution(40)
    sphere.SetPhiResolution(40)
    sphere.Update()
    poly = vtk.vtkPolyData()
    if with_cells:
        poly.DeepCopy(sphere.GetOutput())
    else:
        poly.SetPoints(sphere.GetOutput().GetPoints())
    xyz = ns.vtk_to_numpy(poly.GetPoints().GetData())
    unit = "Pa" if field == "Pressure" else "K"
    return labelled(poly, field, 1000 + xyz[:, 0] + 2 * xyz[:, 1], "mm", unit)


@pytest.fixture(autouse=True)
def fresh():
    kelm.reset()
    fieldferry.diagnostics_dir = None
    loadscribe.macro = None
    yield


def leaves(multiblock):
    it = multiblock.NewIterator()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        yield it.GetCurrentDataObject()
        it.GoToNextItem()


@pytest.mark.parametrize("method", ["Point cloud or mesh", "Mesh only", "Coarse to fine",
                                    "Surface projection", "Linear fit"])
@pytest.mark.parametrize("field", ["Pressure", "Temperature"])
def test_every_method_gives_leaves_the_load_writer_can_use(method, field):
    model = kelm.samples.sample_model()
    exported = treewalk.create_vtk_dataset_from_kelm_entities([model])
    source = sphere_source(field, with_cells=True)
    mapped = fieldferry.map_scalar_field_to_mesh(field, method, source, exported, False, 1000.0)
    for leaf in leaves(mapped):
        if leaf.GetFieldData().GetAbstractArray("Body pathName") is None:
            continue  # a geometry body: mapped, but it has no host IDs to load
        assert leaf.GetPointData().GetArray("Node ID") is not None
        assert leaf.GetPointData().GetArray("Distance") is not None
        assert leaf.GetPointData().GetArray(field) is not None
        assert leaf.GetPointData().GetArray("vtkValidPointMask") is not None
    loadscribe.create_kelm_load_from_vtk_field(mapped, field, 1000.0)
    created = [c.function for c in kelm.environment.created]
    kind = "Pressure" if field == "Pressure" else "Temperature"
    assert created == [f"create{kind}PropertyStaticVariable", f"createLoad{kind}"]


def test_point_cloud_pressure_reaches_every_loaded_body():
    model = kelm.samples.sample_model()
    exported = treewalk.create_vtk_dataset_from_kelm_entities([model])
    source = sphere_source("Pressure", with_cells=False)
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Point cloud or mesh", source,
                                                 exported, True, None)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", None)
    prop = kelm.environment.created[0]
    values = prop.kwargs["pressureValues"]
    # Every mesh body gets an entry (the bar mesh an empty one: it has no faces); the geometry
    # body "Cover face" has no host mesh and gets none.
    assert set(values) == {"Sample/Frame/Beams", "Sample/Housing/Block/Block mesh",
                           "Sample/Housing/Insert/Insert mesh",
                           "Sample/Housing/Cover assembly/Cover/Cover shell"}
    assert values["Sample/Frame/Beams"]["element_ids"] == []


def model_surface_in_mm(exported):
    """The exported bodies' surfaces as one triangle polydata with lengths in mm (the model is in
    metres), carrying no arrays; and node ID -> coordinates in metres."""
    append = vtk.vtkAppendPolyData()
    coordinates = {}
    for leaf in leaves(exported):
        if leaf is None or not leaf.IsA("vtkDataSet"):
            continue
        ids = leaf.GetPointData().GetArray("Node ID")
        if ids is not None:
            xyz = ns.vtk_to_numpy(leaf.GetPoints().GetData()).astype(np.float64)
            coordinates.update(zip(ns.vtk_to_numpy(ids).tolist(), xyz))
        faces = vtk.vtkGeometryFilter()
        faces.SetInputData(leaf)
        triangles = vtk.vtkTriangleFilter()
        triangles.SetInputConnection(faces.GetOutputPort())
        append.AddInputConnection(triangles.GetOutputPort())
    append.Update()
    surface = vtk.vtkPolyData()
    surface.SetPolys(append.GetOutput().GetPolys())
    mm = ns.vtk_to_numpy(append.GetOutput().GetPoints().GetData()).astype(np.float64) * 1000.0
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(mm, deep=True))
    surface.SetPoints(points)
    return surface, mm, coordinates


def test_mesh_only_field_in_mm_arrives_exactly_at_nodes_in_metres():
    # A linear field is reproduced exactly by the probe's linear interpolation, so each load value
    # must be the field at its node: 1000 + x + 2 y with x, y in mm. Unscaled, the model's nodes
    # (in metres) would land near the source's origin and take other values or none.
    model = kelm.samples.sample_model()
    exported = treewalk.create_vtk_dataset_from_kelm_entities([model])
    surface, mm, coordinates = model_surface_in_mm(exported)
    source = labelled(surface, "Pressure", 1000 + mm[:, 0] + 2 * mm[:, 1], "mm", "Pa")
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Mesh only", source, exported, True,
                                                 None)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", None)
    mesh_types = {}
    it = mapped.NewIterator()
    it.InitTraversal()
    while not it.IsDoneWithTraversal():
        path, kind = (it.GetCurrentDataObject().GetFieldData().GetAbstractArray(name)
                      for name in ("Body pathName", "mesh_type"))
        if path is not None:
            mesh_types[path.GetValue(0)] = kind.GetValue(0)
        it.GoToNextItem()
    values = kelm.environment.created[0].kwargs["pressureValues"]
    checked = 0
    for path, body in values.items():
        # The source is the model's own surface: its normals point along a shell's, which puts
        # the fluid behind the shell, so a shell carries the pressure with its sign turned.
        sign = -1 if mesh_types[path] not in ("tetra", "hexa") else 1
        for row, pressures in zip(body["face_identifiers"], body["pressures"]):
            for node, pressure in zip(row, pressures):
                x, y, _ = coordinates[node]
                assert sign * pressure == pytest.approx(1000 + 1000 * x + 2000 * y, abs=1e-3)
                checked += 1
    assert checked > 100


def test_report_takes_the_source_force_from_face_values():
    model = kelm.Model("M")
    xy = np.array([(x, y, 0.0) for y in range(3) for x in range(3)], float) / 2
    quads = [[i + 3 * j, i + 1 + 3 * j, i + 4 + 3 * j, i + 3 + 3 * j]
             for j in range(2) for i in range(2)]
    model.add_part("P").add_mesh("Plate", np.arange(1, 10), xy,
                                 {kelm.mesh.ElementTopology.Quad4: (np.arange(1, 5), quads)})
    exported = treewalk.create_vtk_dataset_from_kelm_entities([model])
    # 1 x 1 m at z = 0, 4 x 4 quadrilaterals, normal +z
    source = with_face_pressure(plane((0, 0, 0), (1, 0, 0), (0, 1, 0), (4, 4)),
                                lambda c: np.full(len(c), 1000.0))
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source,
                                                 exported, True, None)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", None)
    report = mapping_report(mapped, source, "Pressure", "Surface projection", None)
    assert report["source"]["values"] == ("face values, made point values by a linear fit "
                                          "through the faces around each point")
    # The source's normals (+z) point out of the fluid below, onto the plate: the plate takes
    # the pressure from behind its element normals (+z), and the load pushes up as the fluid does.
    assert report["force"]["source"] == pytest.approx([0, 0, 1000.0])
    assert report["force"]["loaded"] == pytest.approx([0, 0, 1000.0])
    assert report["force"]["check"] == "ok"


def thin_wall(n, t=0.02):
    """(node coordinates, exported model) of a 1 x 1 m plate t thick in n x n x 2 hexahedra,
    body "M/P/Wall", its lower face at z = 0."""
    xs, zs = np.linspace(0, 1, n + 1), np.linspace(0, t, 3)
    xyz = np.array([(x, y, z) for x in xs for y in xs for z in zs])
    at = lambda i, j, k: (i * (n + 1) + j) * 3 + k  # noqa: E731
    hexes = [[at(i, j, k), at(i + 1, j, k), at(i + 1, j + 1, k), at(i, j + 1, k),
              at(i, j, k + 1), at(i + 1, j, k + 1), at(i + 1, j + 1, k + 1), at(i, j + 1, k + 1)]
             for i in range(n) for j in range(n) for k in range(2)]
    model = kelm.Model("M")
    model.add_part("P").add_mesh("Wall", np.arange(1, len(xyz) + 1), xyz,
                                 {kelm.mesh.ElementTopology.Hexa8:
                                  (np.arange(1, len(hexes) + 1), hexes)})
    return xyz, treewalk.create_vtk_dataset_from_kelm_entities([model])


def with_fluid_below(wall):
    """`wall` merged with the fluid's cells under it (a 0.1 m layer of hexahedra) into one
    unstructured grid, as a reader merges a case's wall and volume parts."""
    box = vtk.vtkImageData()
    box.SetOrigin(-0.1, -0.1, -0.1)
    box.SetSpacing(0.2, 0.2, 0.1)
    box.SetDimensions(7, 7, 2)
    merged = vtk.vtkAppendFilter()
    merged.AddInputData(wall)
    merged.AddInputData(box)
    merged.Update()
    return merged.GetOutput()


@pytest.mark.parametrize("merged", [False, True], ids=["surface", "surface_and_volume"])
def test_a_thin_solid_wall_is_loaded_on_its_wetted_side_only(merged):
    # A 1 x 1 m plate 20 mm thick (4 x 4 x 2 hexahedra); the fluid below it, its CFD wall at z = 0
    # with normals out of the fluid (+z). A tolerance of 50 mm reaches both sides of the wall.
    n = 4
    xyz, exported = thin_wall(n)
    wall = plane((-0.1, -0.1, 0), (1.1, -0.1, 0), (-0.1, 1.1, 0), (6, 6))  # normal +z
    wall = with_fluid_below(wall) if merged else wall
    source = labelled(wall, "Pressure", np.full(wall.GetNumberOfPoints(), 1000.0), "m", "Pa")
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Surface projection", source,
                                                 exported, True, 0.05)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", 0.05)
    field = loadscribe.last_loaded_fields["M/P/Wall"]
    assert len(field["face_identifiers"]) == n * n  # the wetted face only
    bottom = {i + 1 for i, p in enumerate(xyz) if p[2] == 0}
    assert all(set(face) <= bottom for face in field["face_identifiers"])
    # 4 x 4 on top and 4 x 2 on each of the four rims turn away from the source.
    assert loadscribe.last_left_out_counts["M/P/Wall"]["facing away"] == n * n + 4 * n * 2


def test_a_face_average_loads_the_source_force_and_reports_the_area_it_covers():
    # The plate of the test above, 1 x 1 m, wetted below; the CFD wall twice as long (0 <= x <= 2)
    # in faces that do not line up with the plate's, holding p = 1000 + 500 x + 300 y per face.
    n = 4
    xyz, exported = thin_wall(n)
    # Normal +z, out of the fluid.
    source = with_face_pressure(plane((0, 0, 0), (2, 0, 0), (0, 1, 0), (26, 13)),
                                lambda c: 1000 + 500 * c[:, 0] + 300 * c[:, 1])
    mapped = fieldferry.map_scalar_field_to_mesh("Pressure", "Face average", source, exported,
                                                 True, 0.05)
    loadscribe.create_kelm_load_from_vtk_field(mapped, "Pressure", 0.05)
    field = loadscribe.last_loaded_fields["M/P/Wall"]
    assert len(field["face_identifiers"]) == n * n  # the wetted face only
    assert all(len(set(row)) == 1 for row in field["pressures"])  # one value per face
    report = mapping_report(mapped, source, "Pressure", "Face average", 0.05)
    exact = 1000 + 500 / 2 + 300 / 2  # the mean pressure over the plate times its 1 m^2
    assert report["force"]["loaded"] == pytest.approx([0, 0, exact], rel=5e-3, abs=1e-6 * exact)
    assert report["source_area"]["whole"] == pytest.approx(2.0)
    assert report["source_area"]["share"] == pytest.approx(0.5, rel=1e-6)


class TestMirroredSource:
    def test_a_mirrored_source_loads_what_its_unmirrored_twin_does(self, tmp_path):
        # The thin wall wetted below; the CFD ran on its mirror image (x -> -x), so its wall
        # file lies at -1.1 <= x <= 0.1, its normals out of the fluid (+z) there too. The mirror
        # brings it back: its windings must turn with it, or every normal points into the fluid
        # and the facing test loads the dry side instead.
        mirror = np.diag([-1.0, 1.0, 1.0, 1.0])
        reports, faces = {}, {}
        for name, corner, along_x, transform in (
                ("twin", (-0.1, -0.1, 0), (1.1, -0.1, 0), None),
                ("mirrored", (-1.1, -0.1, 0), (0.1, -0.1, 0), mirror)):
            kelm.reset()
            thin_wall(4)
            wall = plane(corner, along_x, (corner[0], 1.1, 0), (7, 7))  # no edge on a node
            source = with_face_pressure(wall, lambda c: 1000 + 500 * np.abs(c[:, 0]))
            reports[name] = mainroad.map_field(
                [kelm.currentModel()], source, "Pressure", "Surface projection", 0.05, True,
                str(tmp_path / name), pictures=False, quiet=True, transform=transform)
            faces[name] = loadscribe.last_loaded_fields["M/P/Wall"]["face_identifiers"]
        twin, mirrored = reports["twin"], reports["mirrored"]
        assert twin["bodies"][0]["faces_loaded"] == 16  # the wetted face of 4 x 4
        assert faces["mirrored"] == faces["twin"]
        assert mirrored["force"]["loaded"] == pytest.approx(twin["force"]["loaded"], rel=1e-9)
        assert mirrored["force"]["source"] == pytest.approx(twin["force"]["source"], rel=1e-9)
        assert mirrored["force"]["check"] == twin["force"]["check"]
