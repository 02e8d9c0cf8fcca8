"""The main road across modules: export -> map -> loads, for every mapping method."""
import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import fieldferry
import kelm
import loadscribe
import treewalk


def labelled(poly, field, values, length_unit, field_unit):
    array = ns.numpy_to_vtk(np.asarray(values, np.float32), deep=True)
    array.SetName(field)
    poly.GetPointData().AddArray(array)
    for name, value in (("current_units_length", length_unit),
                        ("units_pressure" if field == "Pressure" else "units_temperature", field_unit)):
        label = vtk.vtkStringArray()
        label.SetName(name)
        label.InsertNextValue(value)
        poly.GetFieldData().AddArray(label)
    return poly


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


def test_point_cloud_pressure_in_mm_lands_in_metres_on_every_loaded_body():
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
    # The model is in metres, so the source (mm) was scaled by 0.001 before the nearest-point
    # lookup: all pressures stay within the source's range.
    pressures = [p for body in values.values() for row in body["pressures"] for p in row]
    field = ns.vtk_to_numpy(source.GetPointData().GetArray("Pressure"))
    assert field.min() <= min(pressures) and max(pressures) <= field.max()
