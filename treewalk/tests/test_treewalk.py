import subprocess
import sys

import numpy as np
import pytest
import vtk

import kelm
import treewalk
from kelm.mesh import ElementTopology as T


def tree(block, name="root"):
    """(name, [children]) for multiblocks, (name, class, cells) for leaves."""
    if block is None:
        return (name, None)
    if block.IsA("vtkMultiBlockDataSet"):
        return (name, [tree(block.GetBlock(i), block.GetMetaData(i).Get(vtk.vtkCompositeDataSet.NAME()))
                       for i in range(block.GetNumberOfBlocks())])
    return (name, block.GetClassName(), block.GetNumberOfCells())


def names(block):
    return [block.GetMetaData(i).Get(vtk.vtkCompositeDataSet.NAME()) for i in range(block.GetNumberOfBlocks())]


@pytest.fixture
def sample(as_lists):
    return kelm.samples.sample_model(deliver_as_lists=as_lists)


class TestExport:
    def test_whole_model(self, sample, capsys):
        root = treewalk.create_vtk_dataset_from_kelm_entities([sample])
        assert tree(root) == ("root", [("Sample", [
            ("Sample/Frame", [("Sample/Frame/Beams", "vtkUnstructuredGrid", 3)]),
            ("Sample/Housing", [
                ("Sample/Housing/Block", [("Sample/Housing/Block/Block mesh", "vtkUnstructuredGrid", 3)]),
                ("Sample/Housing/Insert", [("Sample/Housing/Insert/Insert mesh", "vtkUnstructuredGrid", 6)]),
                ("Sample/Housing/Cover assembly", [("Sample/Housing/Cover assembly/Cover", [
                    ("Sample/Housing/Cover assembly/Cover/Cover shell", "vtkUnstructuredGrid", 4),
                    ("Cover face", "vtkUnstructuredGrid", 10)])])])])])
        assert capsys.readouterr().out == "Skipping PointMesh\n"
        assert root.GetFieldData().GetAbstractArray("unit_system_label").GetValue(0) == "m-kg-s-N-K"
        assert treewalk.model_root is root and treewalk.blockbook.get_model_root() is root

    def test_units_are_set_before_any_geometry_is_read(self, sample):
        treewalk.create_vtk_dataset_from_kelm_entities([sample])
        in_metres = treewalk.blockbook.get_model_map()["Sample/Housing/Block/Block mesh"].GetBounds()
        kelm.setApplicationUnitSystem("mm-t-s-N-K")
        kelm.call_log.clear()
        root = treewalk.create_vtk_dataset_from_kelm_entities([sample])
        reads = [args for name, args in kelm.call_log if name == "read"]
        assert reads and all(label == "mm-t-s-N-K" for *_, label in reads)
        block = treewalk.blockbook.get_model_map()["Sample/Housing/Block/Block mesh"]
        assert block.GetBounds() == pytest.approx([1000 * b for b in in_metres], rel=1e-6)
        assert treewalk.blockbook.get_model_length_unit() == "mm"
        assert root.GetNumberOfBlocks() == 1

    def test_empty_selection_gives_an_empty_root_with_units(self):
        root = treewalk.create_vtk_dataset_from_kelm_entities([])
        assert root.GetNumberOfBlocks() == 0
        assert treewalk.blockbook.get_model_length_unit() == "m"

    def test_each_export_starts_a_new_model(self, sample):
        first = treewalk.create_vtk_dataset_from_kelm_entities([sample])
        book = treewalk.blockbook
        second = treewalk.create_vtk_dataset_from_kelm_entities(iter([sample.parts[0]]))
        assert second is not first and treewalk.blockbook is not book
        assert first.GetNumberOfBlocks() == 1 and names(second) == ["Sample/Frame"]

    def test_direct_picks_get_a_part_each_named_part_1(self, sample, capsys):
        block = sample.assemblies[0].parts[0].meshes[0]
        geometry = sample.assemblies[0].assemblies[0].parts[0].geometryBodies[0]
        masses = sample.parts[0].meshes[1]
        root = treewalk.create_vtk_dataset_from_kelm_entities([block, geometry, masses])
        assert names(root) == ["Part 1", "Part 1", "Part 1"]
        assert names(root.GetBlock(0)) == ["Sample/Housing/Block/Block mesh"]
        assert names(root.GetBlock(1)) == ["Sample/Housing/Cover assembly/Cover/Cover face"]
        assert root.GetBlock(2).GetNumberOfBlocks() == 0
        assert capsys.readouterr().out == "Skipping PointMesh\n"

    def test_invalid_entities_are_reported_and_skipped(self, sample, capsys):
        root = treewalk.create_vtk_dataset_from_kelm_entities(["junk", 42, sample.parts[0]])
        assert capsys.readouterr().out == ("Not a valid selection....exiting\n" * 2 + "Skipping PointMesh\n")
        assert names(root) == ["Sample/Frame"]

    def test_map_covers_bodies_of_every_picked_entity(self, sample):
        treewalk.create_vtk_dataset_from_kelm_entities([sample.parts[0], sample.assemblies[0]])
        found = treewalk.blockbook.get_model_map_with_block_id()
        assert {k: v[1] for k, v in found.items()} == {
            "Sample/Frame/Beams": 2, "Sample/Housing/Block/Block mesh": 5,
            "Sample/Housing/Insert/Insert mesh": 7,
            "Sample/Housing/Cover assembly/Cover/Cover shell": 10}


