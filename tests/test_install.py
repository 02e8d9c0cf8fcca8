"""The installed layout: a host that puts PREFIX/modules (and the stand-in PREFIX/host) on its
script path imports every module and draws a picture with the background, with no build tree
anywhere on the path."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

import sceneview

MODULES = ["gridforge", "blockbook", "treewalk", "fieldgraft", "skinfield", "fieldferry",
           "loadscribe", "sceneview", "clickmode"]
BUILD = Path(sceneview.__file__).resolve().parents[1]  # build/lib/sceneview*.so
ROOT = Path(__file__).resolve().parents[1]


@pytest.fixture(scope="module")
def prefix(tmp_path_factory):
    if not (BUILD / "cmake_install.cmake").exists():
        pytest.skip(f"{BUILD} is not a CMake build tree")
    prefix = tmp_path_factory.mktemp("prefix")
    run = subprocess.run(["cmake", "--install", str(BUILD), "--prefix", str(prefix)],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return prefix


def test_layout(prefix):
    modules = sorted(p.name.split(".")[0] for p in (prefix / "modules").glob("*.so"))
    assert modules == sorted(MODULES)
    # The reading layer is pure Python, installed as a package beside the extension modules,
    # without its tests.
    assert (prefix / "modules" / "cfdsource" / "__init__.py").is_file()
    assert not (prefix / "modules" / "cfdsource" / "tests").exists()
    # The interpreter its reading process runs (a host's own executable is no Python).
    assert (prefix / "modules" / "cfdsource" / "interpreter.txt").read_text().strip() == \
        (BUILD / "lib" / "cfdsource" / "interpreter.txt").read_text().strip()
    assert (prefix / "modules" / "res" / "kelm_dark_background.jpg").stat().st_size > 0
    assert sorted(p.name for p in (prefix / "host").iterdir()) == ["gaugeshift", "kelm"]
    assert not list(prefix.rglob("__pycache__")) and not (prefix / "host" / "tests").exists()


def test_fresh_interpreter_imports_every_module_and_draws_with_the_background(prefix, tmp_path):
    picture = tmp_path / "installed.png"
    code = f"""
import sys
checkout = ({str(BUILD)!r}, {str(ROOT)!r})
assert not [p for p in sys.path if p.startswith(checkout)], sys.path
import {", ".join(MODULES)}, cfdsource, vtk
for m in ({", ".join(MODULES)}, cfdsource):
    assert m.__file__.startswith({str(prefix / "modules")!r}), m.__file__
import kelm
assert kelm.__file__.startswith({str(prefix / "host")!r})
kelm.reset()
root = treewalk.create_vtk_dataset_from_kelm_entities([kelm.samples.sample_model()])
view = sceneview.sceneview({{}})
view.display_mesh(root)
view.render_offscreen({str(picture)!r}, 320, 240)
assert view.background_image_data is not None
sys.executable = "/nonexistent/host-program"  # as inside a host: the recorded Python reads
sphere = vtk.vtkSphereSource()
sphere.Update()
p = vtk.vtkDoubleArray()
p.SetName("p")
p.SetNumberOfTuples(sphere.GetOutput().GetNumberOfCells())
p.Fill(1.0)
sphere.GetOutput().GetCellData().AddArray(p)
writer = vtk.vtkXMLPolyDataWriter()
writer.SetFileName("wall.vtp")
writer.SetInputData(sphere.GetOutput())
writer.Write()
assert cfdsource.read_source("wall.vtp", "p").GetNumberOfCells() == p.GetNumberOfTuples()
print("ok")
"""
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "PYTHONHOME")}
    env["PYTHONPATH"] = f"{prefix / 'modules'}:{prefix / 'host'}"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                         cwd=tmp_path, timeout=120)
    assert run.returncode == 0, run.stderr
    assert run.stdout.splitlines()[-1] == "ok"
    assert picture.stat().st_size > 1000
