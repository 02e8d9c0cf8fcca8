import numpy as np
import pytest

import kelm
from kelm import EntityType
from kelm.mesh import ElementTopology as T


def one_hex_model(**delivery):
    """A model with one Hexa8 unit cube whose node 0 sits at one inch along x."""
    model = kelm.Model("M", **delivery)
    points, row = kelm.samples.single_element(T.Hexa8, origin=(0.0254, 0, 0))
    body = model.add_assembly("A").add_part("P").add_mesh(
        "Cube", [7, 3, 11, 2, 90, 91, 92, 93], points, {T.Hexa8: ([500], row)})
    return model, body


def plain(value):
    """Any delivered form as a flat list of Python numbers."""
    return np.asarray(value).reshape(-1).tolist()


class TestUnits:
    @pytest.mark.parametrize("label, x", [("m-kg-s-N-K", 0.0254), ("cm-g-s-dyn-K", 2.54),
                                          ("mm-t-s-N-K", 25.4), ("in-lb-s-lbf-degR-BTU", 1.0),
                                          ("ft-slug-s-lbf-degF", 0.0254 / 0.3048)])
    def test_coordinates_are_read_in_the_script_unit_system(self, label, x, as_lists):
        _, body = one_hex_model(deliver_as_lists=as_lists)
        kelm.setScriptUnitSystem(label)
        first = body.nodeCoordinates[0]
        assert first[0] == pytest.approx(x, rel=1e-15)
        assert tuple(first[1:]) == (0.0, 0.0)

    def test_switching_back_gives_the_stored_metres_again(self):
        _, body = one_hex_model()
        kelm.setScriptUnitSystem("mm-t-s-N-K")
        assert body.nodeCoordinates[1][0] == pytest.approx(1025.4)
        kelm.setScriptUnitSystem("m-kg-s-N-K")
        assert body.nodeCoordinates[1][0] == 1.0254

    def test_tessellation_points_are_converted_too(self):
        square = kelm.samples.geometry_zoo()[EntityType.Surface]
        kelm.setScriptUnitSystem("cm-g-s-dyn-K")
        assert plain(square.asSurface().tessellation.points)[3:6] == [100.0, 0.0, 0.0]

    def test_application_label_is_independent_of_the_script_unit_system(self):
        _, body = one_hex_model()
        kelm.setApplicationUnitSystem("mm-t-s-N-K")
        assert kelm.getApplicationUnitSystemLabel() == "mm-t-s-N-K"
        assert body.nodeCoordinates[0][0] == 0.0254  # still metres until the script asks
        kelm.setScriptUnitSystem(kelm.getApplicationUnitSystemLabel())
        assert body.nodeCoordinates[0][0] == pytest.approx(25.4)

    def test_a_label_without_dash_is_its_own_length_unit(self):
        _, body = one_hex_model()
        kelm.setScriptUnitSystem("mm")
        assert body.nodeCoordinates[0][0] == pytest.approx(25.4)

    @pytest.mark.parametrize("call", [kelm.setScriptUnitSystem, kelm.setApplicationUnitSystem])
    def test_unknown_length_unit_is_refused_by_name(self, call):
        with pytest.raises(ValueError, match="'furlong'"):
            call("furlong-kg-s-N-K")
        assert kelm.getScriptUnitSystemLabel() == kelm.DEFAULT_UNIT_SYSTEM

    def test_call_log_shows_the_unit_system_in_force_at_each_read(self):
        _, body = one_hex_model()
        body.nodeCoordinates
        kelm.setScriptUnitSystem("in-lb-s-lbf-degR-BTU")
        body.nodeCoordinates
        reads = [args[2] for name, args in kelm.call_log if name == "read"]
        assert reads == ["m-kg-s-N-K", "in-lb-s-lbf-degR-BTU"]
        assert ("setScriptUnitSystem", ("in-lb-s-lbf-degR-BTU",)) in kelm.call_log


