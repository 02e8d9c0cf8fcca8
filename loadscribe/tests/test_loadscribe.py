"""The load writer through its Python interface, against the stand-in host."""
import ast
import math
import re
import subprocess
import sys

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import kelm
import gaugeshift
import loadscribe
from mapped_builders import (T, host_mesh, leaf, mapped_surfaces, multiblock, temperature_leaf)

env = kelm.environment


def host_calls(*names):
    keep = set(names) or None
    return [c for c in kelm.call_log if c[0] != "read" and (keep is None or c[0] in keep)]


def f32(values):
    """The Python floats a float32 field array holds."""
    return np.asarray(values, np.float32).astype(float).tolist()


def entities(collection):
    out = []
    for e in collection:
        if isinstance(e, kelm.mesh.ElementFace):
            out.append(("face", e.element.id, e.face))
        else:
            out.append((type(e).__name__, e.id))
    return out


@pytest.fixture
def model():
    return kelm.Model("M")


@pytest.fixture
def plate(model):
    """A shell body "M/P/Plate" (nodes 5, 9, 12, 20) and a second one "M/P/Rim"."""
    host_mesh(model, "Plate", [5, 9, 12, 20], {T.Quad4: ([1], [(0, 1, 2, 3)])})
    host_mesh(model, "Rim", [31, 32, 33], {T.Tria3: ([2], [(0, 1, 2)])})
    return model


@pytest.fixture
def skin(model):
    """Shell body "M/P/Skin": Tria3 30 on nodes 1 2 3, Quad4 40 on nodes 2 4 5 3."""
    return host_mesh(model, "Skin", [1, 2, 3, 4, 5],
                     {T.Tria3: ([30], [(0, 1, 2)]), T.Quad4: ([40], [(1, 3, 4, 2)])})


def skin_leaf(**kwargs):
    # Quadrilateral first, then the triangle: polygons out of the 3-then-4 order.
    return leaf("M/P/Skin", [1, 2, 3, 4, 5], [10.0, 20.0, 30.0, 40.0, 50.0],
                polygons=[(1, 3, 4, 2), (0, 1, 2)], element_ids=[40, 30], **kwargs)


class TestModuleTopLevel:
    def test_unit_tables_list_their_units_in_the_documented_order(self):
        assert list(loadscribe.pressure_unit_to_unit_system) == [
            "Pa", "psi", "psf", "bar", "kbar", "Gbar", "hPa", "dyn/cm2", "Mbar", "kPa", "MPa",
            "GPa", "kgf/mm2"]
        assert list(loadscribe.temperature_unit_to_unit_system) == ["K", "C", "F"]

    # Pascals per pressure unit and newtons per force unit, from their definitions.
    PASCALS = {"Pa": 1.0, "psi": 4.4482216152605 / 0.0254**2, "psf": 4.4482216152605 / 0.3048**2,
               "bar": 1e5, "kbar": 1e8, "Gbar": 1e14, "hPa": 1e2, "dyn/cm2": 0.1, "Mbar": 1e11,
               "kPa": 1e3, "MPa": 1e6, "GPa": 1e9, "kgf/mm2": 9.80665e6}
    NEWTONS = {"N": 1.0, "mN": 1e-3, "cN": 1e-2, "kN": 1e3, "daN": 10.0, "dakN": 1e4,
               "daMN": 1e7, "daGN": 1e10, "dyn": 1e-5, "lbf": 4.4482216152605, "kgf": 9.80665}

    def test_each_pressure_is_scripted_in_a_system_whose_pressure_unit_it_is(self):
        # Force over length squared of the label's system, lengths from the unit converter: a
        # row naming the wrong system would script every pressure off by a power of ten.
        metres = gaugeshift.gaugeshift_factor().get_gaugeshift_factor
        for unit, label in loadscribe.pressure_unit_to_unit_system.items():
            length, _, _, force = label.split("-")[:4]
            pascals = self.NEWTONS[force] / metres("Length", length, "m")[0] ** 2
            assert pascals == pytest.approx(self.PASCALS[unit], rel=1e-9), (unit, label)
            # The mapping report converts the same units to newtons with the unit converter.
            assert metres("Pressure", unit, "Pa")[0] == pytest.approx(self.PASCALS[unit],
                                                                      rel=1e-12), unit

    def test_each_temperature_is_scripted_in_a_system_of_its_scale(self):
        scale = {"K": "K", "C": "degC", "F": "degF"}
        for unit, label in loadscribe.temperature_unit_to_unit_system.items():
            assert label.split("-")[4] == scale[unit]

    def test_recording_starts_off_and_imports_are_attributes(self):
        fresh = subprocess.run(
            [sys.executable, "-c", "import loadscribe as l; print(l.macro, l.np.__name__, "
             "l.kelm.__name__, l.numpy_support.__name__, l.reload.__name__)"],
            capture_output=True, text=True, check=True)
        assert fresh.stdout.split() == ["None", "numpy", "kelm", "vtk.util.numpy_support",
                                        "reload"]

    def test_filtered_surface_is_a_vtk_object_when_imported_first(self):
        script = ("import loadscribe, sys; sys.path.insert(0, %r); import mapped_builders as b; "
                  "out = loadscribe.filter_by_distance(b.leaf('X', [1, 2, 3], [0, 0, 0], "
                  "polygons=[(0, 1, 2)], element_ids=[4], distance=[0, 0, 0]), 1.0, 'cell'); "
                  "print(out.GetClassName(), out.GetNumberOfCells())" % __file__.rsplit("/", 1)[0])
        fresh = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                               check=True)
        assert fresh.stdout.split() == ["vtkPolyData", "1"]


class TestDispatch:
    def test_temperature_name_creates_a_temperature_load(self, plate):
        mesh = multiblock(temperature_leaf("M/P/Plate", [5, 9], [300.0, 310.0]))
        assert loadscribe.create_kelm_load_from_vtk_field(mesh, "Temperature", None) is None
        assert [c.function for c in env.created] == ["createTemperaturePropertyStaticVariable",
                                                     "createLoadTemperature"]

    def test_pressure_name_creates_a_pressure_load(self, skin):
        loadscribe.create_kelm_load_from_vtk_field(mesh=multiblock(skin_leaf()),
                                                   field_name="Pressure", tolerance=None)
        assert [c.function for c in env.created] == ["createPressurePropertyStaticVariable",
                                                     "createLoadPressure"]

    def test_last_loaded_fields_is_the_mapping_handed_to_the_host(self, plate, skin):
        loadscribe.create_kelm_load_from_vtk_field(
            multiblock(temperature_leaf("M/P/Plate", [5, 9], [300.0, 310.0])), "Temperature", None)
        assert loadscribe.last_loaded_fields is env.created[0].kwargs["temperatureValues"]
        loadscribe.create_kelm_load_from_vtk_field(multiblock(skin_leaf()), "Pressure", None)
        assert loadscribe.last_loaded_fields is env.created[2].kwargs["pressureValues"]
        with pytest.raises(KeyError, match="'atm'"):  # a failed load hands over nothing
            loadscribe.create_pressure_load_from_vtk_field(multiblock(skin_leaf(unit="atm")),
                                                           "Pressure", None)
        assert loadscribe.last_loaded_fields == {}

    def test_other_names_do_nothing(self, skin):
        loadscribe.macro = ""
        loadscribe.create_kelm_load_from_vtk_field(multiblock(skin_leaf()), "Velocity", None)
        assert host_calls() == [] and env.created == [] and loadscribe.macro == ""


