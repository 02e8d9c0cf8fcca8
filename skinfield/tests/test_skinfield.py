"""skinfield through its Python interface: the earlier field format over the shared builders."""
import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import skinfield
from field_bodies import (body_path, cell_array, export, hex_block_body, point_values, polygons,
                          shell_body, single_body)
from kelm.mesh import ElementTopology as T

NODAL_FACES = skinfield.poly_from_ug_and_element_nodal_face_data
FACE_INDEX = skinfield.poly_from_ug_and_element_face_index_data


def nodal_faces(elements, faces, values, name="Heat flux"):
    return {"element_ids": elements, "identifier_type": "ELEMENT_NODAL", "identifiers": faces,
            "scalar_name": name, "scalars": values}


def producer(root):
    source = vtk.vtkTrivialProducer()
    source.SetOutput(root)
    return source


class TestDriver:
    def three_bodies(self):
        root, grids = export(hex_block_body(), shell_body(), single_body(T.Tetra4, "Tet"))
        field = {
            body_path("Tet"): {"identifier_type": "ELEMENT_FACE_INDEX", "element_ids": [500],
                               "identifiers": [1], "scalar_name": "Load", "scalars": [1.0]},
            body_path("Shell"): {"identifier_type": "ELEMENT", "element_ids": [514],
                                 "scalar_name": "Load", "scalars": [2.0]},
            body_path("Block"): {"identifier_type": "NODE_ID", "identifier": [20],
                                 "scalar_name": "Load", "scalars": [3.0]},
        }
        return root, grids, field

    def test_three_bodies_give_three_blocks_in_collection_order(self):
        root, _, field = self.three_bodies()
        out = skinfield.add_field(producer(root), field)
        assert out.GetNumberOfBlocks() == 3
        assert cell_array(out.GetBlock(0), "Load")[0] == 1.0
        assert cell_array(out.GetBlock(1), "Load")[2] == 2.0
        assert point_values(out.GetBlock(2), "Load")[20] == 3.0

    def test_add_nodal_field_is_add_field(self):
        root, _, field = self.three_bodies()
        a = skinfield.add_field(producer(root), field)
        b = skinfield.add_nodal_field(mbds_blocks_filter=producer(root), nodal_scalar_field=field)
        for i in range(3):
            assert polygons(a.GetBlock(i)) == polygons(b.GetBlock(i))

    def test_unsupported_type_prints_and_gives_none(self, capsys):
        _, grids = export(shell_body())
        result = skinfield.poly_from_ug_and_scalar_fem_field(
            grids[body_path("Shell")], {"identifier_type": "ELEMENT_ID"})
        assert result is None
        assert capsys.readouterr().out == 'Unsupported identifier type " ELEMENT_ID "\n'


class TestNamedArrays:
    def test_any_scalar_name_is_used_on_grid_and_result(self):
        _, grids = export(hex_block_body())
        grid = grids[body_path("Block")]
        out = skinfield.poly_from_ug_and_nodal_data(
            grid, {"identifier": [10], "scalar_name": "Film coefficient", "scalars": [5]})
        assert point_values(out, "Film coefficient")[10] == 5.0
        assert grid.GetPointData().GetArray("Film coefficient").GetValue(0) == 5.0

    def test_face_index_host_face_1_is_vtk_face_4(self):
        _, grids = export(single_body(T.Hexa8))
        out = FACE_INDEX(grids[body_path("One")], {"element_ids": [500], "identifiers": [1],
                                                   "scalar_name": "q", "scalars": [2]})
        assert polygons(out)[0] == [10, 40, 30, 20]

    def test_face_node_pairs_later_wins(self):
        _, grids = export(hex_block_body())
        out = skinfield.poly_from_ug_and_element_face_nodal_data(
            grids[body_path("Block")], {"element_ids": [], "face_ids": [],
                                        "face_node_ids": [10, 10], "scalar_name": "T",
                                        "scalars": [1, 2]})
        assert point_values(out, "T")[10] == 2.0


class TestNodeListFaces:
    def test_one_loaded_face_of_a_hexahedron(self):
        _, grids = export(single_body(T.Hexa8))
        grid = grids[body_path("One")]
        out = NODAL_FACES(grid, nodal_faces([500], [[10, 40, 30, 20]], [7.0]))
        values = cell_array(out, "Heat flux")
        assert out.GetNumberOfPolys() == 6 and polygons(out)[0] == [10, 40, 30, 20]
        assert values[0] == 7.0 and np.isnan(values[1:]).all()
        assert out.GetCellData().GetArray("Element ID").GetDataType() == vtk.VTK_ID_TYPE
        assert grid.GetCellData().GetArray("Heat flux") is None

    def test_result_carries_the_body_tags_like_every_builder(self):
        _, grids = export(single_body(T.Hexa8))
        grid = grids[body_path("One")]
        out = NODAL_FACES(grid, nodal_faces([500], [[10, 40, 30, 20]], [7.0]))
        tags = grid.GetFieldData()
        assert tags.GetNumberOfArrays() > 0
        for i in range(tags.GetNumberOfArrays()):
            name = tags.GetArrayName(i)
            assert out.GetFieldData().GetAbstractArray(name) is not None, name
        assert out.GetFieldData().GetAbstractArray("Body pathName").GetValue(0) == body_path("One")

    def test_two_loaded_triangles_of_a_tetrahedron_come_first(self):
        _, grids = export(single_body(T.Tetra4))
        out = NODAL_FACES(grids[body_path("One")],
                          nodal_faces([500, 501], [[20, 30, 40], [10, 30, 20]], [1.0, 2.0]))
        assert polygons(out)[:2] == [[20, 30, 40], [10, 30, 20]]
        assert out.GetNumberOfPolys() == 4
        assert list(cell_array(out, "Element ID")[:2]) == [500, 501]

    def test_inner_face_is_kept_besides_all_free_faces(self):
        _, grids = export(hex_block_body(2, 1, 1))
        out = NODAL_FACES(grids[body_path("Block")], nodal_faces([500], [[20, 50, 110, 80]], [1]))
        assert out.GetNumberOfPolys() == 11

    def test_node_order_within_a_face_does_not_matter(self):
        _, grids = export(single_body(T.Hexa8))
        out = NODAL_FACES(grids[body_path("One")], nodal_faces([500], [[20, 10, 40, 30]], [1]))
        assert out.GetNumberOfPolys() == 6 and polygons(out)[0] == [20, 10, 40, 30]


