"""fieldgraft through its Python interface, on tiny bodies exported by treewalk."""
import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import fieldgraft
from field_bodies import (body_path, cell_array, export, hex_block_body, hex_wedge_body, point_values,
                      polygons, shell_body, single_body)
from kelm.mesh import ElementTopology as T

NODAL = fieldgraft.poly_from_ug_and_nodal_fem_data
SHELL = fieldgraft.poly_from_ug_and_element2d_fem_data
FACE_INDEX = fieldgraft.poly_from_ug_and_element3d_face_id_data
FACE_NODES = fieldgraft.poly_from_ug_and_element_nodal_fem_data
FACE_NODE_PAIRS = fieldgraft.poly_from_ug_and_element3d_nodal_face_data


def vtk_face_nodes(grid, cell, face):
    """Node IDs of the corners of VTK face `face` of cell `cell` (the linear outline)."""
    ids = ns.vtk_to_numpy(grid.GetPointData().GetArray("Node ID"))
    f = grid.GetCell(cell).GetFace(face)
    return [int(ids[f.GetPointId(k)]) for k in range(f.GetNumberOfEdges())]


def face_index_field(elements, faces, values):
    return {"identifier_type": "ELEMENT_ID_FACE_INDEX", "element_ids": elements,
            "face_identifiers": faces, "pressures": values}


def reference_face_index(grid, elements, faces):
    """The face-index pipeline as VTK filters (face grid + free faces, merged, surface, duplicate
    removal): an independent oracle for the result's polygons and their order."""
    eids = ns.vtk_to_numpy(grid.GetCellData().GetArray("Element ID"))
    index = {int(e): i for i, e in enumerate(eids)}
    tables = {10: [0, 3, 0, 1, 2], 24: [0, 3, 0, 1, 2], 12: [0, 4, 5, 2, 1, 3, 0],
              25: [0, 4, 5, 2, 1, 3, 0], 13: [0, 0, 1, 2, 3, 4], 26: [0, 0, 1, 2, 3, 4]}
    face_grid = vtk.vtkUnstructuredGrid()
    face_grid.SetPoints(grid.GetPoints())
    face_grid.GetPointData().AddArray(grid.GetPointData().GetArray("Node ID"))
    cells, types = vtk.vtkCellArray(), []
    for e, f in zip(elements, faces):
        c = index[e]
        face = grid.GetCell(c).GetFace(tables[grid.GetCellType(c)][f])
        cells.InsertNextCell(face)
        types.append(face.GetCellType())
    face_grid.SetCells(ns.numpy_to_vtk(np.array(types, np.uint8), deep=1,
                                       array_type=vtk.VTK_UNSIGNED_CHAR), cells)
    free = vtk.vtkUnstructuredGridGeometryFilter()
    free.SetInputData(grid)
    append = vtk.vtkAppendFilter()
    append.MergePointsOn()
    append.AddInputData(0, face_grid)
    append.AddInputConnection(0, free.GetOutputPort())
    surface = vtk.vtkDataSetSurfaceFilter()
    surface.SetInputConnection(append.GetOutputPort())
    surface.SetNonlinearSubdivisionLevel(0)
    dedupe = vtk.vtkRemoveDuplicatePolys()
    dedupe.SetInputConnection(surface.GetOutputPort())
    dedupe.Update()
    return polygons(dedupe.GetOutput())


class TestBodyMap:
    def test_maps_path_names_to_the_models_own_grids(self):
        root, grids = export(hex_block_body(), shell_body())
        bodies = fieldgraft.create_body_to_dataset_map(root, None)
        assert sorted(bodies) == sorted(grids)
        bodies[body_path("Shell")].GetFieldData().AddArray(vtk.vtkIntArray())
        assert grids[body_path("Shell")].GetFieldData().GetNumberOfArrays() == \
            bodies[body_path("Shell")].GetFieldData().GetNumberOfArrays()
        assert bodies[body_path("Shell")].GetNumberOfCells() == 4

    def test_later_leaf_with_the_same_path_wins_and_empty_leaves_are_skipped(self):
        _, grids = export(hex_block_body(), shell_body())
        root = vtk.vtkMultiBlockDataSet()
        root.SetBlock(0, grids[body_path("Block")])
        root.SetBlock(1, None)
        twin = vtk.vtkUnstructuredGrid()
        twin.DeepCopy(grids[body_path("Block")])
        root.SetBlock(2, twin)
        bodies = fieldgraft.create_body_to_dataset_map(root, None)
        assert list(bodies) == [body_path("Block")]
        NODAL(bodies[body_path("Block")], {"node_ids": [10], "pressures": [1.0]}, "Pressure")
        assert twin.GetPointData().GetArray("Pressure") is not None
        assert grids[body_path("Block")].GetPointData().GetArray("Pressure") is None


