"""cfdsource: each format read with VTK's reader into one dataset with the load fields, where
the solver put them, scaled in float64, labelled for the mapper."""
import pathlib

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import cfdsource
import case_writers as write
from cfdsource import SourceError


def values(source, name, where):
    data = source.GetCellData() if where == "cell" else source.GetPointData()
    other = source.GetPointData() if where == "cell" else source.GetCellData()
    assert other.GetArray(name) is None, f"{name} is also {where} data's other side"
    array = data.GetArray(name)
    assert array is not None and array.GetDataType() == vtk.VTK_DOUBLE
    return ns.vtk_to_numpy(array)


# Files other programs wrote (see data/README.md): OpenFOAM's cavity tutorial exported by its
# VTK and Fluent converters, and code_saturne's EnSight Gold output.
DATA = pathlib.Path(__file__).parent / "data"
FLUENT_MESH = DATA / "cavity_fluent" / "cavity.msh"
VTK_SERIES = DATA / "cavity_vtk" / "cavity.vtm.series"


def label(source, name):
    return source.GetFieldData().GetAbstractArray(name).GetValue(0)


@pytest.fixture(scope="module")
def cases(tmp_path_factory):
    root = tmp_path_factory.mktemp("cases")
    return {"openfoam": write.openfoam_case(root / "foam"), "ensight": write.ensight_case(root / "ens"),
            "fluent": write.fluent_case(root / "fluent"), "cgns": write.cgns_file(root / "cgns"),
            "tecplot": write.tecplot_file(root / "tecplot"), "root": root}


class TestOpenFOAM:
    def test_wall_patches_at_the_latest_time_keep_their_face_values(self, cases):
        source = cfdsource.read_source(cases["openfoam"], {"Pressure": "p", "Temperature": "T"})
        # hot (a wall by its group) then walls (type wall): 2 + 6 faces; inlet and outlet left out.
        assert source.IsA("vtkPolyData") and source.GetNumberOfCells() == 8
        assert values(source, "Pressure", "cell").tolist() == [20, 40] + [10] * 6
        assert values(source, "Temperature", "cell").tolist() == [302] * 8
        assert source.GetPointData().GetNumberOfArrays() == 0  # nothing else passes
        assert label(source, "current_units_length") == "m"
        assert label(source, "units_pressure") == "Pa" and label(source, "units_temperature") == "K"

    def test_a_time_patches_and_the_controldict_path(self, cases):
        source = cfdsource.read_source(cases["openfoam"] / "system" / "controlDict", "p",
                                       patches=["hot"], time=0)
        assert values(source, "p", "cell").tolist() == [10, 20]
        marker = cfdsource.read_source(cases["openfoam"] / "case.foam", "p", patches="hot")
        assert values(marker, "p", "cell").tolist() == [20, 40]
        volume = cfdsource.read_source(cases["openfoam"], "p", patches="internalMesh")
        assert volume.IsA("vtkUnstructuredGrid") and volume.GetNumberOfCells() == 2

    def test_the_internal_mesh_brings_point_values_that_reach_its_patches_values(self, cases):
        volume = cfdsource.read_source(cases["openfoam"], "p", patches="internalMesh")
        assert ns.vtk_to_numpy(volume.GetCellData().GetArray("p")).tolist() == [20, 40]
        assert label(volume, "held_p") == "cell"
        at = ns.vtk_to_numpy(volume.GetPoints().GetData())
        points = ns.vtk_to_numpy(volume.GetPointData().GetArray("p"))
        # The floor's points lie on walls (10), inlet and outlet (0): values no cell holds.
        assert points[at[:, 2] == 0].tolist() == pytest.approx([20 / 3, 10, 20 / 3] * 2)

    def test_describe_lists_patches_times_and_arrays(self, cases):
        seen = cfdsource.describe(cases["openfoam"])
        assert seen["parts"] == {"inlet": "surface", "outlet": "surface", "hot": "surface",
                                 "walls": "surface", "internalMesh": "volume"}
        assert seen["default"] == ["hot", "walls"] and seen["times"] == [0.0, 0.5]
        assert seen["cell_arrays"] == ["T", "U", "p"] and seen["time"] == 0.5

    @pytest.mark.parametrize("kwargs, message", [
        (dict(time=0.25), r"no time 0.25 \(the times there are: 0, 0.5\)"),
        (dict(patches=["roof"]), r"no patch 'roof' \(the patches there are: inlet, outlet, hot, "
                                 r"walls, internalMesh\)"),
        (dict(fields={"Pressure": "pressure"}), r"no array 'pressure' on hot \(point arrays: "
                                                r"none; cell arrays: T, U, p\)"),
        (dict(fields="U"), r"array 'U' of hot has 3 components"),
    ])
    def test_errors_name_what_is_missing_and_list_what_there_is(self, cases, kwargs, message):
        with pytest.raises(SourceError, match=message):
            cfdsource.read_source(cases["openfoam"], **{"fields": "p", **kwargs})