class TestTemperatureLoad:
    def test_host_calls_in_order_with_their_keywords(self, plate):
        mesh = multiblock(temperature_leaf("M/P/Plate", [5, 9, 12], [300.0, 301.5, 0.1]),
                          temperature_leaf("M/P/Rim", [31, 33], [7.0, 8.0], unit="C"))
        loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
        assert host_calls() == [
            ("getMesh", ("M/P/Plate",)), ("getNodes", ("M/P/Plate", "5,9,12")),
            ("getMesh", ("M/P/Rim",)), ("getNodes", ("M/P/Rim", "31,33")),
            ("setScriptUnitSystem", ("m-kg-s-N-degC",)),
            ("createTemperaturePropertyStaticVariable", host_calls()[5][1]),
            ("createLoadTemperature", host_calls()[6][1])]
        prop, load = env.created
        assert list(prop.kwargs) == ["temperatureValues"]
        assert list(load.kwargs) == ["name", "description", "target", "temperatureProperty"]
        assert load.kwargs["name"] == "Temperature"
        assert load.kwargs["description"] == "First mapped temperatures"
        assert load.kwargs["temperatureProperty"] is prop.result
        # Values go to the host unchanged, in the unit system of the last leaf.
        assert prop.unit_system == load.unit_system == "m-kg-s-N-degC"
        assert entities(load.kwargs["target"]) == [("Node", 5), ("Node", 9), ("Node", 12),
                                                   ("Node", 31), ("Node", 33)]

    def test_field_keys_order_and_python_types(self, plate):
        mesh = multiblock(temperature_leaf("M/P/Plate", [5, 9, 12], [300.0, 301.5, 0.1]))
        loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
        values = env.created[0].kwargs["temperatureValues"]
        assert list(values) == ["M/P/Plate"]
        field = values["M/P/Plate"]
        assert list(field) == ["node_ids", "identifier_type", "temperatures"]
        assert field["node_ids"] == [5, 9, 12] and field["identifier_type"] == "NODE_ID"
        assert field["temperatures"] == f32([300.0, 301.5, 0.1])
        assert all(type(v) is int for v in field["node_ids"])
        assert all(type(v) is float for v in field["temperatures"])
        assert type(field["node_ids"]) is list and type(field["temperatures"]) is list

    def test_same_path_twice_keeps_the_later_field_and_both_targets(self, plate):
        mesh = multiblock(temperature_leaf("M/P/Plate", [5, 9], [1.0, 2.0]),
                          temperature_leaf("M/P/Rim", [31], [3.0]),
                          temperature_leaf("M/P/Plate", [12, 20], [4.0, 5.0]))
        loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
        values = env.created[0].kwargs["temperatureValues"]
        assert list(values) == ["M/P/Plate", "M/P/Rim"]
        assert values["M/P/Plate"]["node_ids"] == [12, 20]
        assert entities(env.created[1].kwargs["target"]) == [
            ("Node", 5), ("Node", 9), ("Node", 31), ("Node", 12), ("Node", 20)]

    def test_tolerance_drops_nodes_outside(self, plate):
        body = temperature_leaf("M/P/Plate", [5, 9, 12, 20], [1.0, 2.0, 3.0, 4.0],
                                polygons=[(0, 1, 2), (1, 2, 3)], distance=[0.0, 0.1, 0.2, 9.0])
        loadscribe.create_temperature_load_from_vtk_field(multiblock(body), "Temperature", 0.5)
        field = env.created[0].kwargs["temperatureValues"]["M/P/Plate"]
        assert sorted(zip(field["node_ids"], field["temperatures"])) == [(5, 1.0), (9, 2.0),
                                                                        (12, 3.0)]
        assert sorted(n for _, n in entities(env.created[1].kwargs["target"])) == [5, 9, 12]

    def test_tolerance_judges_each_node_of_a_solid_by_its_own_distance(self, model, capsys):
        # A 2 x 2 x 2 hexahedral block mapped onto every node: the middle node is inside. Only
        # the node beyond the tolerance and the one without a value may go, each counted once.
        grid = np.arange(27).reshape(3, 3, 3)
        corners = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1),
                   (0, 1, 1)]
        rows = [[grid[i + a, j + b, k + c] for a, b, c in corners]
                for i in range(2) for j in range(2) for k in range(2)]
        node_ids = list(range(501, 528))
        host_mesh(model, "Block", node_ids, {T.Hexa8: (list(range(1, 9)), rows)})
        mesh = mapped_surfaces(model, "Temperature", "units_temperature", "K", volume=True)
        body = mesh.GetBlock(0)
        distance = np.zeros(27)
        distance[[3, 5, 6]] = [0.7, 0.5, 9.0]  # beyond, on the tolerance, beyond and no value
        mask = np.ones(27, np.uint8)
        mask[6] = 0
        for name, values in (("Distance", distance), ("vtkValidPointMask", mask)):
            array = ns.numpy_to_vtk(values, deep=1)
            array.SetName(name)
            body.GetPointData().AddArray(array)
        loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", 0.5)
        field = env.created[0].kwargs["temperatureValues"]["M/P/Block"]
        assert field["node_ids"] == [n for i, n in enumerate(node_ids) if i not in (3, 6)]
        assert loadscribe.last_left_out_counts == {
            "M/P/Block": {"no value": 1, "beyond tolerance": 1}}
        assert capsys.readouterr().out == ("Left out of the temperature load on body 'M/P/Block':"
                                           " 1 nodes without a mapped value, 1 beyond the "
                                           "tolerance\n")


class TestOnlyMappedValuesAreLoaded:
    """A place the mapping gave no value ("vtkValidPointMask" 0 or a NaN value) never reaches a
    load: its node, or every face touching it, is left out and counted."""

    def test_temperature_nodes_without_a_value_are_left_out(self, plate, capsys):
        loadscribe.macro = ""
        body = temperature_leaf("M/P/Plate", [5, 9, 12, 20], [1.0, 0.0, math.nan, 4.0],
                                mask=[1, 0, 1, 1])
        loadscribe.create_temperature_load_from_vtk_field(multiblock(body), "Temperature", None)
        field = env.created[0].kwargs["temperatureValues"]["M/P/Plate"]
        assert field["node_ids"] == [5, 20] and field["temperatures"] == [1.0, 4.0]
        assert entities(env.created[1].kwargs["target"]) == [("Node", 5), ("Node", 20)]
        assert 'getNodes(ids = "5,20")' in loadscribe.macro
        assert '["temperatures"] = [1.0, 4.0]' in loadscribe.macro
        assert loadscribe.last_left_out_counts == {
            "M/P/Plate": {"no value": 2, "beyond tolerance": 0}}
        assert capsys.readouterr().out.startswith(
            "Left out of the temperature load on body 'M/P/Plate': 2 nodes without a mapped "
            "value, 0 beyond the tolerance\n")

    def test_pressure_faces_touching_a_node_without_a_value_are_left_out(self, skin, capsys):
        # Node 4 (point 3) has no value: the quadrilateral on it goes, the triangle stays; the
        # unused node 5 being NaN costs nothing.
        body = skin_leaf(mask=[1, 1, 1, 0, 1])
        body.GetPointData().GetArray("Pressure").SetValue(4, math.nan)
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        field = env.created[0].kwargs["pressureValues"]["M/P/Skin"]
        assert field["element_ids"] == [30] and field["face_identifiers"] == [[1, 2, 3]]
        assert loadscribe.last_left_out_counts == {"M/P/Skin": {"no value": 1,
                                                                "beyond tolerance": 0}}
        assert "Skin': 1 faces without a mapped value, 0 beyond" in capsys.readouterr().out

    def test_counts_with_a_tolerance_and_a_body_left_empty(self, plate, skin, capsys):
        far = temperature_leaf("M/P/Rim", [31, 32, 33], [1.0, 2.0, 3.0], polygons=[(0, 1, 2)],
                               distance=[9.0, 9.0, 9.0])
        near = temperature_leaf("M/P/Plate", [5, 9, 12, 20], [1.0, 2.0, 3.0, 4.0],
                                polygons=[(0, 1, 2), (1, 2, 3)], distance=[0.0, 0.1, 0.2, 9.0],
                                mask=[1, 0, 1, 1])
        loadscribe.create_temperature_load_from_vtk_field(multiblock(far, near), "Temperature",
                                                          0.5)
        assert loadscribe.last_left_out_counts == {
            "M/P/Rim": {"no value": 0, "beyond tolerance": 3},
            "M/P/Plate": {"no value": 1, "beyond tolerance": 1}}
        values = env.created[0].kwargs["temperatureValues"]
        assert values["M/P/Rim"]["node_ids"] == [] and values["M/P/Plate"]["node_ids"] == [5, 12]
        out = capsys.readouterr().out.splitlines()
        assert out == ["Left out of the temperature load on body 'M/P/Rim': 0 nodes without a "
                       "mapped value, 3 beyond the tolerance",
                       "Left out of the temperature load on body 'M/P/Plate': 1 nodes without a "
                       "mapped value, 1 beyond the tolerance"]
        body = skin_leaf(distance=[0.0, 0.0, 0.0, 5.0, 5.0], mask=[0, 1, 1, 1, 1])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", 1.0)
        assert loadscribe.last_left_out_counts == {"M/P/Skin": {"no value": 1,
                                                                "beyond tolerance": 1}}
        assert env.created[2].kwargs["pressureValues"]["M/P/Skin"]["element_ids"] == []

    def test_a_mask_of_ones_changes_nothing(self, skin, capsys):
        loadscribe.macro = ""
        loadscribe.create_pressure_load_from_vtk_field(multiblock(skin_leaf()), "Pressure", None)
        without = loadscribe.macro
        loadscribe.macro = ""
        loadscribe.create_pressure_load_from_vtk_field(
            multiblock(skin_leaf(mask=[1, 1, 1, 1, 1])), "Pressure", None)
        assert loadscribe.macro == without
        assert loadscribe.last_left_out_counts == {"M/P/Skin": {"no value": 0,
                                                                "beyond tolerance": 0}}
        assert "Left out" not in capsys.readouterr().out