class TestTransferOptions:
    @pytest.mark.parametrize("option, expected", [
        ("Both", ["Sample/Housing/Cover assembly/Cover/Cover shell", "Cover face"]),
        ("Mesh", ["Sample/Housing/Cover assembly/Cover/Cover shell"]),
        ("Geometry", ["Cover face"]),
        ("Nothing", []),
    ])
    def test_part_bodies_follow_the_option(self, sample, option, expected):
        treewalk.create_vtk_dataset_from_kelm_entities([])
        cover = sample.assemblies[0].assemblies[0].parts[0]
        root, found = treewalk.process_target(cover, treewalk.model_root, option)
        assert names(root) == [cover.pathName] and names(root.GetBlock(0)) == expected
        assert set(found) == {n for n in expected if n.startswith("Sample/")}

    def test_process_assembly_files_parts_before_sub_assemblies(self, sample):
        treewalk.create_vtk_dataset_from_kelm_entities([])
        treewalk.process_assembly(kelm_assembly=sample.assemblies[0], mblk_parent=treewalk.model_root)
        assert names(treewalk.model_root.GetBlock(0)) == [
            "Sample/Housing/Block", "Sample/Housing/Insert", "Sample/Housing/Cover assembly"]


class TestLoadRegions:
    @pytest.fixture
    def exported(self, sample):
        root = treewalk.create_vtk_dataset_from_kelm_entities([sample])
        return root, treewalk.blockbook.get_model_map_with_block_id()

    @staticmethod
    def leaves(multiblock):
        it = multiblock.NewIterator()
        it.InitTraversal()
        found = []
        while not it.IsDoneWithTraversal():
            found.append(it.GetCurrentDataObject().GetNumberOfCells())
            it.GoToNextItem()
        return sorted(found)

    def test_split_into_load_and_other_blocks(self, exported):
        root, found = exported
        loaded, other = treewalk.extract_load_and_nonload_regions_from_model(
            root, found, {"Sample/Housing/Insert/Insert mesh": None})
        assert self.leaves(loaded) == [6]
        assert self.leaves(other) == [3, 3, 4]

    def test_load_covering_every_block_has_no_other_region(self, exported):
        root, found = exported
        loaded, other = treewalk.extract_load_and_nonload_regions_from_model(root, found, dict(found))
        assert other is None and self.leaves(loaded) == [3, 3, 4, 6]

    def test_empty_load_selects_nothing_then_everything(self, exported):
        root, found = exported
        loaded, other = treewalk.extract_load_and_nonload_regions_from_model(root, found, {})
        assert self.leaves(loaded) == [] and self.leaves(other) == [3, 3, 4, 6]

    def test_unknown_load_body_names_it(self, exported):
        root, found = exported
        with pytest.raises(KeyError, match="load body 'Nope' is not in the model map"):
            treewalk.extract_load_and_nonload_regions_from_model(root, found, {"Nope": 1})

    def test_display_scope_all_adds_the_current_models_meshes(self, sample):
        treewalk.create_vtk_dataset_from_kelm_entities([])
        treewalk.initialize_load_vizualization("Pressure", None, "All", None)
        treewalk.initialize_model(model_display_scope="Region", visualization_target=None)
        root = treewalk.model_root
        assert names(root) == ["Sample"]
        assert "Cover face" not in treewalk.blockbook.get_model_map()  # geometry is not filed
        treewalk.initialize_model("All", None)
        assert names(root) == ["Sample", "Sample"]

    def test_region_scope_with_a_variable_pressure(self, capsys):
        treewalk.initialize_model("Region", kelm.environment.VariablePressure(id=1, pressureValues={}))
        treewalk.initialize_model("Other", kelm.environment.VariablePressure(id=1, pressureValues={}))
        assert capsys.readouterr().out == "Not yet supported\n"

    def test_profiling_of_an_export(self, sample, capsys):
        treewalk.generate_pstats = True
        try:
            treewalk.create_vtk_dataset_from_kelm_entities([sample])
            profiler = treewalk.profiler
            profiler.disable()
        finally:
            treewalk.generate_pstats = False
        capsys.readouterr()
        treewalk.output_pstats(profiler)
        out = capsys.readouterr().out
        assert out.count(" function calls ") == 10