class TestDriver:
    def test_two_bodies_give_two_blocks_and_the_last_topology(self):
        root, grids = export(hex_block_body(), shell_body())
        field = {body_path("Block"): {"identifier_type": "NODE_ID", "node_ids": [10, 20],
                                      "pressures": [1.0, 2.0]},
                 body_path("Shell"): {"identifier_type": "ELEMENT_ID", "element_ids": [507],
                                      "pressures": [3.0]}}
        out, topology = fieldgraft.add_fem_field_to_mbds(root, field, "Pressure")
        assert topology == "Cell"
        assert out.GetNumberOfBlocks() == 2
        assert point_values(out.GetBlock(0), "Pressure")[20] == 2.0
        assert cell_array(out.GetBlock(1), "Pressure")[1] == 3.0
        # The nodal builder adds its array to the model's own body grid.
        grid_values = ns.vtk_to_numpy(grids[body_path("Block")].GetPointData().GetArray("Pressure"))
        assert grid_values[0] == 1.0

    def test_unsupported_type_prints_its_line_and_leaves_an_empty_block(self, capsys):
        root, _ = export(shell_body())
        out, topology = fieldgraft.add_fem_field_to_mbds(
            root, {body_path("Shell"): {"identifier_type": "ELEMENT"}}, "Pressure")
        assert capsys.readouterr().out == 'Unsupported identifier type " ELEMENT "\n'
        assert topology is None
        assert out.GetNumberOfBlocks() == 1 and out.GetBlock(0) is None

    def test_unsupported_type_needs_no_body_of_that_name(self, capsys):
        # Only a builder looks the body up: an unsupported entry prints and stays empty even when
        # its key names no body, and the entries around it build as usual.
        root, _ = export(shell_body())
        out, topology = fieldgraft.add_fem_field_to_mbds(
            root, {"Nowhere": {"identifier_type": "ELEMENT"},
                   body_path("Shell"): {"identifier_type": "ELEMENT_ID", "element_ids": [500],
                                        "pressures": [2.0]}}, "Pressure")
        assert capsys.readouterr().out == 'Unsupported identifier type " ELEMENT "\n'
        assert out.GetNumberOfBlocks() == 2 and out.GetBlock(0) is None
        assert topology == "Cell" and out.GetBlock(1).GetNumberOfCells() > 0

    def test_an_error_in_a_later_body_leaves_every_grid_unchanged(self):
        root, grids = export(hex_block_body(), shell_body())
        field = {body_path("Block"): {"identifier_type": "NODE_ID", "node_ids": [10],
                                      "temperatures": [1.0]},
                 body_path("Shell"): {"identifier_type": "ELEMENT_ID", "element_ids": [9999],
                                      "temperatures": [3.0]}}
        with pytest.raises(KeyError, match="element ID 9999 is not in the \"Element ID\" cell"):
            fieldgraft.add_fem_field_to_mbds(root, field, "Temperature")
        assert grids[body_path("Block")].GetPointData().GetArray("Temperature") is None