class TestDistanceFilter:
    def two_quads(self, far):
        return leaf("M/P/Plate", [1, 2, 3, 4, 5, 6], [0, 1, 2, 3, 4, 5],
                    polygons=[(0, 1, 2, 3), (2, 3, 4, 5)], element_ids=[70, 71],
                    distance=[0, 0, 0, 0, far, far])

    def test_keeps_cells_whose_points_are_all_within(self):
        out = loadscribe.filter_by_distance(self.two_quads(far=1.0), 0.5, "cell")
        assert isinstance(out, vtk.vtkPolyData)
        assert out.GetNumberOfPolys() == 1
        assert out.GetCellData().GetArray("Element ID").GetValue(0) == 70
        # The tolerance is inclusive.
        out = loadscribe.filter_by_distance(mesh=self.two_quads(far=0.5), tolerance=0.5,
                                            point_or_cell="cell")
        assert out.GetNumberOfPolys() == 2

    def test_carries_the_field_data(self):
        out = loadscribe.filter_by_distance(self.two_quads(far=1.0), 0.5, "cell")
        fd = out.GetFieldData()
        assert fd.GetAbstractArray("Body pathName").GetValue(0) == "M/P/Plate"
        assert fd.GetAbstractArray("units_pressure").GetValue(0) == "Pa"
        assert fd.GetAbstractArray("mesh_type").GetValue(0) == "surface"

    def test_output_in_the_leafs_order_however_the_filters_thread(self):
        # From some 40,000 cells on, the threaded filters hand out cells and points in an order
        # that changes from call to call; the result must not.
        plane = vtk.vtkPlaneSource()
        plane.SetResolution(250, 250)
        plane.Update()
        surface = plane.GetOutput()
        rng = np.random.default_rng(5)
        for data, name, count in ((surface.GetPointData(), "Node ID", surface.GetNumberOfPoints()),
                                  (surface.GetCellData(), "Element ID", surface.GetNumberOfCells())):
            array = ns.numpy_to_vtk(np.arange(1, count + 1, dtype=np.uint32), deep=1)
            array.SetName(name)
            data.AddArray(array)
        distance = ns.numpy_to_vtk(rng.uniform(0, 1, surface.GetNumberOfPoints()), deep=1)
        distance.SetName("Distance")
        surface.GetPointData().AddArray(distance)
        runs = []
        for _ in range(4):
            out = loadscribe.filter_by_distance(surface, 0.9, "cell")
            nodes = ns.vtk_to_numpy(out.GetPointData().GetArray("Node ID"))
            elements = ns.vtk_to_numpy(out.GetCellData().GetArray("Element ID"))
            assert (np.diff(nodes.astype(np.int64)) > 0).all()
            assert (np.diff(elements.astype(np.int64)) > 0).all()
            assert out.GetPointData().GetArray("loadscribe leaf point") is None
            runs.append(ns.vtk_to_numpy(out.GetPolys().GetConnectivityArray()).tobytes())
        assert len(elements) > 1000 and len(set(runs)) == 1

    def test_pressure_with_tolerance_loads_only_near_polygons(self, skin):
        body = skin_leaf(distance=[0.0, 0.0, 0.0, 5.0, 5.0])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", 1.0)
        field = env.created[0].kwargs["pressureValues"]["M/P/Skin"]
        assert field["element_ids"] == [30]
        assert field["face_identifiers"] == [[1, 2, 3]]
        assert field["pressures"] == [[10.0, 20.0, 30.0]]


class TestShellPressure:
    def test_rows_by_own_point_count_with_matching_element_ids(self, skin):
        loadscribe.create_pressure_load_from_vtk_field(multiblock(skin_leaf()), "Pressure", None)
        prop, load = env.created
        assert list(prop.kwargs) == ["id", "pressureValues"] and prop.kwargs["id"] == 5
        assert list(load.kwargs) == ["name", "description", "target", "loadPressureProperty"]
        assert (load.kwargs["name"], load.kwargs["description"]) == ("Pressure",
                                                                     "First mapped pressure")
        field = prop.kwargs["pressureValues"]["M/P/Skin"]
        assert list(field) == ["element_ids", "identifier_type", "face_identifiers", "pressures"]
        assert field["element_ids"] == [30, 40]
        assert field["identifier_type"] == "ELEMENT_ID_FACE_NODE_ID"
        assert field["face_identifiers"] == [[1, 2, 3], [2, 4, 5, 3]]
        assert field["pressures"] == [[10.0, 20.0, 30.0], [20.0, 40.0, 50.0, 30.0]]
        assert entities(load.kwargs["target"]) == [("Element", 30), ("Element", 40)]
        assert host_calls("getElements") == [("getElements", ("M/P/Skin", "30,40"))]

    def test_other_cells_and_polygon_sizes_are_left_out(self, skin):
        body = leaf("M/P/Skin", [1, 2, 3, 4, 5], [1.0, 2.0, 3.0, 4.0, 5.0],
                    lines=[(0, 1)], polygons=[(0, 1, 3, 4, 2), (1, 3, 4, 2), (0, 1, 2)],
                    element_ids=[99, 98, 40, 30])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        field = env.created[0].kwargs["pressureValues"]["M/P/Skin"]
        assert field["element_ids"] == [30, 40]
        assert field["face_identifiers"] == [[1, 2, 3], [2, 4, 5, 3]]

    def test_reverse_negates_the_named_shells_pressure_in_the_load_and_the_recording(self, plate,
                                                                                      skin):
        rim = leaf("M/P/Rim", [31, 32, 33], [1.0, 2.0, 3.0], polygons=[(0, 1, 2)],
                   element_ids=[2])
        loadscribe.macro = ""
        loadscribe.create_kelm_load_from_vtk_field(multiblock(skin_leaf(), rim), "Pressure", None,
                                                   reverse=("M/P/Skin",))
        fields = env.created[0].kwargs["pressureValues"]
        assert fields["M/P/Skin"]["pressures"] == [[-10.0, -20.0, -30.0],
                                                   [-20.0, -40.0, -50.0, -30.0]]
        assert fields["M/P/Rim"]["pressures"] == [[1.0, 2.0, 3.0]]  # not named: as mapped
        assert fields is loadscribe.last_loaded_fields
        assert ('pressure_field["pressures"] = [[-10.0, -20.0, -30.0], '
                '[-20.0, -40.0, -50.0, -30.0]]') in loadscribe.macro
        loadscribe.macro = None

    def test_builder_called_directly(self, skin):
        elements, field = loadscribe.build_surface_mesh_pressure_field_dict(
            mesh_pathname="M/P/Skin", connectivity_arrays={"quad": [[2, 4, 5, 3]]},
            node_ids=np.array([3, 2, 5, 4]), element_ids=[40], pressures=[0.5, 1.5, 2.5, 3.5])
        assert entities(elements) == [("Element", 40)]
        assert field["face_identifiers"] == [[2, 4, 5, 3]]
        assert field["pressures"] == [[1.5, 3.5, 2.5, 0.5]]


