"""cfdsource on damaged files: small files of every format the reading layer hands to a VTK
reader, written by the tests' own writers, each with one thing changed (a count or a number, a
line dropped or doubled, a byte, the end cut off). Every read must give a dataset, a SourceError
or FileNotFoundError, and the test process must live through all of them: a reader that crashes,
hangs or allocates without end does so in its child process only. The summary counts the
readings stopped that way, per format.

Files per format: 8 in the ci profile, 1,000 in the long one (`make fuzz`); KELM_FUZZ_FILES
sets another number.
"""
import os
import re
import shutil
import sys
import tempfile
from pathlib import Path

import pytest
from hypothesis import given, settings, strategies as st

import cfdsource
from fuzzcase import STOPPED, record

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "cfdsource" / "tests"))
import case_writers as write  # noqa: E402  (the reading layer's own test writers)

LONG = os.environ.get("KELM_FUZZ") == "long"
FILES = settings(max_examples=int(os.environ.get("KELM_FUZZ_FILES", 1000 if LONG else 8)))
LIMITS = {"timeout": 5.0, "max_memory": "512M"}  # a reading of these small files needs 0.1 s
pytestmark = pytest.mark.timeout(4 * 3600 if LONG else 600)
NUMBER = re.compile(rb"-?\d+(?:\.\d+)?(?:[eE][-+]?\d+)?")
STRANGE = [b"0", b"-1", b"1", b"2", b"99999999", b"2147483648", b"-2147483649", b"1e308", b"nan",
           b"3.5", b"x"]


def pvd(folder):
    write.write_xml(folder / "wall_0.vtp", write.square(values=[1.0] * 4, where="point"))
    (folder / "run.pvd").write_text(
        '<?xml version="1.0"?>\n<VTKFile type="Collection" version="0.1"><Collection>\n'
        '<DataSet timestep="0" part="0" file="wall_0.vtp"/>\n</Collection></VTKFile>\n')
    return folder / "run.pvd"


DATA = Path(__file__).resolve().parents[1] / "cfdsource" / "tests" / "data"


def copied(name, file):
    """A writer that copies a checked-in folder of another program's files."""
    def writer(folder):
        shutil.copytree(DATA / name, folder, dirs_exist_ok=True)
        return folder / file
    return writer


# format: (writer of the pristine case into a folder, returning what to read; the reading)
FORMATS = {
    "EnSight": (write.ensight_case, {"fields": "p"}),
    "Fluent": (write.fluent_case, {"fields": "PRESSURE"}),
    "Tecplot": (write.tecplot_file, {"fields": "P", "patches": ["wall"]}),
    "OpenFOAM": (write.openfoam_case, {"fields": "p"}),
    "legacy VTK": (write.legacy_vtk, {"fields": "p"}),
    "VTK XML": (lambda f: write.write_xml(f / "fluid.vtu", write.cube_grid()), {"fields": "p"}),
    "CGNS": (write.cgns_file, {"fields": "Pressure"}),
    ".pvd": (pvd, {"fields": "p"}),
    "Fluent .msh": (copied("cavity_fluent", "cavity.msh"), {"fields": "PRESSURE"}),
    ".series": (copied("cavity_vtk", "cavity.vtm.series"), {"fields": "p"}),
}


@pytest.fixture(scope="module")
def pristine(tmp_path_factory):
    """format -> (folder, the path to read relative to it, the files in it)."""
    cases = {}
    for name, (writer, _) in FORMATS.items():
        folder = tmp_path_factory.mktemp(re.sub(r"\W", "", name) or "case")
        path = Path(writer(folder))
        cases[name] = (folder, path.relative_to(folder),
                       sorted(p.relative_to(folder) for p in folder.rglob("*") if p.is_file()))
    return cases


def damage(data, content):
    """`content` with one thing changed, drawn."""
    how = data.draw(st.sampled_from(["number", "line", "byte", "truncate"]), label="how")
    numbers = list(NUMBER.finditer(content))
    if how == "number" and numbers:
        found = data.draw(st.sampled_from(numbers), label="number")
        value = data.draw(st.sampled_from(STRANGE) | st.integers(-10, 10**6).map(
            lambda n: str(n).encode()), label="value")
        return content[:found.start()] + value + content[found.end():]
    lines = content.split(b"\n")
    if how == "line" and len(lines) > 1:
        at = data.draw(st.integers(0, len(lines) - 1), label="line")
        copies = data.draw(st.sampled_from([0, 2]), label="copies")
        return b"\n".join(lines[:at] + [lines[at]] * copies + lines[at + 1:])
    if not content:
        return b"\0"
    at = data.draw(st.integers(0, len(content) - 1), label="at")
    if how == "truncate":
        return content[:at]
    return content[:at] + bytes([data.draw(st.integers(0, 255), label="byte")]) + \
        content[at + 1:]


def read_damaged(name, pristine, data):
    folder, target, files = pristine[name]
    chosen = data.draw(st.sampled_from(files), label="file")
    with tempfile.TemporaryDirectory() as scratch:
        copy = Path(scratch) / "case"
        shutil.copytree(folder, copy)
        (copy / chosen).write_bytes(damage(data, (copy / chosen).read_bytes()))
        try:
            source = cfdsource.read_source(copy / target, **FORMATS[name][1], **LIMITS)
        except (cfdsource.SourceError, FileNotFoundError) as error:
            record(f"read {name}", True)
            stopped = re.search(r"crashed on|did not finish|held more than", str(error))
            STOPPED[f"{name}: {stopped.group(0) if stopped else 'refused'}"] += 1
            return
    record(f"read {name}", False)
    assert source.IsA("vtkPolyData") or source.IsA("vtkUnstructuredGrid")


class TestDamagedFiles:
    @pytest.mark.parametrize("name", list(FORMATS))
    @FILES
    @given(data=st.data())
    def test_a_damaged_file_gives_a_dataset_or_a_source_error(self, name, pristine, data):
        read_damaged(name, pristine, data)