class TestNodalAndShellFields:
    def test_every_node_gives_no_nan_and_one_node_nan_elsewhere(self):
        _, grids = export(hex_block_body(2, 1, 1))
        grid = grids[body_path("Block")]
        ids = ns.vtk_to_numpy(grid.GetPointData().GetArray("Node ID"))
        full = NODAL(grid, {"node_ids": ids, "pressures": ids * 0.5}, "Pressure")
        assert all(v == k * 0.5 for k, v in point_values(full, "Pressure").items())
        one = point_values(NODAL(grid, {"node_ids": [30], "pressures": [7]}, "Pressure"),
                           "Pressure")
        assert one.pop(30) == 7.0 and all(np.isnan(list(one.values())))

    def test_array_is_float32_on_the_grid_and_replaces_an_earlier_one(self):
        _, grids = export(hex_block_body())
        grid = grids[body_path("Block")]
        NODAL(grid, {"node_ids": [10], "temperatures": [1.0]}, "Temperature")
        NODAL(grid, {"node_ids": [20], "temperatures": [2.0]}, "Temperature")
        arrays = [grid.GetPointData().GetArrayName(i)
                  for i in range(grid.GetPointData().GetNumberOfArrays())]
        assert arrays.count("Temperature") == 1
        array = grid.GetPointData().GetArray("Temperature")
        assert array.GetDataType() == vtk.VTK_FLOAT and array.GetNumberOfComponents() == 1
        assert np.isnan(array.GetValue(0)) and array.GetValue(1) == 2.0
        assert grid.GetPointData().GetScalars() is None

    def test_a_repeated_id_keeps_its_later_value(self):
        _, grids = export(shell_body())
        out = SHELL(grids[body_path("Shell")],
                    {"element_ids": [514, 500, 514], "pressures": [1, 2, 3]}, "Pressure")
        assert cell_array(out, "Pressure")[2] == 3.0

    def test_shell_field_gives_one_polygon_per_element(self):
        _, grids = export(shell_body())
        out = SHELL(grids[body_path("Shell")], {"element_ids": [507], "temperatures": [4.0]},
                    "Temperature")
        values = cell_array(out, "Temperature")
        assert out.GetNumberOfPolys() == 4 and values.dtype == np.float32
        assert values[1] == 4.0 and np.isnan(values[[0, 2, 3]]).all()


class TestFaceIndexField:
    @pytest.mark.parametrize("topology, host_face, vtk_face", [
        (T.Hexa8, 1, 4), (T.Hexa8, 6, 0), (T.Hexa20, 3, 2), (T.Tetra4, 1, 3), (T.Tetra4, 2, 0),
        (T.Tetra10, 4, 2), (T.Penta6, 3, 2), (T.Penta15, 1, 0)])
    def test_host_face_becomes_its_vtk_face_first(self, topology, host_face, vtk_face):
        _, grids = export(single_body(topology))
        grid = grids[body_path("One")]
        out = FACE_INDEX(grid, face_index_field([500], [host_face], [9.0]), "Pressure")
        assert polygons(out)[0] == vtk_face_nodes(grid, 0, vtk_face)
        values = cell_array(out, "Pressure")
        assert out.GetNumberOfPolys() == grid.GetCell(0).GetNumberOfFaces()
        assert values[0] == 9.0 and np.isnan(values[1:]).all()
        assert list(cell_array(out, "Element ID")) == [500] * len(values)

    def test_hexahedron_face_1_is_corners_0_3_2_1(self):
        _, grids = export(single_body(T.Hexa8))
        out = FACE_INDEX(grids[body_path("One")], face_index_field([500], [1], [1.0]), "Pressure")
        assert polygons(out)[0] == [10, 40, 30, 20]

    def test_hexahedra_and_wedges_use_their_own_tables(self):
        _, grids = export(hex_wedge_body())
        grid = grids[body_path("Mixed")]
        out = FACE_INDEX(grid, face_index_field([500, 900], [2, 2], [1.0, 2.0]), "Pressure")
        assert polygons(out)[:2] == [vtk_face_nodes(grid, 0, 5), vtk_face_nodes(grid, 1, 1)]

    def test_loaded_inner_face_is_kept_besides_every_free_face(self):
        _, grids = export(hex_block_body(2, 1, 1))
        grid = grids[body_path("Block")]
        out = FACE_INDEX(grid, face_index_field([500], [4], [5.0]), "Pressure")
        assert out.GetNumberOfPolys() == 11
        assert polygons(out)[0] == vtk_face_nodes(grid, 0, 1)

    @pytest.mark.parametrize("body, elements, faces", [
        (hex_block_body(3, 2, 1), [535, 500, 507, 500], [2, 5, 4, 1]),
        (hex_wedge_body(), [900, 500, 500, 900], [3, 4, 6, 1]),
        (single_body(T.Tetra10), [500, 500], [4, 2]),
    ])
    def test_result_matches_the_filter_pipeline_face_by_face(self, body, elements, faces):
        _, grids = export(body)
        grid = grids[body_path(body[0])]
        values = [float(10 + i) for i in range(len(faces))]
        out = FACE_INDEX(grid, face_index_field(elements, faces, values), "Pressure")
        expected = reference_face_index(grid, elements, faces)
        got = polygons(out)
        assert got[:len(faces)] == expected[:len(faces)]
        assert sorted(map(sorted, got)) == sorted(map(sorted, expected))
        by_face = dict(zip(map(frozenset, got), cell_array(out, "Pressure").tolist()))
        for face, value in zip(expected[:len(faces)], values):
            assert by_face[frozenset(face)] == value

    def test_the_same_face_twice_is_refused(self):
        _, grids = export(hex_block_body(2, 1, 1))
        grid = grids[body_path("Block")]
        with pytest.raises(ValueError, match="face 1 of element 500 .* listed once"):
            FACE_INDEX(grid, face_index_field([500, 500], [1, 1], [1, 2]), "Pressure")
        # The inner face from both sides.
        with pytest.raises(ValueError, match="same face as face 4 of element 500"):
            FACE_INDEX(grid, face_index_field([500, 507], [4, 6], [1, 2]), "Pressure")