class TestEnSight:
    def test_surface_parts_by_default_with_node_and_element_variables(self, cases):
        source = cfdsource.read_source(cases["ensight"], {"Pressure": "p", "Temperature": "T"},
                                       time=0)
        assert source.IsA("vtkPolyData") and source.GetNumberOfCells() == 1  # not the volume
        assert values(source, "Pressure", "cell").tolist() == [7]
        assert sorted(values(source, "Temperature", "point")) == [300, 300, 301, 301]

    def test_latest_time_and_a_volume_part_by_name(self, cases):
        source = cfdsource.read_source(cases["ensight"], "p", patches=["fluid", "wall"])
        assert source.IsA("vtkUnstructuredGrid") and source.GetNumberOfCells() == 2
        assert values(source, "p", "cell").tolist() == [80, 70]
        with pytest.raises(SourceError, match=r"no part 'roof' \(the parts there are: wall, "
                                              r"fluid\)"):
            cfdsource.read_source(cases["ensight"], "p", patches=["roof"])


    def test_part_names_padded_with_blanks_are_found_and_listed_trimmed(self, tmp_path):
        padded = write.ensight_case(tmp_path, pad=True)
        assert list(cfdsource.describe(padded)["parts"]) == ["wall", "fluid"]
        assert values(cfdsource.read_source(padded, "p", patches="wall"), "p", "cell") == [70]
        # As code_saturne writes its binary parts: "Boundary" and 71 blanks.
        saturne = DATA / "saturne" / "RESULTS_BOUNDARY.case"
        assert cfdsource.describe(saturne)["parts"] == {"Boundary": "surface"}
        assert len(values(cfdsource.read_source(saturne, "Yplus", patches="Boundary"), "Yplus",
                          "cell")) == 48


class TestOtherSolverFormats:
    def test_fluent_cell_zone_values(self, cases):
        source = cfdsource.read_source(cases["fluent"], {"Pressure": "PRESSURE",
                                                         "Temperature": "TEMPERATURE"})
        assert source.IsA("vtkUnstructuredGrid") and source.GetBounds() == (0, 1, 0, 1, 0, 1)
        assert values(source, "Pressure", "cell").tolist() == [101325.5]
        assert values(source, "Temperature", "cell").tolist() == [300.25]

    def test_cgns_zone_with_cell_centre_and_vertex_solutions(self, cases):
        source = cfdsource.read_source(cases["cgns"], {"Pressure": "Pressure",
                                                       "Temperature": "Temperature"})
        assert source.IsA("vtkUnstructuredGrid") and source.GetNumberOfCells() == 1
        assert values(source, "Pressure", "cell").tolist() == [5.5]
        x = ns.vtk_to_numpy(source.GetPoints().GetData())[:, 0]
        assert values(source, "Temperature", "point") == pytest.approx(300 + x)

    def test_cgns_with_iterative_data_reads_the_latest_or_the_chosen_time(self, tmp_path):
        path = write.cgns_file(tmp_path, times=[0.1, 0.2])
        seen = cfdsource.describe(path)
        assert seen["times"] == pytest.approx([0.1, 0.2]) and seen["time"] == pytest.approx(0.2)
        assert values(cfdsource.read_source(path, "Pressure"), "Pressure", "cell") == [5.7]
        earlier = cfdsource.read_source(path, "Pressure", time=0.1)
        assert values(earlier, "Pressure", "cell") == [5.6]

    def test_tecplot_zones_point_and_cell_centred(self, cases):
        wall = cfdsource.read_source(cases["tecplot"], "P", patches=["wall"])
        assert wall.IsA("vtkPolyData") and values(wall, "P", "point").tolist() == [1, 2, 3, 4]
        floor = cfdsource.read_source(cases["tecplot"], "T", patches=["floor"])
        assert values(floor, "T", "cell").tolist() == [8]
        box = cfdsource.read_source(cases["tecplot"], "P", patches=["box"])
        assert box.IsA("vtkUnstructuredGrid") and box.GetNumberOfCells() == 1
        # By default both surface zones, whose P disagree in where they are held.
        with pytest.raises(SourceError, match="'P' is point data on wall but cell data on floor"):
            cfdsource.read_source(cases["tecplot"], "P")