class TestDelivery:
    def test_lists_and_arrays_carry_the_same_data(self):
        arrays = kelm.samples.sample_model(name="A")
        lists = kelm.samples.sample_model(name="L", deliver_as_lists=True)
        for body_a, body_l in zip(kelm._walk_meshes(arrays), kelm._walk_meshes(lists)):
            assert plain(body_a.nodeIDs) == body_l.nodeIDs
            assert plain(body_a.nodeCoordinates) == plain(body_l.nodeCoordinates)
            assert list(body_a.elementIDs) == list(body_l.elementIDs)
            for topology in body_a.elementIDs:
                assert plain(body_a.elementIDs[topology]) == body_l.elementIDs[topology]
                assert plain(body_a.elementConnectivities[topology]) == \
                    body_l.elementConnectivities[topology]

    def test_list_forms(self):
        _, body = one_hex_model(deliver_as_lists=True)
        assert type(body.nodeIDs) is list and type(body.nodeIDs[0]) is int
        coordinates = body.nodeCoordinates
        assert type(coordinates) is list and type(coordinates[0]) is tuple
        assert len(coordinates[0]) == 3
        assert body.elementConnectivities[T.Hexa8] == list(range(8))

    def test_array_forms(self):
        _, body = one_hex_model()
        assert body.nodeIDs.dtype == np.int64
        assert body.nodeCoordinates.shape == (8, 3) and body.nodeCoordinates.dtype == np.float64
        assert body.elementConnectivities[T.Hexa8].shape == (1, 8)
        assert body.elementIDs[T.Hexa8].dtype == np.int64

    def test_flat_coordinates(self, as_lists):
        _, body = one_hex_model(deliver_as_lists=as_lists, flat_coordinates=True)
        assert len(body.nodeCoordinates) == 24
        assert plain(body.nodeCoordinates)[:4] == [0.0254, 0.0, 0.0, 1.0254]

    def test_switch_takes_effect_on_the_next_read(self):
        model, body = one_hex_model()
        assert isinstance(body.nodeIDs, np.ndarray)
        model.deliver_as_lists = True
        assert body.nodeIDs == [7, 3, 11, 2, 90, 91, 92, 93]

    def test_delivered_arrays_cannot_corrupt_the_model(self):
        _, body = one_hex_model()
        with pytest.raises(ValueError):
            body.nodeCoordinates[0, 0] = 5.0
        with pytest.raises(ValueError):
            body.elementConnectivities[T.Hexa8][0, 0] = 7

    def test_topology_dictionaries_share_keys_and_order(self):
        kelm.samples.sample_model()
        body = kelm.getMesh("Sample/Housing/Cover assembly/Cover/Cover shell")
        assert list(body.elementIDs) == list(body.elementConnectivities) == [T.Quad4, T.Tria3]


