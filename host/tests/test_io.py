import sys

import numpy as np
import pytest

import kelm
from kelm.io import from_vtk_order, to_vtk_order
from kelm.mesh import ElementTopology as T
from mesh_files import abaqus_three_cubes, gmsh41_three_cubes, three_cubes


class TestNodeOrder:
    @pytest.mark.parametrize("topology", [T.Hexa20, T.Penta15])
    def test_from_vtk_order_inverts_the_toolkit_reordering(self, topology):
        vtk_rows = np.arange(2 * kelm.mesh.NODES_PER_ELEMENT[topology]).reshape(2, -1)
        host_rows = from_vtk_order(topology, vtk_rows)
        assert not np.array_equal(host_rows, vtk_rows)
        np.testing.assert_array_equal(to_vtk_order(topology, host_rows), vtk_rows)

    def test_penta15_host_order(self):
        host = from_vtk_order(T.Penta15, [np.arange(15)])[0]
        # the toolkit's conversion takes host position p[k] into VTK position k
        p = [3, 4, 5, 0, 1, 2, 12, 13, 14, 6, 7, 8, 9, 10, 11]
        assert [host[i] for i in p] == list(range(15))

    def test_other_topologies_keep_their_order(self):
        rows = np.arange(8).reshape(1, 8)
        np.testing.assert_array_equal(from_vtk_order(T.Hexa8, rows), rows)


class TestLoader:
    meshio = pytest.importorskip("meshio")

    def write(self, tmp_path, cells, name="quadratic.vtu"):
        points = np.random.default_rng(1).random((40, 3))
        path = str(tmp_path / name)
        self.meshio.write(path, self.meshio.Mesh(points, cells))
        return path, points

    def write_vtu(self, tmp_path, cells):
        """Written by VTK itself, so the file holds VTK's node order by definition."""
        vtk = pytest.importorskip("vtkmodules.all")
        points = np.random.default_rng(2).random((40, 3))
        grid, vtk_points = vtk.vtkUnstructuredGrid(), vtk.vtkPoints()
        for xyz in points:
            vtk_points.InsertNextPoint(*xyz)
        grid.SetPoints(vtk_points)
        for cell_type, rows in cells:
            for row in rows:
                grid.InsertNextCell(cell_type, len(row), [int(i) for i in row])
        writer = vtk.vtkXMLUnstructuredGridWriter()
        writer.SetFileName(str(tmp_path / "quadratic.vtu"))
        writer.SetInputData(grid)
        assert writer.Write() == 1
        return str(tmp_path / "quadratic.vtu"), points

    def test_quadratic_blocks_round_trip(self, tmp_path):
        hexa = np.arange(20).reshape(1, 20)
        wedges = np.array([np.arange(20, 35), np.arange(25, 40)])
        # 25 and 26: VTK's quadratic hexahedron and quadratic wedge
        path, points = self.write_vtu(tmp_path, [(25, hexa), (26, wedges)])
        model = kelm.io.load_model(path)
        assert kelm.currentModel() is model
        body = model.parts[0].meshes[0]
        assert body.pathName == "Model/Part 1/quadratic"
        assert isinstance(body, kelm.mesh.HexMesh)
        assert list(body.elementIDs) == [T.Hexa20, T.Penta15]
        assert np.asarray(body.elementIDs[T.Penta15]).tolist() == [2, 3]
        np.testing.assert_array_equal(
            to_vtk_order(T.Hexa20, body.elementConnectivities[T.Hexa20]), hexa)
        np.testing.assert_array_equal(
            to_vtk_order(T.Penta15, body.elementConnectivities[T.Penta15]), wedges)
        np.testing.assert_allclose(body.nodeCoordinates, points)
        assert np.asarray(body.nodeIDs).tolist() == list(range(1, 41))

    def test_file_length_unit_is_converted_to_metres(self, tmp_path):
        path, points = self.write(tmp_path, [("tetra10", np.arange(10).reshape(1, 10))])
        body = kelm.io.load_model(path, length_unit="mm").parts[0].meshes[0]
        assert isinstance(body, kelm.mesh.SolidMesh)
        np.testing.assert_allclose(body.nodeCoordinates, points / 1000)
        kelm.setScriptUnitSystem("mm-t-s-N-K")
        np.testing.assert_allclose(body.nodeCoordinates, points)

    def test_lower_dimensional_cells_are_dropped_unless_asked(self, tmp_path):
        cells = [("vertex", [[0]]), ("line", [[0, 1]]), ("triangle", [[0, 1, 2], [1, 2, 3]]),
                 ("quad", [[4, 5, 6, 7]])]
        path, _ = self.write(tmp_path, cells)
        body = kelm.io.load_model(path).parts[0].meshes[0]
        assert isinstance(body, kelm.mesh.SurfaceMesh)
        assert list(body.elementIDs) == [T.Tria3, T.Quad4]
        everything = kelm.io.load_model(path, model_name="All", all_cells=True)
        assert list(everything.parts[0].meshes[0].elementIDs) == [T.Bar2, T.Tria3, T.Quad4]

    def test_unsupported_cell_type_is_named(self, tmp_path):
        path, _ = self.write(tmp_path, [("pyramid", [[0, 1, 2, 3, 4]])])
        with pytest.raises(ValueError, match="'pyramid'"):
            kelm.io.load_model(path)
        # Below the kept cells' dimension an unsupported block (a quadratic mesh's edges, as
        # gmsh writes them without physical groups) is dropped like any lower-dimensional block.
        path, _ = self.write(tmp_path, [("line3", [[0, 1, 2]]), ("tetra10", [list(range(10))])])
        assert list(kelm.io.load_model(path).parts[0].meshes[0].elementIDs) == [T.Tetra10]
        with pytest.raises(ValueError, match="'line3'"):
            kelm.io.load_model(path, all_cells=True)

    def test_gmsh_file(self, tmp_path):
        path = str(tmp_path / "box.msh")
        points = np.array([(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0),
                           (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1)], float)
        self.meshio.write(path, self.meshio.Mesh(points, [("hexahedron", [list(range(8))])]),
                          file_format="gmsh22", binary=False)
        body = kelm.io.load_model(path).parts[0].meshes[0]
        assert np.asarray(body.elementConnectivities[T.Hexa8]).tolist() == [list(range(8))]