class TestVTKFiles:
    def test_legacy_vtk_keeps_its_cell_field(self, tmp_path):
        source = cfdsource.read_source(write.legacy_vtk(tmp_path), {"Pressure": "p"})
        assert values(source, "Pressure", "cell").tolist() == [3, 4]

    def test_multiblock_merges_surface_blocks_or_the_ones_named(self, tmp_path):
        path = write.write_xml(tmp_path / "parts.vtm", write.multiblock({
            "lower": write.square(0.0, (1, 2)), "upper": write.square(1.0, (3, 4)),
            "fluid": write.cube_grid(9.0)}))
        merged = cfdsource.read_source(path, "p")
        assert merged.IsA("vtkPolyData") and values(merged, "p", "cell").tolist() == [1, 2, 3, 4]
        mixed = cfdsource.read_source(path, "p", patches=["fluid", "upper"])
        assert mixed.IsA("vtkUnstructuredGrid") and values(mixed, "p", "cell").tolist() == [9, 3, 4]

    def test_a_volume_file_stays_a_volume(self, tmp_path):
        path = write.write_xml(tmp_path / "fluid.vtu", write.cube_grid(9.0))
        source = cfdsource.read_source(path, "p")
        assert source.IsA("vtkUnstructuredGrid") and values(source, "p", "cell").tolist() == [9]

    def test_pvd_reads_the_latest_or_the_chosen_time(self, tmp_path):
        for stamp, value in ((0, 1.0), (2, 5.0)):
            write.write_xml(tmp_path / f"wall_{stamp}.vtp",
                            write.square(values=[value] * 4, where="point", name="p"))
        (tmp_path / "run.pvd").write_text(
            '<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1"><Collection>\n'
            '<DataSet timestep="0" part="0" file="wall_0.vtp"/>\n'
            '<DataSet timestep="2" part="0" file="wall_2.vtp"/>\n</Collection></VTKFile>\n')
        assert set(values(cfdsource.read_source(tmp_path / "run.pvd", "p"), "p", "point")) == {5}
        earlier = cfdsource.read_source(tmp_path / "run.pvd", "p", time=0)
        assert set(values(earlier, "p", "point")) == {1}
        with pytest.raises(SourceError, match=r"no time 1 \(the times there are: 0, 2\)"):
            cfdsource.read_source(tmp_path / "run.pvd", "p", time=1)