class TestModelTree:
    def test_path_names_join_parent_paths(self):
        model = kelm.samples.sample_model()
        assert model.pathName == "Sample"
        housing = model.assemblies[0]
        cover_part = housing.assemblies[0].parts[0]
        assert cover_part.pathName == "Sample/Housing/Cover assembly/Cover"
        assert [g.pathName for g in cover_part.geometryBodies] == [
            "Sample/Housing/Cover assembly/Cover/Cover face"]
        assert cover_part.geometryBodies[0].name == "Cover face"

    def test_class_hierarchy(self):
        model = kelm.samples.sample_model()
        frame, block = model.parts[0], model.assemblies[0].parts[0]
        beams, masses = frame.meshes
        assert isinstance(masses, kelm.mesh.PointMesh) and isinstance(masses, kelm.mesh.MeshBody)
        assert isinstance(block.meshes[0], kelm.mesh.HexMesh)
        assert not isinstance(block.meshes[0], kelm.mesh.SolidMesh)
        assert isinstance(beams, kelm.mesh.BarMesh)
        assert all(isinstance(e, kelm.Entity) for e in (model, frame, beams))
        assert masses.elementIDs == {} and masses.elementConnectivities == {}

    def test_kind_is_inferred_from_topologies(self):
        part = kelm.Model().add_part("P")
        tet, wedge = (kelm.samples.single_element(t) for t in (T.Tetra4, T.Penta6))
        assert isinstance(part.add_mesh("t", range(4), tet[0], {T.Tetra4: ([1], tet[1])}),
                          kelm.mesh.SolidMesh)
        assert isinstance(part.add_mesh("w", range(6), wedge[0], {T.Penta6: ([1], wedge[1])}),
                          kelm.mesh.HexMesh)
        assert isinstance(part.add_mesh("p", [5], [(0, 0, 0)]), kelm.mesh.PointMesh)

    def test_sibling_names_must_differ(self):
        model = kelm.Model()
        model.add_part("X")
        with pytest.raises(ValueError, match="'X'"):
            model.add_assembly("X")

    def test_current_model_is_the_last_constructed_unless_set(self):
        first = kelm.Model("first")
        second = kelm.Model("second")
        assert kelm.currentModel() is second
        kelm.setCurrentModel(first)
        assert kelm.currentModel() is first

    def test_no_current_model_after_reset(self):
        kelm.Model()
        kelm.reset()
        with pytest.raises(RuntimeError):
            kelm.currentModel()


class TestConstructionChecks:
    def part(self):
        return kelm.Model().add_part("P")

    @pytest.mark.parametrize("ids, coords, elements, message", [
        ([1, 2], [(0, 0, 0)], {}, "6 coordinates"),
        ([1, 1], [(0, 0, 0)] * 2, {}, "ID 1 occurs more than once"),
        ([1, 2**32], [(0, 0, 0)] * 2, {}, "ID 4294967296 is outside"),
        ([1, 2], [(0, 0, 0)] * 2, {T.Bar2: ([9], [0, 2])}, "entry 2 is not a node position"),
        ([1, 2], [(0, 0, 0)] * 2, {T.Bar2: ([9, 10], [0, 1])}, "need 4 connectivity"),
        ([1, 2], [(0, 0, 0)] * 2, {T.Bar2: ([9], [0.0, 1.0])}, "must be integers"),
    ])
    def test_inconsistent_meshes_are_refused(self, ids, coords, elements, message):
        with pytest.raises(ValueError, match=message):
            self.part().add_mesh("B", ids, coords, elements)

    def test_point_mesh_takes_no_elements(self):
        with pytest.raises(ValueError):
            self.part().add_mesh("B", [1, 2], [(0, 0, 0)] * 2, {T.Bar2: ([9], [0, 1])},
                                 kind="point")

    def test_override_delivers_malformed_data_verbatim(self):
        _, body = one_hex_model()
        body.override(nodeCoordinates=[[0, 0]], elementIDs={"Hexa9": [1]})
        assert body.nodeCoordinates == [[0, 0]]
        assert body.elementIDs == {"Hexa9": [1]}
        assert plain(body.nodeIDs)[0] == 7  # others untouched
        with pytest.raises(AttributeError):
            body.override(nodeCoordinatez=[])