class TestFaceValues:
    """A leaf carrying the field per face too (a face average) loads each face with its own value:
    the face's force is that value times its area, whatever its nodes carry."""

    def test_each_face_carries_its_value_at_every_node_in_field_and_text(self, skin):
        loadscribe.macro = ""
        body = skin_leaf(face_values=[400.0, 300.0])  # the quadrilateral 40, the triangle 30
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        field = env.created[0].kwargs["pressureValues"]["M/P/Skin"]
        assert field["element_ids"] == [30, 40]
        assert field["face_identifiers"] == [[1, 2, 3], [2, 4, 5, 3]]
        assert field["pressures"] == [[300.0] * 3, [400.0] * 4]
        assert loadscribe.last_loaded_fields["M/P/Skin"] is field
        assert ('pressure_field["pressures"] = [[300.0, 300.0, 300.0], [400.0, 400.0, 400.0, '
                '400.0]]\n') in loadscribe.macro

    def test_a_reversed_shell_turns_its_face_values(self, skin):
        loadscribe.create_pressure_load_from_vtk_field(
            multiblock(skin_leaf(face_values=[400.0, 300.0])), "Pressure", None,
            reverse=["M/P/Skin"])
        assert loadscribe.last_loaded_fields["M/P/Skin"]["pressures"] == [[-300.0] * 3,
                                                                          [-400.0] * 4]

    def test_solid_faces_keep_their_value_through_the_rotation(self, solids):
        body = solid_leaf("M/P/Tet", "tetra", [11, 12, 13, 14], [(0, 2, 1), (1, 2, 3)], [7, 7],
                          face_values=[5.5, 6.5])
        field, _ = solid_field(body)
        assert field["face_identifiers"] == [[11, 13, 12], [13, 14, 12]]
        assert field["pressures"] == [[5.5] * 3, [6.5] * 3]

    def test_faces_without_a_value_or_beyond_the_tolerance_are_left_out(self, skin, capsys):
        body = skin_leaf(face_values=[math.nan, 300.0])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        field = env.created[0].kwargs["pressureValues"]["M/P/Skin"]
        assert field["pressures"] == [[300.0] * 3]
        assert loadscribe.last_left_out_counts["M/P/Skin"]["no value"] == 1
        body = skin_leaf(face_values=[400.0, 300.0], distance=[0.0, 0.0, 0.0, 5.0, 5.0])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", 1.0)
        field = loadscribe.last_loaded_fields["M/P/Skin"]
        assert field["element_ids"] == [30] and field["pressures"] == [[300.0] * 3]

    def test_corner_values_give_each_face_its_own_value_at_each_node(self, skin):
        # A shell loaded by sides from node values: node 2 takes +20 in one face, -20 in the other.
        def with_corners(rows, components=4):
            body = skin_leaf(face_values=[400.0, 300.0])
            corners = vtk.vtkDoubleArray()
            corners.SetName("Pressure at corners")
            corners.SetNumberOfComponents(components)
            for row in rows:
                corners.InsertNextTuple(row[:components])
            body.GetCellData().AddArray(corners)
            return multiblock(body)
        nan = math.nan
        loadscribe.create_pressure_load_from_vtk_field(
            with_corners([(20.0, 40.0, 50.0, 30.0), (-10.0, -20.0, -30.0, nan)]), "Pressure", None)
        field = loadscribe.last_loaded_fields["M/P/Skin"]
        assert field["pressures"] == [[-10.0, -20.0, -30.0], [20.0, 40.0, 50.0, 30.0]]
        loadscribe.create_pressure_load_from_vtk_field(
            with_corners([(20.0, nan, 50.0, 30.0), (-10.0, -20.0, -30.0, nan)]), "Pressure", None)
        assert loadscribe.last_left_out_counts["M/P/Skin"]["no value"] == 1
        with pytest.raises(ValueError, match="'Pressure at corners' of body 'M/P/Skin' must hold"):
            loadscribe.create_pressure_load_from_vtk_field(
                with_corners([(1.0, 2.0, 3.0)] * 2, components=3), "Pressure", None)

    def test_an_infinite_face_value_names_the_element(self, skin):
        with pytest.raises(ValueError, match="'Pressure' of body 'M/P/Skin' is inf on the face of "
                                             "element ID 40"):
            loadscribe.create_pressure_load_from_vtk_field(
                multiblock(skin_leaf(face_values=[math.inf, 300.0])), "Pressure", None)


@pytest.fixture
def solids(model):
    """Host solids: "Tet" (Tetra4 7 on nodes 11-14), "Tet10" (Tetra10 8 on 21-30), "Hex"
    (Hexa8 3 on 101-108), "Mixed" (Tetra4 1, 2 then Tetra10 9, nodes 200-213)."""
    host_mesh(model, "Tet", [11, 12, 13, 14], {T.Tetra4: ([7], [range(4)])})
    host_mesh(model, "Tet10", list(range(21, 31)), {T.Tetra10: ([8], [range(10)])})
    host_mesh(model, "Hex", list(range(101, 109)), {T.Hexa8: ([3], [range(8)])})
    host_mesh(model, "Mixed", list(range(200, 214)),
              {T.Tetra4: ([1, 2], [(0, 1, 2, 3), (0, 1, 2, 4)]), T.Tetra10: ([9], [range(4, 14)])})
    return model


def solid_leaf(path, mesh_type, node_ids, polygons, element_ids, **kwargs):
    values = [float(n) for n in node_ids]  # the pressure at a node is its ID
    return leaf(path, node_ids, values, polygons=polygons, element_ids=element_ids,
                mesh_type=mesh_type, **kwargs)


def solid_field(body):
    loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
    path = body.GetFieldData().GetAbstractArray("Body pathName").GetValue(0)
    return env.created[0].kwargs["pressureValues"][path], env.created[1].kwargs["target"]