class TestFaceNodeFields:
    def test_shared_nodes_keep_the_first_faces_value(self):
        _, grids = export(hex_block_body(2, 1, 1))
        field = {"element_ids": [500, 507], "identifier_type": "ELEMENT_ID_FACE_NODE_ID",
                 "face_identifiers": [[10, 40, 50, 20], [20, 50, 60, 30]],
                 "pressures": [[1, 2, 3, 4], [5, 6, 7, 8]]}
        values = point_values(FACE_NODES(grids[body_path("Block")], field, "Pressure"), "Pressure")
        assert (values[20], values[50], values[30], values[60]) == (4.0, 3.0, 8.0, 7.0)
        assert np.isnan(values[70]) and np.isnan(values[120])

    def test_a_triangle_wins_over_a_quadrilateral_whatever_the_order(self):
        _, grids = export(hex_wedge_body())
        # Top quad of the hexahedron and top triangle of the wedge share nodes 60 and 70.
        field = {"element_ids": [], "identifier_type": "x",
                 "face_identifiers": [[50, 60, 70, 80], [60, 100, 70]],
                 "pressures": np.array([[1, 1, 1, 1], [2, 2, 2]], dtype=object)}
        values = point_values(FACE_NODES(grids[body_path("Mixed")], field, "Pressure"), "Pressure")
        assert (values[50], values[60], values[70], values[100]) == (1.0, 2.0, 2.0, 2.0)

    def test_nodes_off_the_free_surface_are_refused(self):
        _, grids = export(hex_block_body(3, 3, 3))
        inner = 10 * (1 + 1 + 4 * (1 + 4 * 1))  # lattice point (1, 1, 1)
        field = {"element_ids": [], "identifier_type": "x", "face_identifiers": [[inner, 10, 20]],
                 "pressures": [[1, 2, 3]]}
        with pytest.raises(KeyError, match=f"node ID {inner} is not in .*free surface of body"):
            FACE_NODES(grids[body_path("Block")], field, "Pressure")


class TestFaceNodePairs:
    def test_later_pair_wins_and_the_grid_keeps_the_array(self):
        _, grids = export(hex_block_body())
        grid = grids[body_path("Block")]
        field = {"element_ids": [], "face_ids": [], "face_identifiers": [20, 10, 20],
                 "pressures": [1.0, 2.0, 3.0]}
        values = point_values(FACE_NODE_PAIRS(grid, field, "Pressure"), "Pressure")
        assert (values[10], values[20]) == (2.0, 3.0)
        assert grid.GetPointData().GetArray("Pressure").GetValue(1) == 3.0


