"""The check of the FE mesh kelm-map reads: an inverted or collapsed element is found in every
element family and named by its ID, a sound or moderately curved one passes, and kelm-map refuses
such a mesh unless told --no-mesh-check."""
import json
import sys
from pathlib import Path

import numpy as np
import pytest
import vtk
from vtk.util import numpy_support as ns

import kelm
import treewalk

ROOT = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "tools"), str(ROOT / "cfdsource" / "tests")]
import mesh_check  # noqa: E402
from case_writers import plane, write_xml  # noqa: E402

T = kelm.mesh.ElementTopology


def bad_ids(topology, move=lambda xyz: xyz):
    """The IDs the check finds in a model of one element (ID 7) of the host's sample zoo, its
    nodes (in VTK order) placed by `move`."""
    kelm.reset()
    xyz, row = kelm.samples.single_element(topology)
    part = kelm.Model("M").add_part("P")
    part.add_mesh("B", np.arange(1, len(xyz) + 1), move(xyz.copy()), {topology: ([7], row)})
    found = mesh_check.bad_elements(treewalk.create_vtk_dataset_from_kelm_entities([part]))
    return [int(i) for i in found.get("M/P/B", [])]


def swapped(i, j):
    def move(xyz):
        xyz[[i, j]] = xyz[[j, i]]
        return xyz
    return move


def curved(corners):
    """Each mid-side node moved off its straight edge, outward, by a sixth of the element."""
    def move(xyz):
        out = xyz[corners:] - xyz[:corners].mean(axis=0)
        xyz[corners:] += out / np.linalg.norm(out, axis=1)[:, None] / 6.0
        return xyz
    return move


class TestElements:
    @pytest.mark.parametrize("topology", list(T))
    def test_a_sound_element_passes(self, topology):
        assert bad_ids(topology) == []

    @pytest.mark.parametrize("topology, corners", [(T.Tria6, 3), (T.Quad8, 4), (T.Tetra10, 4),
                                                   (T.Penta15, 6), (T.Hexa20, 8)])
    def test_a_curved_quadratic_element_passes(self, topology, corners):
        assert bad_ids(topology, curved(corners)) == []

    @pytest.mark.parametrize("topology, move", [
        (T.Tetra10, swapped(8, 9)),  # its last two mid-side nodes swapped
        (T.Hexa20, swapped(16, 17)),
        (T.Hexa8, lambda xyz: xyz * (1, 1, -1)),  # inverted
        (T.Hexa8, lambda xyz: xyz * (1, 1, 0)),  # collapsed: no volume
        (T.Penta6, lambda xyz: xyz * (1, 1, -1)),
        (T.Quad4, swapped(2, 3)),  # twisted: its normal turns over
        (T.Tria6, swapped(4, 5)),
        (T.Tria3, lambda xyz: xyz * (1, 0, 0)),  # no area
        (T.Bar2, lambda xyz: xyz * 0),  # no length
    ], ids=lambda v: getattr(v, "name", ""))
    def test_an_inverted_or_collapsed_element_is_named(self, topology, move):
        assert bad_ids(topology, move) == [7]


def hexahedra_row(path, mirrored, count=13):
    """A row of `count` unit hexahedra along x as a .vtu mesh file, those at the positions
    `mirrored` numbered top face first (inverted)."""
    xyz = kelm.samples.single_element(T.Hexa8)[0]  # in VTK order
    grid = vtk.vtkUnstructuredGrid()
    points = vtk.vtkPoints()
    points.SetData(ns.numpy_to_vtk(np.vstack([xyz + (x, 0, 0) for x in range(count)]), deep=1))
    grid.SetPoints(points)
    for x in range(count):
        grid.InsertNextCell(vtk.VTK_HEXAHEDRON, 8, 8 * x + np.roll(np.arange(8), 4 * (x in mirrored)))
    return write_xml(path, grid)


class TestKelmMap:
    def test_a_mesh_with_inverted_elements_is_refused_unless_told_to_map_it(self, tmp_path):
        pytest.importorskip("meshio")
        from test_demo_and_cli import kelm_map
        mesh = hexahedra_row(tmp_path / "row.vtu", mirrored=range(1, 13))
        wall = plane((0, 0, 0), (13, 0, 0), (0, 1, 0), (13, 1))
        pressure = ns.numpy_to_vtk(np.full(wall.GetNumberOfCells(), 100.0), deep=1)
        pressure.SetName("Pressure")
        wall.GetCellData().AddArray(pressure)
        common = [mesh, write_xml(tmp_path / "wall.vtp", wall), "--tolerance", "none",
                  "--no-pictures", "--quiet"]
        refused = kelm_map(*common, "--out", tmp_path / "refused")
        assert refused.returncode == 1
        error = refused.stderr.strip().splitlines()[-1]
        assert error.startswith(f"kelm-map: error: {mesh}: inverted or collapsed elements")
        assert ("in body 'row/Part 1/row': elements 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, ... "
                "(12 in all)") in error
        assert error.endswith("map it anyway with --no-mesh-check")
        assert not (tmp_path / "refused" / "report_pressure.json").exists()

        mapped = kelm_map(*common, "--no-mesh-check", "--out", tmp_path / "mapped")
        assert mapped.returncode == 0, mapped.stderr
        assert mapped.stdout.startswith(f"Warning: {mesh}: inverted or collapsed elements")
        assert "mapped anyway (--no-mesh-check)" in mapped.stdout
        report = json.loads((tmp_path / "mapped" / "report_pressure.json").read_text())
        assert report["bodies"][0]["faces_loaded"] > 0


class TestWedgesFromMeshFiles:
    # One prism as gmsh and Abaqus list it: its first triangle turning into the element, the
    # other way from VTK's wedge. The loader turns it into VTK's order, so the check finds nothing.
    GMSH_PRISM = ("$MeshFormat\n2.2 0 8\n$EndMeshFormat\n$Nodes\n6\n1 0 0 0\n2 1 0 0\n3 0 1 0\n"
                  "4 0 0 1\n5 1 0 1\n6 0 1 1\n$EndNodes\n$Elements\n1\n1 6 2 1 1 1 2 3 4 5 6\n"
                  "$EndElements\n")

    def test_a_gmsh_prism_is_a_sound_wedge(self, tmp_path):
        path = tmp_path / "prism.msh"
        path.write_text(self.GMSH_PRISM)
        kelm.reset()
        model = kelm.io.load_model(str(path))
        root = treewalk.create_vtk_dataset_from_kelm_entities([model])
        assert mesh_check.bad_elements(root) == {}