class TestSolidFaces:
    def test_tetra4_face_0_keeps_order_and_face_2_rotates(self, solids):
        # Face 0 is corners (0, 2, 1) = nodes 11 13 12; face 2 is (1, 2, 3) = 12 13 14.
        body = solid_leaf("M/P/Tet", "tetra", [11, 12, 13, 14], [(0, 2, 1), (1, 2, 3)], [7, 7])
        field, target = solid_field(body)
        assert field["face_identifiers"] == [[11, 13, 12], [13, 14, 12]]
        assert field["pressures"] == [[11.0, 13.0, 12.0], [13.0, 14.0, 12.0]]
        # Two polygons on one element: one target entry, faces in polygon order.
        assert entities(target) == [("face", 7, 0), ("face", 7, 2)]
        assert host_calls("getElementFaces") == [("getElementFaces", ("M/P/Tet", {0: [0, 2]}))]

    def test_smallest_face_number_wins_for_any_node_order(self, solids):
        body = solid_leaf("M/P/Tet", "tetra", [11, 12, 13, 14], [(3, 1, 0)], [7])
        field, target = solid_field(body)
        assert entities(target) == [("face", 7, 1)]
        assert field["face_identifiers"] == [[12, 11, 14]]  # (14, 12, 11) rotated

    def test_tetra10_keeps_order_on_every_face(self, solids):
        body = solid_leaf("M/P/Tet10", "tetra", [21, 22, 23, 24], [(1, 2, 3), (0, 3, 1)], [8, 8])
        field, target = solid_field(body)
        assert field["face_identifiers"] == [[22, 23, 24], [21, 24, 22]]
        assert entities(target) == [("face", 8, 2), ("face", 8, 1)]

    def test_hexa_face_5_rotates_and_faces_0_to_4_do_not(self, solids):
        # Face 5 is corners (3, 0, 4, 7) = 104 101 105 108; face 4 is (2, 3, 7, 6).
        body = solid_leaf("M/P/Hex", "hexa", list(range(101, 109)),
                          [(3, 0, 4, 7), (2, 3, 7, 6)], [3, 3])
        field, target = solid_field(body)
        assert field["face_identifiers"] == [[108, 104, 101, 105], [103, 104, 108, 107]]
        assert field["pressures"] == [[108.0, 104.0, 101.0, 105.0], [103.0, 104.0, 108.0, 107.0]]
        assert entities(target) == [("face", 3, 5), ("face", 3, 4)]

    def test_target_keyed_by_position_among_all_elements_of_every_topology(self, solids):
        # Tetra10 element 9 is position 2 (after Tetra4 1 and 2); its face 2 is 205 206 207.
        # Tetra4 element 2 face 1 is corners (0, 1, 3) = 200 201 204, rotated.
        nodes = [200, 201, 204, 205, 206, 207]
        body = solid_leaf("M/P/Mixed", "tetra", nodes, [(3, 4, 5), (0, 1, 2)], [9, 2])
        field, target = solid_field(body)
        assert host_calls("getElementFaces")[0][1][1] == {2: [2], 1: [1]}
        assert field["element_ids"] == [9, 2]
        assert field["face_identifiers"] == [[205, 206, 207], [201, 204, 200]]
        assert entities(target) == [("face", 9, 2), ("face", 2, 1)]

    def test_surfaces_of_an_exported_model(self):
        model = kelm.samples.sample_model()
        loadscribe.create_pressure_load_from_vtk_field(mapped_surfaces(model), "Pressure", None)
        prop, load = env.created
        values = prop.kwargs["pressureValues"]
        block = values["Sample/Housing/Block/Block mesh"]  # Hexa8 x 2 then Hexa20
        assert len(block["element_ids"]) == 16
        faces = [f for f in load.kwargs["target"] if isinstance(f, kelm.mesh.ElementFace)]
        assert len(faces) == 16 + 12
        # Every face's host corner nodes are the polygon's nodes, whatever the rotation.
        mesh = kelm.getMesh("Sample/Housing/Block/Block mesh")
        ids = np.asarray(mesh.nodeIDs)
        rows = {t: ids[np.asarray(c)] for t, c in mesh.elementConnectivities.items()}
        hexa_faces = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6),
                      (3, 0, 4, 7)]
        loaded = []
        for face in faces[:16]:
            topology = face.element.topology
            row = rows[topology][list(mesh.elementIDs[topology]).index(face.element.id)]
            loaded.append((face.element.id, sorted(row[list(hexa_faces[face.face])])))
        polygons = [(e, sorted(nodes)) for e, nodes in zip(block["element_ids"],
                                                           block["face_identifiers"])]
        assert sorted(loaded) == sorted(polygons)
        # The Hexa20 element (after the two Hexa8) is position 2 and shows all six faces.
        assert sorted(f.face for f in faces[:16] if f.element.position == 2) == list(range(6))

    def test_wedges_alone_and_beside_a_hexahedron(self, model):
        # The host's wedge faces in host corner positions: two triangles, three quadrilaterals.
        faces_of = {T.Penta6: [(0, 1, 2), (3, 4, 5), (0, 1, 4, 3), (1, 2, 5, 4), (2, 0, 3, 5)],
                    T.Hexa8: [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5),
                              (2, 3, 7, 6), (3, 0, 4, 7)]}
        faces_of[T.Penta15] = faces_of[T.Penta6]
        kelm.samples.element_zoo(model)
        # A unit cube and a wedge on its face x = 1 (triangles in y = 0 and y = 1).
        cube, cube_row = kelm.samples.single_element(T.Hexa8)
        model.parts[0].add_mesh(
            "Mixed", list(range(11, 21)), np.vstack([cube, [(2, 0, 0), (2, 1, 0)]]),
            {T.Hexa8: ([5], cube_row), T.Penta6: ([6], [(1, 8, 5, 2, 9, 6)])})
        loadscribe.create_pressure_load_from_vtk_field(mapped_surfaces(model, kinds=("hexa",)),
                                                       "Pressure", None)
        values = env.created[0].kwargs["pressureValues"]
        faces = [f for f in env.created[1].kwargs["target"]]
        for name, count in (("Penta6", 5), ("Penta15", 5), ("Hexa8", 6), ("Mixed", 5 + 4)):
            mesh = kelm.getMesh("M/Zoo/" + name)
            ids = np.asarray(mesh.nodeIDs)
            loaded = []
            for face in faces:
                if face.mesh is mesh:
                    t = face.element.topology
                    row = ids[np.asarray(mesh.elementConnectivities[t])][
                        list(mesh.elementIDs[t]).index(face.element.id)]
                    loaded.append((face.element.id, sorted(row[list(faces_of[t][face.face])])))
            field = values["M/Zoo/" + name]
            polygons = [(e, sorted(n)) for e, n in zip(field["element_ids"],
                                                       field["face_identifiers"])]
            assert len(loaded) == count and sorted(loaded) == sorted(polygons), name
        lone = dict(args for _, args in host_calls("getElementFaces"))
        assert {path: sorted(target[0]) for path, target in lone.items() if "Penta" in path} == {
            "M/Zoo/Penta6": [0, 1, 2, 3, 4], "M/Zoo/Penta15": [0, 1, 2, 3, 4]}

    def test_builder_rotates_the_callers_rows(self, solids):
        rows = np.array([[12, 13, 14]], dtype=np.int64)
        faces, field = loadscribe.build_solid_mesh_pressure_field_dict(
            mesh_pathname="M/P/Tet", mesh_type="tetra", connectivity_arrays={"tria": rows},
            node_ids=[11, 12, 13, 14], element_ids=[7], pressures=[1.0, 2.0, 3.0, 4.0])
        assert rows.tolist() == [[13, 14, 12]]
        assert field["face_identifiers"] == [[13, 14, 12]] and field["pressures"] == [[3.0, 4.0,
                                                                                        2.0]]
        listed = {"tria": [[12, 13, 14]]}
        loadscribe.build_solid_mesh_pressure_field_dict("M/P/Tet", "tetra", listed, [12, 13, 14],
                                                        [7], [2.0, 3.0, 4.0])
        assert listed["tria"] == [[13, 14, 12]]

    def test_host_rows_in_any_form_and_only_the_loaded_ones_read(self, solids):
        mesh = kelm.getMesh("M/P/Mixed")
        expected = mixed_faces()
        tetra4, tetra10 = [(0, 1, 2, 3), (0, 1, 2, 4)], [tuple(range(4, 14))]
        for rows4, rows10 in (
                (np.asfortranarray(np.array(tetra4, np.int32)), np.array(tetra10, np.uint16)),
                ([p for row in tetra4 for p in row], list(tetra10[0])),  # flat lists
                ([list(row) for row in tetra4], tetra10),  # nested rows
                ([(0, 1, 2, 99), tetra4[1]], tetra10)):  # element 1 is loaded by no polygon
            mesh.override(elementConnectivities={T.Tetra4: rows4, T.Tetra10: rows10})
            assert mixed_faces() == expected


def mixed_faces():
    """Faces and field of a load on "M/P/Mixed": Tetra10 element 9 face 2 and Tetra4 element 2
    face 1; Tetra4 element 1 carries none."""
    nodes = [200, 201, 204, 205, 206, 207]
    faces, field = loadscribe.build_solid_mesh_pressure_field_dict(
        "M/P/Mixed", "tetra", {"tria": [[205, 206, 207], [200, 201, 204]]}, nodes, [9, 2],
        [float(n) for n in nodes])
    return entities(faces), field


def temperature_block(path, nodes, values):
    return (f'mesh = kelm.getMesh("{path}")\n'
            f'nodes = mesh.getNodes(ids = "{",".join(map(str, nodes))}")\n'
            'load_temperature_target.extend(nodes)\n'
            'temperature_field = {}\n'
            f'temperature_field["node_ids"] = {nodes}\n'
            'temperature_field["identifier_type"] = "NODE_ID"\n'
            f'temperature_field["temperatures"] = {values}\n'
            f'property_temperature_field_dict["{path}"] = temperature_field\n')


TEMPERATURE_HEAD = ('kelm.setScriptUnitSystem("m-kg-s-N-K")\n'
                    "load_temperature_target = kelm.EntityCollection()\n"
                    "property_temperature_field_dict = {}\n")
TEMPERATURE_TAIL = ("temperature_property = "
                    "kelm.environment.createTemperaturePropertyStaticVariable(\n"
                    "    temperatureValues=property_temperature_field_dict,\n"
                    ")\n"
                    "temperature = kelm.environment.createLoadTemperature(\n"
                    "    name=\"Temperature\",\n"
                    "    description=\"First mapped temperature\",\n"
                    "    target=load_temperature_target,\n"
                    "    temperatureProperty=temperature_property,\n"
                    ")\n")


