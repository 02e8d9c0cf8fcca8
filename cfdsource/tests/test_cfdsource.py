"""cfdsource: each format read with VTK's reader into one dataset with the load fields, where
the solver put them, scaled in float64, labelled for the mapper."""
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
