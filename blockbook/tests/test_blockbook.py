import pytest
import vtk

import blockbook


def tagged_grid(path):
    grid = vtk.vtkUnstructuredGrid()
    points = vtk.vtkPoints()
    points.InsertNextPoint(0, 0, 0)
    grid.SetPoints(points)
    name = vtk.vtkStringArray()
    name.SetName("Body pathName")
    name.InsertNextValue(path)
    grid.GetFieldData().AddArray(name)
    return grid


def block_name(parent, index):
    return parent.GetMetaData(index).Get(vtk.vtkCompositeDataSet.NAME())


@pytest.fixture
def book():
    """Root -> assembly A -> part P -> grids "A/P/B1", "A/P/B2"."""
    book = blockbook.blockbook()
    assembly = book.create_assembly(book.get_model_root(), "A")
    part = book.create_part(assembly, "A/P")
    book.add_body_to_part(part, tagged_grid("A/P/B1"), "A/P/B1")
    book.add_body_to_part(part, tagged_grid("A/P/B2"), "A/P/B2")
    return book


class TestHierarchy:
    def test_new_book_is_empty(self):
        book = blockbook.blockbook()
        assert book.get_model_root().GetNumberOfBlocks() == 0
        assert book.get_model_map() == {} and book.model_map_with_block_id is None
        assert book.get_model_root() is book.model

    def test_children_are_indexed_and_named_in_order(self, book):
        root = book.get_model_root()
        assembly = root.GetBlock(0)
        part = assembly.GetBlock(0)
        assert block_name(root, 0) == "A" and block_name(assembly, 0) == "A/P"
        assert [block_name(part, i) for i in range(2)] == ["A/P/B1", "A/P/B2"]
        assert list(book.get_model_map()) == ["A", "A/P", "A/P/B1", "A/P/B2"]
        assert book.get_model_map()["A/P"] is part

    def test_parts_may_sit_under_the_root_and_names_may_repeat(self):
        book = blockbook.blockbook()
        first = book.create_part(book.get_model_root(), "Part 1")
        second = book.create_part(book.get_model_root(), "Part 1")
        assert book.get_model_root().GetNumberOfBlocks() == 2
        assert book.get_model_map()["Part 1"] is second and first is not second


class TestMapWithBlockId:
    def test_flat_indices_are_depth_first_preorder(self, book):
        found = book.get_model_map_with_block_id()
        assert {k: v[1] for k, v in found.items()} == {"A/P/B1": 3, "A/P/B2": 4}
        assert found["A/P/B1"][0] is book.get_model_map()["A/P/B1"]

    def test_map_is_kept_and_refreshed_in_place_when_blocks_are_added(self, book):
        first = book.get_model_map_with_block_id()
        assert book.get_model_map_with_block_id() is first
        # A part added to the assembly's first part shifts nothing before it but is itself new;
        # a block inserted earlier in pre-order shifts the later bodies' flat indices.
        book.add_body_to_part(book.get_model_map()["A"], tagged_grid("A/B0"), "A/B0")
        again = book.get_model_map_with_block_id()
        assert again is first
        assert {k: v[1] for k, v in again.items()} == {"A/P/B1": 3, "A/P/B2": 4, "A/B0": 5}

    def test_polydata_and_untagged_grids_are_left_out(self, book):
        part = book.get_model_map()["A/P"]
        book.add_body_to_part(part, vtk.vtkPolyData(), "surface")
        book.add_body_to_part(part, vtk.vtkUnstructuredGrid(), "geometry")
        found = book.get_model_map_with_block_id()
        assert set(found) == {"A/P/B1", "A/P/B2"}
        assert "surface" in book.get_model_map() and "geometry" in book.get_model_map()

    def test_later_grid_with_the_same_path_wins(self, book):
        book.add_body_to_part(book.get_model_map()["A/P"], tagged_grid("A/P/B1"), "again")
        assert book.get_model_map_with_block_id()["A/P/B1"][1] == 5


class TestUnits:
    @pytest.mark.parametrize("label, unit", [("mm-t-s-N-K", "mm"), ("in", "in"), ("-kg", "")])
    def test_length_unit_is_the_text_before_the_first_dash(self, label, unit):
        book = blockbook.blockbook()
        book.set_model_units(label)
        assert book.get_model_length_unit() == unit

    def test_setting_units_again_replaces_the_label(self):
        book = blockbook.blockbook()
        book.set_model_units("m-kg-s-N-K")
        book.set_model_units("ft-lbm-s-lbf-R")
        fd = book.get_model_root().GetFieldData()
        assert fd.GetNumberOfArrays() == 1
        assert fd.GetAbstractArray("unit_system_label").GetValue(0) == "ft-lbm-s-lbf-R"

    def test_length_unit_before_units_are_set(self):
        with pytest.raises(KeyError, match="no \"unit_system_label\""):
            blockbook.blockbook().get_model_length_unit()


class TestSave:
    @pytest.mark.parametrize("mode, ascii", [(None, False), ("binary", False), ("ascii", True),
                                             ("text", False)])
    def test_data_mode(self, book, tmp_path, mode, ascii):
        path = tmp_path / "model.vtm"
        book.save(str(path)) if mode is None else book.save(str(path), mode)
        piece = next((tmp_path / "model").glob("*.vtu")).read_text(errors="replace")
        assert ('format="ascii"' in piece) == ascii
        reader = vtk.vtkXMLMultiBlockDataReader()
        reader.SetFileName(str(path))
        reader.Update()
        assert reader.GetOutput().GetBlock(0).GetBlock(0).GetNumberOfBlocks() == 2

    def test_unwritable_file_raises(self, book, tmp_path):
        (tmp_path / "plain-file").write_text("")
        with pytest.raises(OSError, match="could not write"):
            book.save(str(tmp_path / "plain-file" / "model.vtm"))


class TestBadInput:
    def test_parents_and_bodies_must_be_vtk_objects_of_the_right_kind(self, book):
        with pytest.raises(TypeError):
            book.create_part(vtk.vtkPolyData(), "P")
        with pytest.raises(TypeError):
            book.create_assembly(None, "A")
        with pytest.raises(TypeError):
            book.add_body_to_part(book.get_model_root(), "not a dataset", "B")
        with pytest.raises(TypeError):
            book.create_part(book.get_model_root(), 5)
        assert book.get_model_root().GetNumberOfBlocks() == 1

    def test_replaced_model_attribute_of_the_wrong_kind(self):
        book = blockbook.blockbook()
        book.model = "nope"
        with pytest.raises(TypeError, match="vtkMultiBlockDataSet"):
            book.set_model_units("m")
