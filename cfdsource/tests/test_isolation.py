"""cfdsource reads in a child process: what comes back is what the reading made, and a reader
that crashes, hangs or allocates without end becomes a SourceError while the caller goes on."""
import gc

import numpy as np
import pytest
from vtk.util import numpy_support as ns

import cfdsource
import case_writers as write
from cfdsource import SourceError, isolation


def raw(array):
    return array.GetClassName(), ns.vtk_to_numpy(array).tolist()


def cell_arrays(dataset):
    if dataset.IsA("vtkPolyData"):
        cells = [getattr(dataset, "Get" + kind)() for kind in ("Verts", "Lines", "Polys", "Strips")]
        return [raw(a) for c in cells for a in (c.GetOffsetsArray(), c.GetConnectivityArray())]
    cells = dataset.GetCells()
    return [raw(a) for a in (cells.GetOffsetsArray(), cells.GetConnectivityArray(),
                             dataset.GetCellTypesArray())]


def arrays(holder):
    found = []
    for i in range(holder.GetNumberOfArrays()):
        a = holder.GetAbstractArray(i)
        found.append((a.GetClassName(), a.GetName(), a.GetNumberOfComponents(),
                      [a.GetVariantValue(n).ToString() for n in range(a.GetNumberOfValues())]))
    return found


def same_dataset(ours, theirs):
    """Class, points, cells and every array alike, value for value and type for type."""
    assert ours.GetClassName() == theirs.GetClassName()
    assert raw(ours.GetPoints().GetData()) == raw(theirs.GetPoints().GetData())
    assert cell_arrays(ours) == cell_arrays(theirs)
    for holder in ("GetPointData", "GetCellData", "GetFieldData"):
        assert arrays(getattr(ours, holder)()) == arrays(getattr(theirs, holder)())


@pytest.fixture
def interpreter(tmp_path, monkeypatch):
    """Sets KELM_PYTHON to a script of the given body (a stand-in for a reader that misbehaves)."""
    def use(body):
        script = tmp_path / "python"
        script.write_text("#!/bin/sh\n" + body + "\n")
        script.chmod(0o755)
        monkeypatch.setenv(isolation.INTERPRETER_VARIABLE, str(script))
        return script
    return use


class TestHandBack:
    def test_a_surface_and_a_volume_come_back_as_the_reading_made_them(self, tmp_path):
        case = write.ensight_case(tmp_path / "ens")
        for options in ({"fields": {"Pressure": "p"}, "patches": ["wall"], "time": 0.0},
                        {"fields": "T", "patches": ["fluid", "wall"], "field_units": {}}):
            same_dataset(cfdsource.read_source(case, **options),
                         cfdsource._read_source_here(case, **options))

    def test_what_comes_back_owns_its_memory(self, tmp_path):
        wall = write.plane((0, 0, 0), (1, 0, 0), (0, 1, 0), (40, 40))
        wall.GetCellData().AddArray(ns.numpy_to_vtk(np.arange(1600.0), deep=1))
        wall.GetCellData().GetArray(0).SetName("p")
        path = write.write_xml(tmp_path / "wall.vtp", wall)
        handed = cfdsource.read_source(path, "p")
        gc.collect()
        churn = [np.full(n % 97 + 1, -1, np.int64) for n in range(200000)]  # reuses freed memory
        same_dataset(handed, cfdsource._read_source_here(path, "p"))
        del churn

    def test_describe_and_errors_keep_their_types_and_messages(self, tmp_path):
        case = write.fluent_case(tmp_path / "fluent")
        assert cfdsource.describe(case) == cfdsource._describe_here(case)
        with pytest.raises(TypeError, match="unexpected keyword argument 'colour'"):
            cfdsource.read_source(case, colour="red")
        with pytest.raises(SourceError, match=r"box.cas: no array 'P' \(point arrays: none"):
            cfdsource.read_source(case, "P")


class TestMisbehavingReaders:
    def test_a_crash_names_the_reader_the_file_and_the_signal(self, tmp_path, interpreter,
                                                              monkeypatch):
        case = write.ensight_case(tmp_path / "ens")
        interpreter("kill -SEGV $$")
        with pytest.raises(SourceError, match=r"the EnSight reader crashed on .*model.case "
                                              r"\(signal 11\): the file is damaged"):
            cfdsource.read_source(case, "p")
        monkeypatch.delenv(isolation.INTERPRETER_VARIABLE)
        assert cfdsource.read_source(case, "p").GetNumberOfCells() == 1  # the caller goes on

    def test_a_legacy_file_that_crashes_vtks_reader(self, tmp_path):
        # Its version line altered: VTK 9.1's reader then reads the cells past their end.
        path = write.legacy_vtk(tmp_path)
        path.write_bytes(path.read_bytes().replace(b"Version 5.1", b"Version 2.0"))
        with pytest.raises(SourceError, match=r"the VTK reader crashed on .*wall.vtk \(signal"):
            cfdsource.read_source(path, "p")

    def test_a_reader_past_its_time_is_stopped(self, tmp_path, interpreter):
        case = write.fluent_case(tmp_path / "fluent")
        interpreter("exec sleep 60")
        with pytest.raises(SourceError, match=r"the Fluent reader did not finish .*box.cas within "
                                              r"0.5 s .*--read-timeout"):
            cfdsource.read_source(case, "PRESSURE", timeout=0.5)

    def test_a_reader_past_its_memory_is_stopped(self, tmp_path, interpreter):
        path = write.tecplot_file(tmp_path / "tec")
        interpreter("exec /usr/bin/python3 -c 'import time; b = b\"x\" * (300 << 20); "
                    "time.sleep(60)'")
        with pytest.raises(SourceError, match=r"the Tecplot reader held more than 100 MiB "
                                              r"reading .*wall.dat .*--read-memory"):
            cfdsource.read_source(path, "P", max_memory="100M", timeout=30)

    def test_the_interpreter_named_in_the_environment_runs_the_reading(self, tmp_path,
                                                                       interpreter):
        path = write.tecplot_file(tmp_path / "tec")
        interpreter(f"touch {tmp_path / 'ran'}\nexec /usr/bin/python3 \"$@\"")
        assert cfdsource.read_source(path, "P", patches=["wall"]).GetNumberOfPoints() == 4
        assert (tmp_path / "ran").exists()

    def test_a_missing_interpreter_says_how_to_name_one(self, tmp_path, monkeypatch):
        monkeypatch.setenv(isolation.INTERPRETER_VARIABLE, str(tmp_path / "none"))
        with pytest.raises(OSError, match="cannot start the reading process .*set KELM_PYTHON"):
            cfdsource.describe(tmp_path / "x.vtu")


@pytest.mark.parametrize("given, size", [(1000, 1000), ("512M", 512 << 20), ("1.5GiB", 3 << 29),
                                         ("8g", 8 << 30), ("-1", None), ("lots", None)])
def test_memory_sizes(given, size):
    if size is None:
        with pytest.raises(ValueError, match=f"max_memory: {given!r} is not a size"):
            isolation.memory_size(given)
    else:
        assert isolation.memory_size(given) == size
