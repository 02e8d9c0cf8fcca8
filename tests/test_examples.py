"""The example host scripts run end to end against the stand-in host."""
import subprocess
import sys
from pathlib import Path

import vtk

ROOT = Path(__file__).resolve().parents[1]


def run_example(name, *args):
    return subprocess.run([sys.executable, str(ROOT / "examples" / name), *map(str, args)],
                          capture_output=True, text=True, check=True).stdout


def test_export_sample_model_writes_a_readable_multiblock(tmp_path):
    out = run_example("export_sample_model.py", tmp_path)
    assert "Skipping PointMesh" in out and "4 mesh bodies" in out
    assert "Sample/Housing/Insert/Insert mesh: vtkUnstructuredGrid, 27 points, 6 cells" in out
    reader = vtk.vtkXMLMultiBlockDataReader()
    reader.SetFileName(str(tmp_path / "model.vtm"))
    reader.Update()
    housing = reader.GetOutput().GetBlock(0).GetBlock(1)
    block = housing.GetBlock(0).GetBlock(0)
    assert block.GetCellType(2) == vtk.VTK_QUADRATIC_HEXAHEDRON
    assert block.GetPointData().GetArray("Node ID").GetDataType() == vtk.VTK_UNSIGNED_INT