class TestBadInput:
    @pytest.fixture
    def block(self):
        return export(hex_block_body())[1][body_path("Block")]

    def test_missing_arguments(self, block):
        with pytest.raises(TypeError, match="unstructured_grid is required"):
            NODAL()
        with pytest.raises(TypeError, match="scalar_field_name is required"):
            NODAL(block, {"node_ids": [10], "pressures": [1]})
        with pytest.raises(TypeError, match="must be a VTK dataset, not str"):
            NODAL("grid", {"node_ids": [10], "pressures": [1]}, "Pressure")
        with pytest.raises(TypeError, match="must be a vtkUnstructuredGrid, not vtkPolyData"):
            FACE_INDEX(vtk.vtkPolyData(), face_index_field([500], [1], [1]), "Pressure")

    def test_unsupported_field_name_changes_nothing(self, block):
        with pytest.raises(ValueError, match="field name 'Stress' .* \"Pressure\" or"):
            NODAL(block, {"node_ids": [10], "stresses": [1]}, "Stress")
        assert block.GetPointData().GetArray("Stress") is None

    @pytest.mark.parametrize("builder, field, key", [
        (NODAL, {"pressures": [1]}, "node_ids"),
        (NODAL, {"node_ids": [10]}, "pressures"),
        (FACE_NODES, {"element_ids": [], "face_identifiers": [], "pressures": []},
         "identifier_type"),
        (FACE_NODE_PAIRS, {"element_ids": [], "face_identifiers": [], "pressures": []},
         "face_ids"),
        (FACE_INDEX, {"element_ids": [500], "pressures": [1]}, "face_identifiers"),
    ])
    def test_missing_keys_name_the_key_and_body(self, block, builder, field, key):
        with pytest.raises(KeyError, match=f"body .M/P/Block. has no key .{key}."):
            builder(block, field, "Pressure")

    def test_unknown_ids_name_id_body_and_table_and_change_nothing(self, block):
        with pytest.raises(KeyError, match="node ID 11 is not in the \"Node ID\" point array of "
                                           "body .*M/P/Block"):
            NODAL(block, {"node_ids": [10, 11], "pressures": [1, 2]}, "Pressure")
        assert block.GetPointData().GetArray("Pressure") is None
        with pytest.raises(KeyError, match="element ID 1 is not in the \"Element ID\" cell"):
            FACE_INDEX(block, face_index_field([1], [1], [1]), "Pressure")

    @pytest.mark.parametrize("field, error, match", [
        ({"node_ids": [10, 20], "pressures": [1]}, ValueError, "1 entries; expected 2"),
        ({"node_ids": [10], "pressures": [1, 2]}, ValueError, "2 entries; expected 1"),
        ({"node_ids": [-1], "pressures": [1]}, ValueError, "outside"),
        ({"node_ids": [2 ** 32], "pressures": [1]}, ValueError, "outside"),
        ({"node_ids": [10.5], "pressures": [1]}, TypeError, "must hold integers"),
        ({"node_ids": None, "pressures": [1]}, TypeError, "sequence of numbers"),
        ({"node_ids": [10], "pressures": ["hot"]}, TypeError, "must hold numbers"),
        ([("node_ids", [10])], TypeError, "must be a mapping"),
    ])
    def test_malformed_lists(self, block, field, error, match):
        with pytest.raises(error, match=match):
            NODAL(block, field, "Pressure")

    @pytest.mark.parametrize("builder, field, match", [
        (NODAL, {"node_ids": [10, 20], "pressures": [1]},
         '"pressures" of body .M/P/Block. has 1 entries; expected 2, one per entry of "node_ids"'),
        (SHELL, {"element_ids": [500], "pressures": []},
         '"pressures" .* 0 entries; expected 1, one per entry of "element_ids"'),
        (FACE_INDEX, face_index_field([500, 507], [1], [1, 2]),
         '"face_identifiers" .* 1 entries; expected 2, one per entry of "element_ids"'),
        (FACE_NODES, {"element_ids": [], "identifier_type": "x", "face_identifiers": [[10]],
                      "pressures": []},
         '"pressures" .* 0 entries; expected 1, one per entry of "face_identifiers"'),
    ])
    def test_length_mismatches_name_both_keys(self, block, builder, field, match):
        with pytest.raises(ValueError, match=match):
            builder(block, field, "Pressure")

    def test_text_that_utf8_cannot_carry_is_named_in_the_message(self, block):
        # Lone surrogates used to give "RuntimeError: Unable to cast Python instance".
        with pytest.raises(ValueError, match=r"field name '\\ud800' for body 'M/P/Block'"):
            NODAL(block, {"node_ids": [10], "pressures": [1]}, "\ud800")
        root, _ = export(hex_block_body())
        with pytest.raises(KeyError, match=r"body .*\\udcff.* is not in the model"):
            fieldgraft.add_fem_field_to_mbds(root, {"\udcff": {"identifier_type": "NODE_ID"}},
                                             "Pressure")

    def test_unsigned_64_bit_ids_above_the_signed_range_are_named_as_given(self, block):
        # The message used to show them wrapped to -9223372036854775808.
        with pytest.raises(ValueError, match='"node_ids" 18446744073709551615 at position 1 '):
            NODAL(block, {"node_ids": np.array([10, 2**64 - 1], np.uint64), "pressures": [1, 2]},
                  "Pressure")

    def test_face_rows_as_a_2d_array_of_width_0_do_not_hang(self, block):
        # np.array([[], []]) used to send the row split into an endless loop.
        field = {"element_ids": [], "identifier_type": "x",
                 "face_identifiers": np.array([[], []]), "pressures": np.array([[], []])}
        result = FACE_NODES(block, field, "Pressure")
        assert np.isnan(ns.vtk_to_numpy(result.GetPointData().GetArray("Pressure"))).all()
        field["pressures"] = np.zeros((3, 0))
        with pytest.raises(ValueError, match='"pressures" .* 3 entries; expected 2'):
            FACE_NODES(block, field, "Pressure")

    @pytest.mark.parametrize("face", [0, -1, 7])
    def test_face_numbers_outside_the_table(self, block, face):
        with pytest.raises(fieldgraft.FaceNumberError, match=f"face number {face} of element 500 "
                                                              ".* face numbers 1 to 6"):
            FACE_INDEX(block, face_index_field([500], [face], [1]), "Pressure")
        assert issubclass(fieldgraft.FaceNumberError, IndexError)
        assert issubclass(fieldgraft.FaceNumberError, ValueError)

    def test_non_integer_face_number(self, block):
        with pytest.raises(TypeError, match="must hold integers"):
            FACE_INDEX(block, face_index_field([500], [1.0], [1]), "Pressure")

    def test_cell_type_without_a_table_in_a_hexahedral_body(self, block):
        grid = vtk.vtkUnstructuredGrid()
        grid.DeepCopy(block)
        pyramid = vtk.vtkPyramid()
        for k in range(5):
            pyramid.GetPointIds().SetId(k, k)
        grid.InsertNextCell(pyramid.GetCellType(), pyramid.GetPointIds())
        grid.GetCellData().GetArray("Element ID").InsertNextValue(999)
        with pytest.raises(KeyError, match="VTK type 14, which has no face number table"):
            FACE_INDEX(grid, face_index_field([500], [1], [1]), "Pressure")

    def test_face_rows_that_do_not_match_their_values(self, block):
        field = {"element_ids": [], "identifier_type": "x", "face_identifiers": [[10, 20, 50, 40]],
                 "pressures": [[1, 2, 3]]}
        with pytest.raises(ValueError, match="face 0 of body 'M/P/Block' has 4 node IDs in "
                                             "\"face_identifiers\" but 3 values in \"pressures\""):
            FACE_NODES(block, field, "Pressure")
        field["pressures"] = [1, 2, 3, 4]
        with pytest.raises(TypeError, match="row 0 .* must be a sequence of numbers"):
            FACE_NODES(block, field, "Pressure")

    def test_grid_without_tag_arrays(self, block):
        bare = vtk.vtkUnstructuredGrid()
        bare.SetPoints(block.GetPoints())
        bare.SetCells(vtk.VTK_HEXAHEDRON, block.GetCells())
        with pytest.raises(KeyError, match="has no point data array \"Node ID\""):
            NODAL(bare, {"node_ids": [10], "pressures": [1]}, "Pressure")
        bare.GetPointData().AddArray(block.GetPointData().GetArray("Node ID"))
        with pytest.raises(KeyError, match="has no cell data array \"Element ID\""):
            FACE_INDEX(bare, face_index_field([500], [1], [1]), "Pressure")

    def test_model_and_collection_errors(self, block):
        root, grids = export(hex_block_body())
        with pytest.raises(ValueError, match="field collection is empty"):
            fieldgraft.add_fem_field_to_mbds(root, {}, "Pressure")
        with pytest.raises(KeyError, match="body .*Nowhere.* of the field is not in the model"):
            fieldgraft.add_fem_field_to_mbds(root, {"Nowhere": {"identifier_type": "NODE_ID"}},
                                             "Pressure")
        with pytest.raises(KeyError, match="has no key .identifier_type."):
            fieldgraft.add_fem_field_to_mbds(root, {body_path("Block"): {}}, "Pressure")
        with pytest.raises(TypeError, match="must be a mapping"):
            fieldgraft.add_fem_field_to_mbds(root, [1, 2], "Pressure")
        untagged = vtk.vtkMultiBlockDataSet()
        untagged.SetBlock(0, vtk.vtkPolyData())
        untagged.GetBlock(0).SetPoints(vtk.vtkPoints())
        untagged.GetBlock(0).GetPoints().InsertNextPoint(0, 0, 0)
        with pytest.raises(KeyError, match="has no \"Body pathName\" field array"):
            fieldgraft.add_fem_field_to_mbds(untagged, {"x": {}}, "Pressure")
        with pytest.raises(TypeError, match="mbds must be the model vtkMultiBlockDataSet"):
            fieldgraft.add_fem_field_to_mbds(block, {"x": {}}, "Pressure")