class TestFieldValues:
    def test_scale_and_offset_per_field_in_float64(self, cases):
        # Kinematic pressure times a density, plus a reference pressure: exact in float64.
        source = cfdsource.read_source(cases["openfoam"], {"Pressure": "p", "Temperature": "T"},
                                       patches=["hot"], scale={"Pressure": 998.2},
                                       offset={"Pressure": 101325.0, "Temperature": -273.15},
                                       length_unit="mm", field_units={"Temperature": "C"})
        assert values(source, "Pressure", "cell").tolist() == [20 * 998.2 + 101325.0,
                                                                40 * 998.2 + 101325.0]
        assert values(source, "Temperature", "cell").tolist() == [302 - 273.15] * 2
        assert label(source, "current_units_length") == "mm"
        assert label(source, "units_temperature") == "C"

    def test_csv_values_stay_64_bit(self, tmp_path):
        (tmp_path / "cloud.csv").write_text("x,y,z,p\n0,0,0,101325.123456789\n1,0,0,2\n")
        source = cfdsource.read_source(tmp_path / "cloud.csv", {"Pressure": "p"}, offset=1.0)
        assert values(source, "Pressure", "point")[0] == 101326.123456789

    @pytest.mark.parametrize("kwargs, error, message", [
        (dict(scale=2.0, fields=["p", "T"]), SourceError, "scale: 2.0 is one number for 2 fields"),
        (dict(offset={"Temperature": 1.0}), SourceError, r"offset: no field 'Temperature' "
                                                         r"\(fields: p\)"),
        (dict(scale={"p": float("nan")}), SourceError, "scale: p = nan is not a finite number"),
        (dict(path="missing.vtp"), FileNotFoundError, "missing.vtp: no such file"),
        (dict(path="notes.txt"), SourceError, "unknown source format '.txt'"),
        (dict(path="bad.vtu"), SourceError, "bad.vtu: vtkXMLUnstructuredGridReader could not "
                                            "read it"),
        (dict(time=1.0, path="fluid.vtu"), SourceError, "fluid.vtu: a single-time source"),
    ])
    def test_bad_requests_raise_naming_the_file_or_option(self, tmp_path, kwargs, error, message):
        (tmp_path / "notes.txt").write_text("not a source\n")
        (tmp_path / "bad.vtu").write_text("<VTKFile type='UnstructuredGrid'>\n")
        write.write_xml(tmp_path / "fluid.vtu", write.cube_grid(9.0))
        path = tmp_path / kwargs.pop("path", "fluid.vtu")
        with pytest.raises(error, match=message):
            cfdsource.read_source(path, **{"fields": "p", **kwargs})


def wall_values_and_normals(source, name):
    normals = vtk.vtkPolyDataNormals()
    normals.SetInputData(source)
    normals.ComputeCellNormalsOn()
    normals.SetAutoOrientNormals(False)
    normals.SetConsistency(False)
    normals.SetSplitting(False)
    normals.Update()
    return (values(source, name, "cell"),
            ns.vtk_to_numpy(normals.GetOutput().GetCellData().GetNormals()))


class TestFilesOtherProgramsWrote:
    def test_fluent_mesh_and_data_give_the_walls_face_values_as_the_vtk_export_does(self):
        seen = cfdsource.describe(FLUENT_MESH)
        assert seen["parts"] == {"movingWall": "surface", "fixedWalls": "surface",
                                 "frontAndBack": "surface"}
        assert seen["default"] == ["movingWall", "fixedWalls"]
        assert seen["times"] == [0, 0.1, 0.2] and seen["cell_arrays"] == ["PRESSURE", "MOMENTUM"]
        for time in (0.1, None):
            fluent = cfdsource.read_source(FLUENT_MESH, {"Pressure": "PRESSURE"}, time=time)
            exported = cfdsource.read_source(VTK_SERIES, {"Pressure": "p"}, time=time, patches=[
                "boundary/movingWall", "boundary/fixedWalls"])
            assert fluent.GetNumberOfCells() == 16
            ours, theirs = (wall_values_and_normals(s, "Pressure") for s in (fluent, exported))
            assert ours[0] == pytest.approx(theirs[0], rel=1e-6, abs=1e-12)
            assert ours[1] == pytest.approx(theirs[1], abs=1e-6)  # out of the fluid, both

    def test_saturne_cgns_times_hold_its_ensight_outputs_values(self):
        cgns, ensight = DATA / "saturne" / "cgns.cgns", DATA / "saturne" / "RESULTS_FLUID_DOMAIN.case"
        assert cfdsource.describe(cgns)["times"] == pytest.approx([0.05, 0.1])
        for time in (0.05, None):
            ours, theirs = (values(cfdsource.read_source(path, "Pressure", time=time), "Pressure",
                                   "cell") for path in (cgns, ensight))
            assert ours == pytest.approx(theirs, rel=1e-6) and ours.ptp() > 0

    def test_meshio_tecplot_volume_holds_the_vtk_exports_cell_values(self):
        tecplot = cfdsource.read_source(DATA / "meshio" / "cavity.dat", "p")
        exported = cfdsource.read_source(VTK_SERIES, "p", patches="internal")
        assert tecplot.IsA("vtkUnstructuredGrid") and tecplot.GetNumberOfCells() == 16
        assert values(tecplot, "p", "cell") == pytest.approx(values(exported, "p", "cell"))

    def test_series_index_reads_the_latest_or_the_chosen_time_under_stable_names(self):
        seen = cfdsource.describe(VTK_SERIES)
        assert seen["times"] == pytest.approx([0, 0.1, 0.2]) and seen["time"] == pytest.approx(0.2)
        assert seen["default"] == ["boundary/movingWall", "boundary/fixedWalls"]
        latest = cfdsource.read_source(VTK_SERIES, "p", patches="boundary/movingWall")
        earlier = cfdsource.read_source(VTK_SERIES, "p", patches="boundary/movingWall", time=0.1)
        assert values(latest, "p", "cell")[0] == pytest.approx(-0.594043, rel=1e-6)
        assert values(earlier, "p", "cell")[0] != values(latest, "p", "cell")[0]