class TestBadInput:
    @pytest.fixture
    def block(self):
        return export(hex_block_body())[1][body_path("Block")]

    def test_node_ids_under_the_later_key_name_are_refused(self, block):
        with pytest.raises(KeyError, match="has no key .identifier."):
            skinfield.poly_from_ug_and_nodal_data(
                block, {"node_ids": [10], "scalar_name": "T", "scalars": [1]})

    def test_missing_keys_of_the_face_builders(self, block):
        with pytest.raises(KeyError, match="has no key .identifier_type."):
            NODAL_FACES(block, {"element_ids": [], "identifiers": [], "scalar_name": "T",
                                "scalars": []})
        with pytest.raises(KeyError, match="has no key .face_ids."):
            skinfield.poly_from_ug_and_element_face_nodal_data(
                block, {"element_ids": [], "face_node_ids": [], "scalar_name": "T",
                        "scalars": []})

    def test_faces_of_mixed_node_counts(self, block):
        with pytest.raises(ValueError, match="face 1 .* same number of nodes"):
            NODAL_FACES(block, nodal_faces([500, 500], [[10, 40, 50, 20], [10, 20, 80]], [1, 2]))

    def test_lengths_that_disagree(self, block):
        with pytest.raises(ValueError, match='"scalars" of body .* 1 entries; expected 2, one per '
                                             'entry of "identifiers"'):
            NODAL_FACES(block, nodal_faces([500, 500], [[10, 40, 50, 20], [10, 20, 80, 70]], [1]))
        with pytest.raises(ValueError, match='"element_ids" of body .* 1 entries; expected 2'):
            NODAL_FACES(block, nodal_faces([500], [[10, 40, 50, 20], [10, 20, 80, 70]], [1, 2]))

    def test_tag_array_names_are_refused(self, block):
        with pytest.raises(ValueError, match="tag array"):
            skinfield.poly_from_ug_and_nodal_data(
                block, {"identifier": [10], "scalar_name": "Node ID", "scalars": [1]})
        assert ns.vtk_to_numpy(block.GetPointData().GetArray("Node ID")).dtype == np.uint32

    def test_scalar_name_must_be_text(self, block):
        with pytest.raises(TypeError, match="must be a string"):
            skinfield.poly_from_ug_and_nodal_data(
                block, {"identifier": [10], "scalar_name": 5, "scalars": [1]})

    def test_face_rows_as_a_2d_array_of_width_0_are_refused(self, block):
        # np.array([[]]) used to send the row split into an endless loop.
        with pytest.raises(ValueError, match='face 0 of "identifiers" of body .M/P/Block. has 0 '
                                             'node IDs.* at least 1'):
            NODAL_FACES(block, nodal_faces([500], np.array([[]], np.int64), [1]))

    def test_malformed_hand_built_grid_is_refused(self, block):
        # A hexahedron listed with three points used to crash the boundary filter.
        grid = vtk.vtkUnstructuredGrid()
        grid.DeepCopy(block)
        grid.InsertNextCell(vtk.VTK_HEXAHEDRON, 3, [0, 1, 2])
        with pytest.raises(ValueError, match="skinfield.poly_from_ug_and_element_nodal_face_data: "
                                             "body 'M/P/Block' has cell 2 .* with 3 points; its type has 8"):
            NODAL_FACES(grid, nodal_faces([500], [[10, 40, 50, 20]], [1]))

    def test_scalar_name_that_utf8_cannot_carry(self, block):
        with pytest.raises(ValueError, match="\"scalar_name\" of body 'M/P/Block' is not valid text"):
            skinfield.poly_from_ug_and_nodal_data(
                block, {"identifier": [10], "scalar_name": "\ud800", "scalars": [1]})

    def test_unknown_node_of_a_face(self, block):
        with pytest.raises(KeyError, match="node ID 15 is not in .*free surface"):
            NODAL_FACES(block, nodal_faces([500], [[10, 15, 50, 20]], [1]))

    def test_face_number_outside_the_table(self, block):
        with pytest.raises(skinfield.FaceNumberError, match="face number 9"):
            FACE_INDEX(block, {"element_ids": [500], "identifiers": [9], "scalar_name": "q",
                               "scalars": [2]})

    def test_driver_arguments(self, block):
        with pytest.raises(TypeError, match="pipeline object"):
            skinfield.add_field("model", {})
        with pytest.raises(TypeError, match="block_filter is required"):
            skinfield.poly_from_ug_and_scalar_fem_field()
        root, _ = export(hex_block_body())
        with pytest.raises(ValueError, match="field collection is empty"):
            skinfield.add_field(root, {})