def bodies_of(path, **options):
    return {body.name: (np.asarray(body.nodeIDs).tolist(),
                        np.asarray(body.elementIDs[T.Hexa8]).tolist())
            for body in kelm.io.load_model(path, **options).parts[0].meshes}


class TestGroupsAsBodies:
    meshio = pytest.importorskip("meshio")

    def test_physical_volumes_become_bodies_and_the_boundary_group_does_not(self, tmp_path):
        path = gmsh41_three_cubes(tmp_path / "row.msh")
        # IDs are the whole file's: the face the bodies share has the same node IDs in both.
        assert bodies_of(path) == {"left": (list(range(1, 9)), [1]),
                                   "right": (list(range(5, 17)), [2, 3])}
        right = kelm.currentModel().parts[0].meshes[1]
        np.testing.assert_allclose(np.asarray(right.nodeCoordinates)[[0, -1]],
                                   [(1, 0, 0), (3, 0, 1)])
        assert bodies_of(path, groups=False) == {"row": (list(range(1, 17)), [1, 2, 3])}

    def test_an_element_in_several_sets_goes_to_the_smallest(self, tmp_path):
        path = abaqus_three_cubes(tmp_path / "frame.inp",
                                  {"ALL": [1, 2, 3], "BEAM": [2, 3], "POST": [1]})
        assert list(bodies_of(path)) == ["BEAM", "POST"]
        assert bodies_of(path)["BEAM"][1] == [2, 3]

    def test_elements_in_no_set_make_a_body_named_after_the_file(self, tmp_path):
        path = abaqus_three_cubes(tmp_path / "frame.inp", {"POST": [1]})
        assert bodies_of(path) == {"POST": (list(range(1, 9)), [1]),
                                   "frame": (list(range(5, 17)), [2, 3])}

    def test_nastran_property_ids_name_the_bodies(self, tmp_path):
        nodes, hexa = three_cubes()
        path = str(tmp_path / "frame.bdf")
        self.meshio.write(path, self.meshio.Mesh(np.array(nodes, float), [
            ("hexahedron", np.array(hexa) - 1)], cell_data={"nastran:ref": [[7, 3, 7]]}))
        assert {n: e for n, (_, e) in bodies_of(path).items()} == {"PID 3": [2], "PID 7": [1, 3]}


class TestWithoutMeshio:
    def test_loader_says_meshio_is_needed(self, monkeypatch, tmp_path):
        monkeypatch.setitem(sys.modules, "meshio", None)  # makes `import meshio` fail
        with pytest.raises(ImportError, match="python3-meshio"):
            kelm.io.load_model(str(tmp_path / "any.vtu"))
        assert kelm._state.models == []