class TestRecording:
    def two_bodies(self):
        return multiblock(temperature_leaf("M/P/Plate", [5, 9], [300.0, 0.1]),
                          temperature_leaf("M/P/Rim", [31], [1e-5]))

    def test_off_prints_nothing_and_stays_off(self, plate, capsys):
        loadscribe.create_temperature_load_from_vtk_field(self.two_bodies(), "Temperature", None)
        assert loadscribe.macro is None and capsys.readouterr().out == ""

    def test_temperature_text_line_for_line_printed_once(self, plate, capsys):
        loadscribe.macro = ""
        loadscribe.create_temperature_load_from_vtk_field(self.two_bodies(), "Temperature", None)
        block = (TEMPERATURE_HEAD + temperature_block("M/P/Plate", [5, 9], f32([300.0, 0.1]))
                 + temperature_block("M/P/Rim", [31], f32([1e-5])) + TEMPERATURE_TAIL)
        assert loadscribe.macro == block
        assert capsys.readouterr().out == block + "\n"
        loadscribe.create_temperature_load_from_vtk_field(self.two_bodies(), "Temperature", None)
        assert loadscribe.macro == block + block
        assert capsys.readouterr().out == block + block + "\n"

    def test_shell_pressure_text(self, skin, capsys):
        loadscribe.macro = "# mine\n"
        loadscribe.create_pressure_load_from_vtk_field(multiblock(skin_leaf()), "Pressure", None)
        assert loadscribe.macro == (
            "# mine\n"
            'kelm.setScriptUnitSystem("m-kg-s-N-K")\n'
            "pressure_load_target = kelm.EntityCollection()\n"
            "property_pressure_field_dict = {}\n"
            'kelm_mesh = kelm.getMesh("M/P/Skin")\n'
            'elements = kelm_mesh.getElements(ids="30,40")\n'
            "pressure_field = {}\n"
            'pressure_field["element_ids"] = [30, 40]\n'
            'pressure_field["identifier_type"] = "ELEMENT_ID_FACE_NODE_ID"\n'
            'pressure_field["face_identifiers"] = [[1, 2, 3], [2, 4, 5, 3]]\n'
            'pressure_field["pressures"] = [[10.0, 20.0, 30.0], [20.0, 40.0, 50.0, 30.0]]\n'
            'property_pressure_field_dict["M/P/Skin"] = pressure_field\n'
            "pressure_load_target.extend(elements)\n"
            "pressure_property = kelm.environment.createPressurePropertyStaticVariable(\n"
            "    id = 5,\n"
            "    pressureValues=property_pressure_field_dict,\n"
            ")\n"
            "pressure = kelm.environment.createLoadPressure(\n"
            '    name="Pressure",\n'
            '    description="First mapped pressure",\n'
            "    target=pressure_load_target,\n"
            "    loadPressureProperty=pressure_property,\n"
            ")\n")
        assert capsys.readouterr().out == loadscribe.macro + "\n"

    def test_solid_lines_record_rotated_rows_and_target(self, solids):
        loadscribe.macro = ""
        body = solid_leaf("M/P/Tet", "tetra", [11, 12, 13, 14], [(0, 2, 1), (1, 2, 3)], [7, 7])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        lines = loadscribe.macro.splitlines()
        assert lines[3:12] == [
            'mesh = kelm.getMesh("M/P/Tet")',
            "pressure_field = {}",
            'pressure_field["element_ids"] = [7, 7]',
            'pressure_field["identifier_type"] = "ELEMENT_ID_FACE_NODE_ID"',
            'pressure_field["face_identifiers"] = [[11, 13, 12], [13, 14, 12]]',
            'pressure_field["pressures"] = [[11.0, 13.0, 12.0], [13.0, 14.0, 12.0]]',
            "element_faces = mesh.getElementFaces(target={0: [0, 2]})",
            'property_pressure_field_dict["M/P/Tet"] = pressure_field',
            "pressure_load_target.extend(element_faces)"]

    def test_builders_append_without_printing(self, skin, capsys):
        loadscribe.macro = ""
        loadscribe.build_surface_mesh_pressure_field_dict("M/P/Skin", {"tria": [[1, 2, 3]]},
                                                          [1, 2, 3], [30], [1.0, 2.0, 3.0])
        assert loadscribe.macro.splitlines()[0] == 'kelm_mesh = kelm.getMesh("M/P/Skin")'
        assert len(loadscribe.macro.splitlines()) == 7 and capsys.readouterr().out == ""

    def test_reals_read_back_exactly(self, model):
        rng = np.random.default_rng(7)
        values = np.concatenate([
            rng.standard_normal(200) * 10.0 ** rng.integers(-30, 30, 200),
            [0.0, -0.0, 1e16, 1e15, 9999999999999998.0, 1e-4, 1e-5, 0.1, 1 / 3, 5e-324,
             1.7976931348623157e308, 123456789.125, -2.5e-7]])
        host_mesh(model, "Big", np.arange(1, values.size + 1), None)
        body = temperature_leaf("M/P/Big", np.arange(1, values.size + 1), np.zeros(values.size))
        body.GetPointData().RemoveArray("Temperature")
        from vtk.util import numpy_support as ns
        array = ns.numpy_to_vtk(values, deep=1)  # float64: the exact values
        array.SetName("Temperature")
        body.GetPointData().AddArray(array)
        loadscribe.macro = ""
        loadscribe.create_temperature_load_from_vtk_field(multiblock(body), "Temperature", None)
        line = [s for s in loadscribe.macro.splitlines() if "temperatures" in s][0]
        assert line == 'temperature_field["temperatures"] = ' + str(values.tolist())


def run_recorded(text):
    """Runs recorded text as a host script; returns what it created."""
    before = len(env.created)
    exec(compile(text, "<recorded>", "exec"), {"kelm": kelm})
    return env.created[before:]


class TestRecordedTextRuns:
    ODD = 'Odd "quoted" \\ name\nsecond line\ttab'

    def odd_model(self, model):
        host_mesh(model, self.ODD, [1, 2, 3, 4, 5],
                  {T.Tria3: ([30], [(0, 1, 2)]), T.Quad4: ([40], [(1, 3, 4, 2)])})
        return "M/P/" + self.ODD

    def test_odd_path_names_are_escaped(self, model):
        path = self.odd_model(model)
        loadscribe.macro = ""
        mesh = multiblock(leaf(path, [1, 2, 3, 4, 5], [1.0] * 5, polygons=[(0, 1, 2)],
                               element_ids=[30]))
        loadscribe.create_pressure_load_from_vtk_field(mesh, "Pressure", None)
        tree = ast.parse(loadscribe.macro)
        literals = [n.value for n in ast.walk(tree)
                    if isinstance(n, ast.Constant) and isinstance(n.value, str)]
        assert literals.count(path) == 2  # getMesh and the property key
        assert len(loadscribe.macro.splitlines()) == 22

    @pytest.mark.parametrize("kind", ["temperature", "pressure"])
    def test_running_the_text_in_another_unit_system_recreates_the_same_load(self, model, solids,
                                                                              kind):
        # The session that replays the text has its own script unit system; the recorded values
        # are in the load's unit (degC, kPa) and must reach the host in it all the same.
        odd = self.odd_model(model)
        loadscribe.macro = ""
        if kind == "temperature":
            mesh = multiblock(temperature_leaf(odd, [1, 2, 3], [0.1, 2.5, 1e20], unit="C"),
                              temperature_leaf("M/P/Hex", [101, 108], [3.0, -4.75], unit="C"))
            loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
            key, label = "temperatureValues", "m-kg-s-N-degC"
        else:
            mesh = multiblock(
                leaf(odd, [1, 2, 3, 4, 5], [0.1, 0.2, 0.3, 0.4, 0.5],
                     polygons=[(1, 3, 4, 2), (0, 1, 2)], element_ids=[40, 30], unit="kPa"),
                solid_leaf("M/P/Hex", "hexa", list(range(101, 109)), [(3, 0, 4, 7), (4, 5, 6, 7)],
                           [3, 3], unit="kPa"),
                solid_leaf("M/P/Mixed", "tetra", [200, 201, 204, 205, 206, 207],
                           [(3, 4, 5), (0, 1, 2)], [9, 2], unit="kPa"))
            loadscribe.create_pressure_load_from_vtk_field(mesh, "Pressure", None)
            key, label = "pressureValues", "mm-kg-s-mN-K"
        direct = list(env.created)
        kelm.setScriptUnitSystem("m-kg-s-N-K")
        replayed = run_recorded(loadscribe.macro)
        assert [c.function for c in replayed] == [c.function for c in direct]
        assert [c.unit_system for c in replayed] == [c.unit_system for c in direct] == [label] * 2
        assert replayed[0].kwargs[key] == direct[0].kwargs[key]
        assert list(replayed[0].kwargs[key]) == list(direct[0].kwargs[key])
        assert entities(replayed[1].kwargs["target"]) == entities(direct[1].kwargs["target"])
        assert replayed[0].kwargs.keys() == direct[0].kwargs.keys()