class TestBadInput:
    def test_walkers_before_any_export_raise_name_error(self):
        code = "import treewalk, kelm; treewalk.process_part(kelm.Part('P'), None, 'Both')"
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        assert out.returncode == 1 and "NameError: name 'blockbook' is not defined" in out.stderr

    def test_a_failing_body_stops_the_walk_and_keeps_what_was_filed(self, sample):
        insert = sample.assemblies[0].parts[1].meshes[0]
        insert.override(nodeIDs=np.arange(-1, len(insert.nodeIDs) - 1))
        with pytest.raises(ValueError, match="node ID -1 .* body 'Sample/Housing/Insert/Insert mesh'"):
            treewalk.create_vtk_dataset_from_kelm_entities([sample])
        assert set(treewalk.blockbook.get_model_map()) == {
            "Sample", "Sample/Frame", "Sample/Frame/Beams", "Sample/Housing",
            "Sample/Housing/Block", "Sample/Housing/Block/Block mesh", "Sample/Housing/Insert"}

    def test_entities_must_be_iterable_and_parents_multiblocks(self, sample):
        with pytest.raises(TypeError):
            treewalk.create_vtk_dataset_from_kelm_entities(5)
        with pytest.raises(TypeError):
            treewalk.process_target(sample, "not a block")
        with pytest.raises(TypeError):
            treewalk.extract_load_and_nonload_regions_from_model(vtk.vtkPolyData(), {}, {})

    def test_model_map_values_must_carry_a_flat_index(self, sample):
        root = treewalk.create_vtk_dataset_from_kelm_entities([sample])
        with pytest.raises(ValueError, match="flat index -4 of body 'x'"):
            treewalk.extract_load_and_nonload_regions_from_model(root, {"x": (None, -4)}, {})
        with pytest.raises(TypeError, match=r"model map value of body 'x' must be a \(grid, flat "
                                            r"index\) pair, not int"):
            treewalk.extract_load_and_nonload_regions_from_model(root, {"x": 3}, {})
        with pytest.raises(TypeError, match="flat index of body 'x' must be an integer, not str"):
            treewalk.extract_load_and_nonload_regions_from_model(root, {"x": (None, "3")}, {})