class TestLookup:
    def test_get_mesh_finds_bodies_by_path_name(self):
        kelm.samples.sample_model()
        body = kelm.getMesh("Sample/Frame/Masses")
        assert isinstance(body, kelm.mesh.PointMesh)

    def test_unknown_path_raises_key_error_naming_it(self):
        kelm.samples.sample_model()
        with pytest.raises(KeyError, match="Sample/Frame/Nothing"):
            kelm.getMesh("Sample/Frame/Nothing")

    def test_geometry_bodies_are_not_meshes(self):
        kelm.samples.sample_model()
        with pytest.raises(KeyError):
            kelm.getMesh("Sample/Housing/Cover assembly/Cover/Cover face")

    def test_get_nodes_returns_positions_in_request_order(self):
        _, body = one_hex_model()
        nodes = body.getNodes(ids="93,7,2")
        assert [(n.id, n.position) for n in nodes] == [(93, 7), (7, 0), (2, 3)]
        assert all(n.mesh is body for n in nodes)

    def test_get_elements_positions_run_over_all_topologies(self):
        body = kelm.samples.sample_model().assemblies[0].parts[0].meshes[0]
        hexa20_id = int(plain(body.elementIDs[T.Hexa20])[0])
        (element,) = body.getElements(ids=str(hexa20_id))
        assert (element.position, element.topology) == (2, T.Hexa20)

    @pytest.mark.parametrize("text, message", [("7,8", "node ID 8 is not in mesh 'M/A/P/Cube'"),
                                               ("7,x", "'x' is not a decimal ID"),
                                               ("7,,3", "'' is not a decimal ID")])
    def test_bad_node_ids_are_named(self, text, message):
        _, body = one_hex_model()
        with pytest.raises(ValueError, match=message):
            body.getNodes(ids=text)

    def test_ids_must_be_text(self):
        _, body = one_hex_model()
        with pytest.raises(TypeError):
            body.getNodes(ids=[7, 3])
        assert body.getNodes(ids="") == []

    def test_element_faces_by_position(self):
        body = kelm.samples.sample_model().assemblies[0].parts[0].meshes[0]
        faces = body.getElementFaces(target={2: [5, 0], 0: [1]})
        assert [(f.element.position, f.face) for f in faces] == [(2, 5), (2, 0), (0, 1)]
        assert faces[0].element.topology is T.Hexa20

    @pytest.mark.parametrize("target, message", [({3: [0]}, "position 3"), ({0: [6]}, "face 6")])
    def test_element_faces_out_of_range(self, target, message):
        body = kelm.samples.sample_model().assemblies[0].parts[0].meshes[0]
        with pytest.raises(ValueError, match=message):
            body.getElementFaces(target=target)

    def test_shell_elements_have_no_solid_faces(self):
        kelm.samples.sample_model()
        body = kelm.getMesh("Sample/Housing/Cover assembly/Cover/Cover shell")
        with pytest.raises(ValueError, match="Quad4"):
            body.getElementFaces(target={0: [0]})

    def test_entity_collection_takes_only_host_entities(self):
        _, body = one_hex_model()
        collection = kelm.EntityCollection()
        collection.extend(body.getNodes(ids="7,3"))
        collection.extend([body])
        assert len(collection) == 3 and collection[2] is body
        with pytest.raises(TypeError):
            collection.extend(["7,3"])


class TestGeometry:
    def test_each_kind_gives_its_own_view(self):
        zoo = kelm.samples.geometry_zoo()
        faces = zoo[EntityType.Solid].asSolid().tessellationExterior.faces
        assert sum(plain(faces["num_cells"])) == 12
        assert len(plain(zoo[EntityType.Curve].asCurve().tessellation.edges["point_indices"])) == 6
        assert plain(zoo[EntityType.Point].asPoint().tessellation.vertices["num_cells"]) == [1]

    def test_asking_for_another_kind_raises(self):
        surface = kelm.samples.geometry_zoo()[EntityType.Surface]
        with pytest.raises(TypeError, match="Surface, not a Solid"):
            surface.asSolid()

    def test_tessellation_indices_are_checked(self):
        with pytest.raises(ValueError, match="outside"):
            kelm.geometry.Tessellation([(0, 0, 0)], vertices=([1], [1]))
        with pytest.raises(ValueError, match="need 4 point indices"):
            kelm.geometry.Tessellation([(0, 0, 0)] * 2, edges=([2], [0, 1]))

    def test_lists_delivery_of_tessellation(self):
        zoo = kelm.samples.geometry_zoo(deliver_as_lists=True)
        tessellation = zoo[EntityType.Surface].asSurface().tessellation
        assert tessellation.points[2] == (1.0, 1.0, 0.0)
        assert tessellation.faces["point_indices"] == [0, 1, 2, 0, 2, 3]