class TestBadInput:
    def test_empty_multiblock_creates_nothing(self, plate):
        for op in (loadscribe.create_temperature_load_from_vtk_field,
                   loadscribe.create_pressure_load_from_vtk_field):
            loadscribe.macro = ""
            with pytest.raises(ValueError, match="no mesh-body leaves; there is nothing to load"):
                op(multiblock(), "Temperature", None)
            assert host_calls() == [] and env.created == [] and loadscribe.macro == ""

    @pytest.mark.parametrize("array,error", [
        ("Node ID", KeyError), ("Temperature", KeyError),
        ("units_temperature", KeyError)])
    def test_missing_temperature_arrays(self, plate, array, error):
        body = temperature_leaf("M/P/Plate", [5, 9], [1.0, 2.0])
        body.GetPointData().RemoveArray(array)
        body.GetFieldData().RemoveArray(array)
        mesh = multiblock(temperature_leaf("M/P/Rim", [31], [1.0]), body)
        with pytest.raises(error, match=f"'{array}'"):
            loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
        assert host_calls() == []  # every leaf is checked before the host is asked

    @pytest.mark.parametrize("array", ["mesh_type", "Node ID", "Element ID",
                                       "Pressure", "units_pressure"])
    def test_missing_pressure_arrays(self, skin, array):
        body = skin_leaf()
        for data in (body.GetPointData(), body.GetCellData(), body.GetFieldData()):
            data.RemoveArray(array)
        with pytest.raises(KeyError, match=f"'{array}'"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)

    def test_leaves_without_a_body_path_are_geometry_and_get_no_load(self, plate, skin):
        geometry = temperature_leaf("M/P/Plate", [5, 9], [1.0, 2.0])
        geometry.GetFieldData().RemoveArray("Body pathName")
        loadscribe.create_temperature_load_from_vtk_field(
            multiblock(geometry, temperature_leaf("M/P/Plate", [5], [4.0])), "Temperature", None)
        assert list(env.created[0].kwargs["temperatureValues"]["M/P/Plate"]["node_ids"]) == [5]
        with pytest.raises(ValueError, match="no mesh-body leaves"):
            loadscribe.create_temperature_load_from_vtk_field(multiblock(geometry), "Temperature",
                                                              None)

    def test_missing_distance_with_a_tolerance(self, skin):
        with pytest.raises(KeyError, match="body 'M/P/Skin' has no point array 'Distance'"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(skin_leaf()), "Pressure",
                                                           0.1)
        with pytest.raises(KeyError, match="Distance"):
            loadscribe.filter_by_distance(skin_leaf(), 0.1, "cell")

    def test_unknown_unit_names_the_known_ones(self, plate, skin):
        mesh = multiblock(temperature_leaf("M/P/Plate", [5], [1.0], unit="Rankine"))
        with pytest.raises(KeyError, match="'Rankine' of body 'M/P/Plate'.*known units: K, C, F"):
            loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
        with pytest.raises(KeyError, match="'atm'.*known units: Pa, psi"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(skin_leaf(unit="atm")),
                                                           "Pressure", None)
        assert env.created == []

    def test_unknown_ids_raise_the_hosts_error(self, plate, skin):
        mesh = multiblock(temperature_leaf("M/P/Plate", [5, 777], [1.0, 2.0]))
        with pytest.raises(ValueError, match="node ID 777 is not in mesh 'M/P/Plate'"):
            loadscribe.create_temperature_load_from_vtk_field(mesh, "Temperature", None)
        with pytest.raises(KeyError, match="no mesh body with pathName 'M/P/Nowhere'"):
            loadscribe.create_temperature_load_from_vtk_field(
                multiblock(temperature_leaf("M/P/Nowhere", [5], [1.0])), "Temperature", None)
        body = leaf("M/P/Skin", [1, 2, 3], [1.0] * 3, polygons=[(0, 1, 2)], element_ids=[31])
        with pytest.raises(ValueError, match="element ID 31 is not in mesh 'M/P/Skin'"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)

    def test_solid_element_the_host_mesh_lacks(self, solids):
        body = solid_leaf("M/P/Tet", "tetra", [11, 12, 13], [(0, 1, 2)], [70])
        with pytest.raises(KeyError, match="element ID 70 is not in body 'M/P/Tet'"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)

    def test_polygon_matching_no_face(self, solids):
        body = solid_leaf("M/P/Hex", "hexa", list(range(101, 109)), [(0, 1, 2, 5)], [3])
        with pytest.raises(ValueError, match=r"'M/P/Hex' with node IDs \(101, 102, 103, 106\) "
                                             r"matches no face of Hexa8 element ID 3"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        # A triangle on a hexahedron matches nothing either.
        body = solid_leaf("M/P/Hex", "hexa", [101, 102, 103], [(0, 1, 2)], [3])
        with pytest.raises(ValueError, match="matches no face"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)

    def test_solid_polygon_on_a_shell_element(self, model):
        host_mesh(model, "Odd", [1, 2, 3], {T.Tria3: ([5], [(0, 1, 2)])})
        body = solid_leaf("M/P/Odd", "tetra", [1, 2, 3], [(0, 1, 2)], [5])
        with pytest.raises(ValueError, match="element ID 5 of body 'M/P/Odd' is a Tria3"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)

    def test_infinite_values(self, plate, skin):
        # NaN marks a place without a value and is left out; infinity is a source value no load
        # can carry.
        with pytest.raises(ValueError, match="'Temperature' of body 'M/P/Plate' is inf at node "
                                             "ID 9"):
            loadscribe.create_temperature_load_from_vtk_field(
                multiblock(temperature_leaf("M/P/Plate", [5, 9], [1.0, math.inf])), "Temperature",
                None)
        body = leaf("M/P/Skin", [1, 2, 3, 4], [1.0, 2.0, 3.0, math.inf], polygons=[(0, 1, 2)],
                    element_ids=[30])
        loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)  # unused
        body = leaf("M/P/Skin", [1, 2, 3], [1.0, -math.inf, 3.0], polygons=[(0, 1, 2)],
                    element_ids=[30])
        with pytest.raises(ValueError, match="is -inf at node ID 2"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        with pytest.raises(ValueError, match="pressure at node ID 2 .* is nan"):
            loadscribe.build_surface_mesh_pressure_field_dict("M/P/Skin", {"tria": [[1, 2, 3]]},
                                                              [1, 2, 3], [30], [1, math.nan, 2])

    def test_mask_of_the_wrong_shape_or_kind(self, plate):
        for mask, error in (([1, 1, 1], ValueError), ([[1, 1], [1, 1]], ValueError)):
            body = temperature_leaf("M/P/Plate", [5, 9], [1.0, 2.0])
            array = vtk.vtkUnsignedCharArray()
            array.SetName("vtkValidPointMask")
            array.SetNumberOfComponents(len(mask[0]) if isinstance(mask[0], list) else 1)
            for row in mask:
                array.InsertNextTuple(row if isinstance(row, list) else [row])
            body.GetPointData().AddArray(array)
            with pytest.raises(error, match="'vtkValidPointMask' of body 'M/P/Plate'"):
                loadscribe.create_temperature_load_from_vtk_field(multiblock(body), "Temperature",
                                                                  None)
        assert env.created == []

    def test_wrong_argument_types(self, skin):
        mesh = multiblock(skin_leaf())
        with pytest.raises(TypeError):
            loadscribe.create_kelm_load_from_vtk_field(None, "Pressure", None)
        with pytest.raises(TypeError):
            loadscribe.create_kelm_load_from_vtk_field(skin_leaf(), "Pressure", None)
        with pytest.raises(TypeError):
            loadscribe.create_kelm_load_from_vtk_field(mesh, 5, None)
        with pytest.raises(TypeError, match="create_pressure_load_from_vtk_field: tolerance must "
                                            "be a number, not str"):
            loadscribe.create_pressure_load_from_vtk_field(mesh, "Pressure", "0.1")
        with pytest.raises(ValueError, match="tolerance is NaN"):
            loadscribe.create_pressure_load_from_vtk_field(mesh, "Pressure", math.nan)
        with pytest.raises(TypeError, match="filter_by_distance: tolerance must be a number, not "
                                            "NoneType"):
            loadscribe.filter_by_distance(skin_leaf(), None, "cell")
        with pytest.raises(TypeError, match="filter_by_distance: mesh must be a VTK dataset, not "
                                            "vtkMultiBlockDataSet"):
            loadscribe.filter_by_distance(mesh, 1.0, "cell")
        # Text UTF-8 cannot carry names no array: the lookup that misses it says so.
        with pytest.raises(KeyError, match=r"no point array 'P\\\\ud800'"):
            loadscribe.create_pressure_load_from_vtk_field(mesh, "P\ud800", None)
        loadscribe.macro = b"bytes"
        with pytest.raises(TypeError, match="macro must be None .* or text, not bytes"):
            loadscribe.create_pressure_load_from_vtk_field(mesh, "Pressure", None)
        assert host_calls() == []

    def test_reverse_names_shell_bodies_of_a_pressure(self, skin, solids):
        mesh = multiblock(skin_leaf(), solid_leaf("M/P/Tet", "tetra", [11, 12, 13, 14],
                                                  [(0, 2, 1)], [7]))
        load = loadscribe.create_pressure_load_from_vtk_field
        with pytest.raises(ValueError, match="reverse names the solid body 'M/P/Tet' "
                                             r"\(mesh type 'tetra'\); .* only a shell body"):
            load(mesh, "Pressure", None, reverse=["M/P/Tet"])
        with pytest.raises(ValueError, match="reverse names 'M/P/Sk', which is no body of the "
                                             "mapped multiblock; its bodies: 'M/P/Skin', 'M/P/Tet'"):
            load(mesh, "Pressure", None, reverse=["M/P/Skin", "M/P/Sk"])
        with pytest.raises(TypeError, match="reverse must be a list of body path names, not str"):
            load(mesh, "Pressure", None, reverse="M/P/Skin")
        with pytest.raises(TypeError, match="reverse must be text, not int"):
            load(mesh, "Pressure", None, reverse=[7])
        with pytest.raises(TypeError):  # keyword only: a fourth place is no reverse
            load(mesh, "Pressure", None, ["M/P/Skin"])
        with pytest.raises(ValueError, match="field 'Temperature' has no direction to turn"):
            loadscribe.create_kelm_load_from_vtk_field(mesh, "Temperature", None,
                                                       reverse=["M/P/Skin"])
        assert host_calls() == [] and env.created == []

    def test_leaf_arrays_of_the_wrong_shape(self, skin):
        body = skin_leaf()
        body.GetPointData().RemoveArray("Node ID")
        from vtk.util import numpy_support as ns
        ids = ns.numpy_to_vtk(np.array([1, 2, 3, -4, 5], np.int64), deep=1)
        ids.SetName("Node ID")
        body.GetPointData().AddArray(ids)
        with pytest.raises(ValueError, match="node ID -4 at position 3 of body 'M/P/Skin'"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        body = skin_leaf()
        body.GetCellData().GetArray("Element ID").SetNumberOfTuples(1)
        with pytest.raises(ValueError, match="'Element ID' of body 'M/P/Skin' has 1 values for 2"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        body = skin_leaf()
        body.GetPointData().GetArray("Pressure").SetNumberOfComponents(5)
        with pytest.raises(ValueError):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", None)
        grid = vtk.vtkUnstructuredGrid()
        grid.GetFieldData().ShallowCopy(skin_leaf().GetFieldData())
        with pytest.raises(TypeError, match="vtkUnstructuredGrid; a pressure load needs"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(grid), "Pressure", None)

    def test_builder_arguments(self, skin, solids):
        build = loadscribe.build_surface_mesh_pressure_field_dict
        with pytest.raises(ValueError, match="has 2 element IDs for 1 polygons"):
            build("M/P/Skin", {"tria": [[1, 2, 3]]}, [1, 2, 3], [30, 40], [1.0, 2.0, 3.0])
        with pytest.raises(ValueError, match="has 2 pressures for 3 node IDs"):
            build("M/P/Skin", {"tria": [[1, 2, 3]]}, [1, 2, 3], [30], [1.0, 2.0])
        with pytest.raises(ValueError, match="key 'hexagon'"):
            build("M/P/Skin", {"hexagon": [[1, 2, 3]]}, [1, 2, 3], [30], [1.0, 2.0, 3.0])
        with pytest.raises(ValueError, match=r"connectivity_arrays\['quad'\].*rows of 3"):
            build("M/P/Skin", {"quad": [[1, 2, 3]]}, [1, 2, 3], [30], [1.0, 2.0, 3.0])
        with pytest.raises(KeyError, match="node ID 9 of tria row 0 is not among the node_ids"):
            build("M/P/Skin", {"tria": [[1, 2, 9]]}, [1, 2, 3], [30], [1.0, 2.0, 3.0])
        with pytest.raises(TypeError, match="connectivity_arrays of body 'M/P/Skin' must be a "
                                            "mapping"):
            build("M/P/Skin", [[1, 2, 3]], [1, 2, 3], [30], [1.0, 2.0, 3.0])
        with pytest.raises(TypeError, match="mesh_pathname must be text"):
            build(None, {"tria": [[1, 2, 3]]}, [1, 2, 3], [30], [1.0, 2.0, 3.0])
        with pytest.raises(ValueError, match="element_ids"):
            build("M/P/Skin", {"tria": [[1, 2, 3]]}, [1, 2, 3], [-30], [1.0, 2.0, 3.0])
        with pytest.raises(TypeError, match="pressures"):
            build("M/P/Skin", {"tria": [[1, 2, 3]]}, [1, 2, 3], [30], ["a", "b", "c"])
        assert env.created == []

    def test_host_mesh_data_out_of_range(self, solids):
        mesh = kelm.getMesh("M/P/Tet")
        mesh.override(elementConnectivities={T.Tetra4: [[0, 1, 2, 9]]})
        with pytest.raises(ValueError, match=r"elementConnectivities\[Tetra4\].*'M/P/Tet'"):
            loadscribe.build_solid_mesh_pressure_field_dict(
                "M/P/Tet", "tetra", {"tria": [[11, 12, 13]]}, [11, 12, 13], [7], [1.0, 2.0, 3.0])

    def test_host_row_of_a_loaded_element_out_of_range(self, solids):
        # Element 2's row, read as an array or as nested rows: entry 6 of the block.
        mesh = kelm.getMesh("M/P/Mixed")
        tetra10 = [tuple(range(4, 14))]
        for rows in (np.array([(0, 1, 2, 3), (0, 1, 99, 4)]), [(0, 1, 2, 3), (0, 1, 99, 4)]):
            mesh.override(elementConnectivities={T.Tetra4: rows, T.Tetra10: tetra10})
            with pytest.raises(ValueError, match=re.escape(
                    "loadscribe.build_solid_mesh_pressure_field_dict: elementConnectivities"
                    "[Tetra4] 99 at position 6 of body 'M/P/Mixed' is outside [0, 13]")):
                mixed_faces()


class TestMalformedLeavesFoundByFuzzing:
    """Leaves a script can build that VTK's filters would read past; each must raise, naming the
    operation and the body, before the host is asked for anything."""

    def test_polygon_naming_a_missing_point_with_tolerance_raises(self, skin):
        body = skin_leaf(distance=[0.0] * 5)
        body.GetPolys().InsertNextCell(3, [0, 1, 9])
        body.GetCellData().GetArray("Element ID").InsertNextValue(30)
        with pytest.raises(ValueError, match="create_pressure_load_from_vtk_field: body "
                                             "'M/P/Skin' has polygon 2 naming point 9, outside "
                                             "its points 0 to 4"):
            loadscribe.create_pressure_load_from_vtk_field(multiblock(body), "Pressure", 1.0)
        assert env.created == []

    def test_short_array_with_tolerance_raises(self, skin):
        body = skin_leaf(distance=[0.0] * 5)
        body.GetPointData().GetArray("Node ID").SetNumberOfTuples(2)
        with pytest.raises(ValueError, match="filter_by_distance: body 'M/P/Skin' has a point "
                                             "array 'Node ID' of 2 values for 5 points"):
            loadscribe.filter_by_distance(body, 1.0, "cell")

    def test_text_distance_raises(self):
        body = skin_leaf()
        text = vtk.vtkStringArray()
        text.SetName("Distance")
        text.SetNumberOfValues(5)
        body.GetPointData().AddArray(text)
        with pytest.raises(TypeError, match="filter_by_distance: point array 'Distance' of body "
                                            "'M/P/Skin' holds string"):
            loadscribe.filter_by_distance(body, 1.0, "cell")

    def test_unknown_element_of_a_solid_names_the_operation(self, model):
        host_mesh(model, "Tet", [1, 2, 3, 4], {T.Tetra4: ([7], [(0, 1, 2, 3)])})
        with pytest.raises(KeyError, match="build_solid_mesh_pressure_field_dict: element ID 99 "
                                           r"is not in body 'M/P/Tet' \(polygon 0\)"):
            loadscribe.build_solid_mesh_pressure_field_dict("M/P/Tet", "tetra",
                                                            {"tria": [[1, 3, 2]]}, [1, 2, 3, 4],
                                                            [99], [0.0] * 4)