class TestHandBuiltGrids:
    """Grids a host script builds itself: malformed cells used to crash the surface filter."""

    def grid(self, cell_type, ids):
        grid = vtk.vtkUnstructuredGrid()
        points = vtk.vtkPoints()
        for p in [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1),
                  (0, 1, 1)]:
            points.InsertNextPoint(p)
        grid.SetPoints(points)
        grid.InsertNextCell(cell_type, len(ids), ids)
        for data, name, values in ((grid.GetPointData(), "Node ID", np.arange(1, 9)),
                                   (grid.GetCellData(), "Element ID", [7])):
            array = ns.numpy_to_vtk(np.asarray(values, np.uint32), deep=1)
            array.SetName(name)
            data.AddArray(array)
        return grid

    @pytest.mark.parametrize("cell_type, ids, match", [
        (vtk.VTK_HEXAHEDRON, [0, 1, 2], r"cell 0 \(VTK type 12\) with 3 points; its type has 8"),
        (vtk.VTK_TETRA, list(range(8)), "cell 0 .* with 8 points; its type has 4"),
        (vtk.VTK_HEXAHEDRON, [0, 1, 2, 3, 4, 5, 6, 100],
         "cell 0 naming point 100, outside its points 0 to 7"),
        (vtk.VTK_HEXAHEDRON, [0, 1, 2, 3, 4, 5, 6, -5], "cell 0 naming point -5"),
        (200, [0, 1, 2], "cell 0 of VTK cell type 200, which VTK does not know"),
    ])
    @pytest.mark.parametrize("builder, field", [
        (NODAL, {"node_ids": [1], "pressures": [1]}),
        (SHELL, {"element_ids": [7], "pressures": [1]}),
        (FACE_INDEX, face_index_field([7], [1], [1])),
        (FACE_NODES, {"element_ids": [], "identifier_type": "x", "face_identifiers": [[1]],
                      "pressures": [[1]]}),
    ])
    def test_malformed_cells_are_refused(self, builder, field, cell_type, ids, match):
        with pytest.raises(ValueError, match="fieldgraft.poly_from_ug_and_.*: body '.*' has " + match):
            builder(self.grid(cell_type, ids), field, "Pressure")

    def test_offsets_past_the_connectivity_are_reported_not_read(self):
        # Followed, the second hexahedron's offset read past the connectivity's end and reported
        # whatever lay there as a point index.
        grid = self.grid(vtk.VTK_HEXAHEDRON, list(range(8)))
        arrays = [ns.numpy_to_vtkIdTypeArray(np.array(v, np.int64), deep=1)
                  for v in ([0, 8, 100000], list(range(8)) + [0, 1])]
        cells = vtk.vtkCellArray()
        cells.SetData(*arrays)
        types = ns.numpy_to_vtk(np.array([vtk.VTK_HEXAHEDRON] * 2, np.uint8), deep=1)
        grid.SetCells(types, cells)
        with pytest.raises(ValueError, match="offsets run past its 10 connectivity entries: cell 1 "
                                             "ends at offset 100000"):
            NODAL(grid, {"node_ids": [1], "pressures": [1]}, "Pressure")

    def test_polydata_with_a_point_index_outside_its_points(self):
        poly = vtk.vtkPolyData()
        points = vtk.vtkPoints()
        points.InsertNextPoint(0, 0, 0)
        poly.SetPoints(points)
        poly.SetPolys(vtk.vtkCellArray())
        poly.GetPolys().InsertNextCell(3, [0, 5, 9])
        ids = ns.numpy_to_vtk(np.array([1], np.uint32), deep=1)
        ids.SetName("Node ID")
        poly.GetPointData().AddArray(ids)
        with pytest.raises(ValueError, match="polygon 0 naming point 5"):
            NODAL(poly, {"node_ids": [1], "pressures": [1]}, "Pressure")

    def test_a_sound_hand_built_hexahedron_builds(self):
        result = FACE_INDEX(self.grid(vtk.VTK_HEXAHEDRON, list(range(8))),
                            face_index_field([7], [1], [3.0]), "Pressure")
        assert result.GetNumberOfPolys() == 6