class TestFaceOrPointValues:
    def test_face_values_by_default_point_values_when_asked_and_the_choice_labelled(self):
        faces = cfdsource.read_source(VTK_SERIES, {"Pressure": "p"}, patches="boundary/movingWall")
        assert len(values(faces, "Pressure", "cell")) == 4
        assert label(faces, "held_Pressure") == "cell (both)"
        points = cfdsource.read_source(VTK_SERIES, {"Pressure": "p@point"},
                                       patches="boundary/movingWall")
        assert len(values(points, "Pressure", "point")) == 10
        named = cfdsource.read_source(VTK_SERIES, ["p@point"], patches="boundary/movingWall")
        assert label(named, "held_p") == "point (both)"

    def test_a_location_the_array_is_not_held_at_is_refused_naming_both(self, tmp_path):
        path = write.write_xml(tmp_path / "wall.vtp", write.square(values=(1, 2, 3, 4), where="point"))
        with pytest.raises(SourceError, match=r"array 'p' asked as cell data is point data only; "
                                              r"ask for p@point"):
            cfdsource.read_source(path, "p@cell")


class TestDamagedFluentFiles:
    """Each count, index or section of the mesh or data file checked before it is used."""

    @pytest.mark.parametrize("file, old, new, message", [
        ("cavity.msh", "(10 (1 1 32 1 3)", "(10 (1 1 5f5e0ff 1 3)",
         r"cavity.msh: line 11, section \(10 \(1 1 5f5e0ff 1 3\)\): 150 numbers where its "
         r"header makes 299999997"),
        ("cavity.msh", "(13 (a 19 1c 3 0)", "(13 (a 19 ffffffff 3 0)",
         r"line 92, .*: 4294967271 faces cannot fit in its 28 numbers"),
        ("cavity.msh", "    4 16 2f 2e 15 d 0", "    4 16 2f 2e 99 d 0",
         r"line 92, .*: node 99 is not one of the mesh's 32 nodes"),
        ("cavity.msh", "    4 16 2f 2e 15 d 0", "    9 16 2f 2e 15 d 0",
         r"line 92, .*: face \d of 4: a count of \d+ nodes that does not fit"),
        ("cavity.msh", "(12 (1 1 10 1 0)(", "(12 (1 1 10 1 0)(((",
         r"cavity.msh: line 149: a section that is never closed"),
        ("cavity.msh", "(10 (1 1 32 1 3)", "(2010 (1 1 32 1 3)",
         r"cavity.msh: line 11: a binary section; only ASCII Fluent files are read"),
        ("cavity0.2.dat", "(300 (1 10 1 0 0 17 20)", "(300 (1 10 1 0 0 17 21)",
         r"cavity0.2.dat: line 22, .*: 4 numbers where its header makes 5"),
        ("cavity0.2.dat", "(300 (1 10 1 0 0 17 20)(\n-0.594043\n-0.117693\n",
         "(300 (1 10 1 0 0 17 18)(\n",
         r"cavity0.2.dat: line 22, .*: 2 values of PRESSURE for the 4 faces of movingWall"),
    ])
    def test_a_damaged_count_or_index_names_the_file_line_and_section(self, tmp_path, file, old,
                                                                      new, message):
        for original in FLUENT_MESH.parent.iterdir():
            text = original.read_text()
            (tmp_path / original.name).write_text(text.replace(old, new, 1)
                                                  if original.name == file else text)
        assert old in (FLUENT_MESH.parent / file).read_text()
        with pytest.raises(SourceError, match=message):
            cfdsource.read_source(tmp_path / "cavity.msh", "PRESSURE")
def by_centre(source, name):
    """(face centres, values) in centre order: the same faces read in any order compare equal."""
    centres = vtk.vtkCellCenters()
    centres.SetInputData(source)
    centres.Update()
    xyz = ns.vtk_to_numpy(centres.GetOutput().GetPoints().GetData())
    order = np.lexsort(xyz.T[::-1])
    return xyz[order].tolist(), values(source, name, "cell")[order].tolist()


class TestOpenFOAMAsSolversLeaveIt:
    def test_a_decomposed_case_reads_the_processors_latest_time_as_reconstructed(self, tmp_path):
        whole = cfdsource.read_source(write.openfoam_case(tmp_path / "whole"), "p")
        split = cfdsource.read_source(write.decomposed_case(tmp_path / "split"), "p")
        assert by_centre(split, "p") == by_centre(whole, "p")  # walls only, at 0.5
        # The processors' pieces joined where they meet, so that point averages see both sides.
        assert split.GetNumberOfPoints() == whole.GetNumberOfPoints()
        assert label(split, "source_layout") == "decomposed (2 processors)"
        assert label(split, "source_time") == "0.5" and label(whole, "source_layout") == "serial"

    def test_the_latest_of_top_level_and_processors_the_processors_where_both_hold_it(
            self, tmp_path):
        case = write.decomposed_case(tmp_path / "case")
        write.openfoam_case(case, ((2, 7.0),))  # reconstructed later on the top level
        seen = cfdsource.describe(case)
        assert seen["times"] == [0, 0.5, 2] and seen["layout"] == "serial"
        assert values(cfdsource.read_source(case, "p", patches="hot"), "p", "cell").tolist() == [
            70, 140]
        first = cfdsource.read_source(case, "p", patches="hot", time=0)
        assert label(first, "source_layout") == "decomposed (2 processors)"

    def test_an_empty_latest_time_folder_is_passed_over_and_named_when_chosen(self, tmp_path):
        case = write.openfoam_case(tmp_path / "case")
        (case / "0.7").mkdir()
        assert cfdsource.describe(case / "case.foam")["time"] == 0.5
        with pytest.raises(SourceError, match=r"no array 'p' on hot \(point arrays: none; cell "
                                              r"arrays: none\) at time 0.7 \(p is at times 0, "
                                              r"0.5\)"):
            cfdsource.read_source(case, "p", time=0.7)


class TestOpenFOAMRegions:
    @pytest.fixture(scope="class")
    def case(self, tmp_path_factory):
        return write.multi_region_case(tmp_path_factory.mktemp("cht") / "case")

    def test_a_region_is_read_by_name(self, case):
        solid = cfdsource.read_source(case, {"Temperature": "T"}, region="solid")
        assert values(solid, "Temperature", "cell").tolist() == [304] * 8
        assert label(solid, "source_region") == "solid"

    def test_describe_lists_the_regions_their_patches_and_fields(self, case):
        regions = cfdsource.describe(case)["regions"]
        assert list(regions) == ["fluid", "solid"]
        assert regions["solid"]["walls"] == ["hot", "walls"]
        assert regions["solid"]["fields"] == ["T", "U", "p"]

    @pytest.mark.parametrize("region, message", [
        (None, r"case: a multi-region case; choose a region \(the regions there are: fluid, "
               r"solid\)"),
        ("heater", r"no region 'heater' \(the regions there are: fluid, solid\)")])
    def test_errors_name_the_regions_there_are(self, case, region, message):
        with pytest.raises(SourceError, match=message):
            cfdsource.read_source(case, "T", region=region)
